#include "libkrell/Frame/firmware_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace krell {
namespace lidar {
namespace {

constexpr size_t kChunkBytes = 64 * 1024;

}  // namespace

bool FirmwareFile::Read(const std::string& path, std::vector<uint8_t>& image, std::string& error) {
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    // A directory opens as a stream on Linux and fails only at the first read; istream::read
    // turns that failure into the bad bit, where a stream-buffer iterator would throw.
    std::vector<uint8_t> bytes;
    char chunk[kChunkBytes];
    while (file.read(chunk, sizeof(chunk)) || file.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + file.gcount());
    }
    if (!file.is_open() || file.bad()) {
        const int reason = errno;
        error = "cannot open firmware file \"" + path + "\"" +
                (reason != 0 ? std::string(": ") + std::strerror(reason) : std::string());
        return false;
    }
    image = std::move(bytes);
    return true;
}

}  // namespace lidar
}  // namespace krell
