#pragma once
// Reading a firmware image for the upgrade routes: the whole file, or a text that names the file
// and why it could not be read, for the log window.

#include <cstdint>
#include <string>
#include <vector>

namespace krell {
namespace lidar {

class FirmwareFile {
public:
    //! Reads the file at `path` into `image`. False, with `image` untouched and `error` naming the
    //! file and the system's reason, when it cannot be opened or read. Any thread.
    static bool Read(const std::string& path, std::vector<uint8_t>& image, std::string& error);
};

}  // namespace lidar
}  // namespace krell
