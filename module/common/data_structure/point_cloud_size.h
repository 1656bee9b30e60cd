// Size arithmetic shared by the point-cloud classes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace krell::det {

//! Largest point count (a signed 32-bit attribute) and byte size (a buffer's 32-bit size).
constexpr int64_t kMaxPointNum = 0x7FFFFFFF;
constexpr int64_t kMaxByteSize = 0xFFFFFFFF;

//! factor x the product of values, in 64-bit arithmetic. A result above limit logs a level-1
//! line naming the cloud and yields 0, so that nothing is sized from a wrapped value.
int64_t pointCloudProduct(const std::string& cloud, const char* what,
                          std::initializer_list<uint32_t> values, int64_t factor, int64_t limit);

}  // namespace krell::det
