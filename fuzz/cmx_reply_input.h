#pragma once
// The input layout shared by the CMX reply fuzzers, so that one seed corpus serves both:
// byte 0 selects the version (bit 0), the header in the output (bit 1) and the command
// (bits 2-7); bytes 1-3 are cut points that split the reply into pieces (separate reads);
// byte 4 the decode offset (high nibble) and length (low nibble); the rest is the reply stream.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "libkrell/CmxClient/cmx_client.h"
#include "libkrell/CmxClient/cmx_codes.h"

namespace cmx_fuzz {

constexpr size_t kControlBytes = 5;

struct ReplyInput {
    bool version2 = false;
    bool include_header = false;
    uint8_t cmd = 0;
    uint8_t decode = 0;
    std::vector<std::vector<uint8_t>> pieces;
};

//! False when the input is too short to carry the control bytes.
inline bool ParseReplyInput(const uint8_t* data, size_t size, ReplyInput& input) {
    if (size < kControlBytes) return false;
    input.version2 = (data[0] & 1) != 0;
    input.include_header = (data[0] & 2) != 0;
    input.cmd = static_cast<uint8_t>(data[0] >> 2);
    input.decode = data[4];
    const std::vector<uint8_t> stream(data + kControlBytes, data + size);
    std::vector<size_t> cuts = {data[1] % (stream.size() + 1), data[2] % (stream.size() + 1),
                                data[3] % (stream.size() + 1)};
    std::sort(cuts.begin(), cuts.end());
    size_t from = 0;
    for (size_t cut : cuts) {
        if (cut > from) input.pieces.emplace_back(stream.begin() + from, stream.begin() + cut);
        from = std::max(from, cut);
    }
    if (from < stream.size()) input.pieces.emplace_back(stream.begin() + from, stream.end());
    return true;
}

//! One exchange on `client` and, when it succeeded, a stream decode of the reply. Aborts on a
//! result the client must never give.
inline void QueryAndDecode(krell::lidar::CmxClient& client, const ReplyInput& input) {
    std::vector<uint8_t> out = {0xAB};
    const int32_t result = client.QueryCommand({}, out, input.cmd, input.include_header);
    if (result != krell::lidar::kCmxOk && result != krell::lidar::kCmxFailed) std::abort();
    if (result == krell::lidar::kCmxOk) {
        std::vector<uint8_t> cut;
        client.CmxStreamDecode(input.cmd, input.decode, out, input.decode >> 4, input.decode & 0x0F,
                               cut);
    }
}

}  // namespace cmx_fuzz
