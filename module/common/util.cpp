#include "module/common/util.h"

#include "module/common/log.h"

namespace krell::det {

namespace {

// Container format of the stored JSON texts (fixed for good: every model file depends on it).
// The 7-bit codes form four blocks of 32; each block moves to another block as a whole:
//   0x00-0x1F -> 0x40-0x5F  in order     (c + 0x40)
//   0x20-0x3F -> 0x60-0x7F  reversed     (0x9F - c)
//   0x40-0x5F -> 0x20-0x3F  reversed     (0x7F - c)
//   0x60-0x7F -> 0x00-0x1F  in order     (c - 0x60)
unsigned char scramble(unsigned char c) {
    switch (c >> 5) {
        case 0:
            return static_cast<unsigned char>(c + 0x40);
        case 1:
            return static_cast<unsigned char>(0x9F - c);
        case 2:
            return static_cast<unsigned char>(0x7F - c);
        default:
            return static_cast<unsigned char>(c - 0x60);
    }
}

unsigned char unscramble(unsigned char c) {
    switch (c >> 5) {
        case 2:
            return static_cast<unsigned char>(c - 0x40);
        case 3:
            return static_cast<unsigned char>(0x9F - c);
        case 1:
            return static_cast<unsigned char>(0x7F - c);
        default:
            return static_cast<unsigned char>(c + 0x60);
    }
}

}  // namespace

int32_t getTypeSize(const std::string& name) {
    if (name == "int8") {
        return 1;
    }
    if (name == "float16") {
        return 2;
    }
    if (name == "float32" || name == "int32") {
        return 4;
    }
    DET_LOG(kLogError) << "[INIT][getTypeSize] Unkonw type: " << name << kLogReset;
    return 0;
}

std::string stringEncrypt(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            DET_LOG(kLogError) << "[INIT][stringEncrypt] Unkonw string: " << c << kLogReset;
            break;
        }
        result.push_back(static_cast<char>(scramble(byte)));
    }
    return result;
}

std::string stringDecrypt(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            DET_LOG(kLogError) << "[INIT][stringDecrypt] Unkonw string: " << c << kLogReset;
            break;
        }
        result.push_back(static_cast<char>(unscramble(byte)));
    }
    return result;
}

}  // namespace krell::det
