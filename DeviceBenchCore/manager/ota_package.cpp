#include "DeviceBenchCore/manager/ota_package.h"

#include <cstring>

namespace {

constexpr char kMagic[4] = {'O', 'T', 'P', 'K'};
constexpr size_t kTotalSizeOffset = 4;
constexpr size_t kFlagsOffset = 8;
constexpr size_t kComponentTableOffset = 12;
constexpr size_t kComponentEntryBytes = 8;

const char* const kNames[OtaPackage::kComponentCount] = {"BMB_APP_A", "BMB_APP_B", "BMB_FPGA",
                                                          "TMB_FPGA", "TMB_PARAM"};
const uint32_t kFrameTypes[OtaPackage::kComponentCount] = {2, 2, 1, 0, 3};

}  // namespace

OtaPackage::OtaPackage(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

bool OtaPackage::MagicOk() const {
    return LongEnough() && std::memcmp(bytes_.data(), kMagic, sizeof(kMagic)) == 0;
}

uint8_t OtaPackage::Flags() const {
    return LongEnough() ? bytes_[kFlagsOffset] : 0;
}

uint32_t OtaPackage::TotalSize() const {
    return LongEnough() ? U32At(kTotalSizeOffset) : 0;
}

uint32_t OtaPackage::U32At(size_t offset) const {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes_[offset + static_cast<size_t>(i)];
    return value;
}

bool OtaPackage::InRange(int index) const {
    const size_t entry = kComponentTableOffset + kComponentEntryBytes * static_cast<size_t>(index);
    // In 64 bits, so that an offset and size that wrap around 32 bits cannot pass as small.
    const uint64_t end = uint64_t{U32At(entry)} + uint64_t{U32At(entry + 4)};
    return end <= bytes_.size();
}

std::vector<std::string> OtaPackage::OutOfRange() const {
    std::vector<std::string> names;
    if (!LongEnough()) return names;
    for (int i = 0; i < kComponentCount; ++i) {
        if (Present(i) && !InRange(i)) names.push_back(kNames[i]);
    }
    return names;
}

std::vector<int> OtaPackage::SendOrder(bool partition_a) const {
    std::vector<int> order;
    const int app = partition_a ? kAppB : kAppA;
    for (int index : {app, static_cast<int>(kBmbFpga), static_cast<int>(kTmbFpga),
                      static_cast<int>(kTmbParam)}) {
        if (Present(index)) order.push_back(index);
    }
    return order;
}

std::vector<uint8_t> OtaPackage::Extract(int index) const {
    if (!LongEnough() || index < 0 || index >= kComponentCount || !InRange(index)) return {};
    const size_t entry = kComponentTableOffset + kComponentEntryBytes * static_cast<size_t>(index);
    size_t begin = U32At(entry);
    const size_t end = begin + U32At(entry + 4);
    if (index == kBmbFpga || index == kTmbFpga) begin += kFpgaHeaderBytes;
    if (begin >= end) return {};
    return std::vector<uint8_t>(bytes_.begin() + static_cast<std::ptrdiff_t>(begin),
                                bytes_.begin() + static_cast<std::ptrdiff_t>(end));
}

const char* OtaPackage::Name(int index) {
    return kNames[index];
}

uint32_t OtaPackage::FrameType(int index) {
    return kFrameTypes[index];
}
