// ContainerFile: bounded reading of one model container (network file or engine file). Every
// section is read only after its length has been checked against what is left of the file, so a
// truncated or forged length can neither read outside the file nor allocate more than it holds.
// Failures return false and leave a text naming the section, its length and its offset; the
// parsers put that text into their own log lines.
#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "module/engine/cpu_buffer.h"

namespace krell::det {

class ContainerFile {
public:
    //! Offsets and the file size are 32-bit in the container format: a container is at most
    //! 2 GiB - 1 bytes.
    static constexpr uint64_t kMaxContainerBytes = 0x7FFFFFFFU;

    //! Opens path for binary reading and takes its size. False when it cannot be opened (error()
    //! is then empty: the caller owns that message) or when it is 2 GiB or larger.
    bool open(const std::string& path);

    //! Reads the 4-byte little-endian length at the current offset.
    bool readLength(const char* what, uint32_t& value);
    //! Reads length bytes at the current offset into text.
    bool readText(const char* what, uint64_t length, std::string& text);
    //! Reads length bytes at the current offset into a new host buffer (an empty buffer for 0).
    bool readBuffer(const char* what, uint64_t length, std::shared_ptr<CPUBuffer>& buffer);

    uint64_t size() const { return size_; }
    uint64_t offset() const { return offset_; }
    uint64_t remaining() const { return size_ - offset_; }
    //! Why the last call failed.
    const std::string& error() const { return error_; }

private:
    bool fits(const char* what, uint64_t length);
    bool readAt(const char* what, void* destination, uint64_t length);

    std::ifstream stream_;
    uint64_t size_ = 0;
    uint64_t offset_ = 0;
    std::string error_;
};

//! A byte count stored in a container header. A non-number raises the JSON library's type error
//! ("type must be number, but is ..."); a floating value is truncated. False, with a text in
//! error, for a negative, non-finite or over-large value.
bool containerLength(const nlohmann::json& value, const char* what, uint64_t& length,
                     std::string& error);

//! stringDecrypt, then a JSON parse without comments. Malformed text raises the JSON library's
//! parse error.
nlohmann::json parseStoredJson(const std::string& stored);

//! parseStoredJson for one section; a parse error is logged under `tag` with the section's size
//! and offset, then passed on unchanged.
nlohmann::json parseContainerSection(const char* tag, const std::string& stored, const char* what,
                                     uint64_t offset);

//! Opens `path` and reads the JSON header that starts every container. False, after one log line
//! under `tag` ("Can not open <kind> in <path>" or the section error), when either fails.
bool openContainerHeader(ContainerFile& file, const std::string& path, const char* tag,
                         const char* kind, nlohmann::json& header);

//! The header's "vorx_version" (or the older "vorx_deploy_version"); empty, with found false,
//! when it has neither.
std::string containerVersion(const nlohmann::json& header, bool& found);

}  // namespace krell::det
