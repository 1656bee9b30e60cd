#include "module/network/container_file.h"

#include <cmath>
#include <limits>
#include <sstream>

#include "module/common/log.h"
#include "module/common/util.h"

namespace krell::det {

bool ContainerFile::open(const std::string& path) {
    error_.clear();
    stream_.open(path, std::ios::binary);
    if (!stream_.is_open()) {
        return false;
    }
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.tellg();
    stream_.seekg(0, std::ios::beg);
    if (end < 0 || !stream_) {
        error_ = "can not take the size of " + path;
        return false;
    }
    size_ = static_cast<uint64_t>(end);
    offset_ = 0;
    if (size_ > kMaxContainerBytes) {
        error_ = path + " holds " + std::to_string(size_) +
                 " bytes; containers of 2 GiB or more are not supported";
        return false;
    }
    return true;
}

bool ContainerFile::fits(const char* what, uint64_t length) {
    if (length <= remaining()) {
        return true;
    }
    std::ostringstream text;
    text << what << " of " << length << " bytes at offset " << offset_
         << " runs past the end of the file (" << size_ << " bytes)";
    error_ = text.str();
    return false;
}

bool ContainerFile::readAt(const char* what, void* destination, uint64_t length) {
    if (length == 0) {
        return true;
    }
    stream_.seekg(static_cast<std::streamoff>(offset_), std::ios::beg);
    stream_.read(static_cast<char*>(destination), static_cast<std::streamsize>(length));
    const auto got = static_cast<uint64_t>(stream_.gcount());
    if (got != length) {
        std::ostringstream text;
        text << what << " of " << length << " bytes at offset " << offset_ << ": only " << got
             << " bytes could be read";
        error_ = text.str();
        stream_.clear();
        return false;
    }
    offset_ += length;
    return true;
}

bool ContainerFile::readLength(const char* what, uint32_t& value) {
    uint8_t bytes[4] = {};
    if (!fits(what, sizeof(bytes)) || !readAt(what, bytes, sizeof(bytes))) {
        return false;
    }
    value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
            (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

bool ContainerFile::readText(const char* what, uint64_t length, std::string& text) {
    if (!fits(what, length)) {
        return false;
    }
    text.assign(static_cast<size_t>(length), '\0');
    return readAt(what, text.data(), length);
}

bool ContainerFile::readBuffer(const char* what, uint64_t length,
                               std::shared_ptr<CPUBuffer>& buffer) {
    if (!fits(what, length)) {
        return false;
    }
    // An empty section gets an empty buffer: a zero-sized allocation would be reported as an
    // error by the buffer itself.
    auto fresh = length == 0 ? std::make_shared<CPUBuffer>()
                             : std::make_shared<CPUBuffer>(static_cast<uint32_t>(length));
    if (!readAt(what, fresh->data(), length)) {
        return false;
    }
    buffer = std::move(fresh);
    return true;
}

bool containerLength(const nlohmann::json& value, const char* what, uint64_t& length,
                     std::string& error) {
    if (value.is_number_unsigned()) {
        length = value.get<uint64_t>();
    } else if (value.is_number_integer()) {
        const auto signedValue = value.get<int64_t>();
        if (signedValue < 0) {
            error = std::string(what) + " is negative (" + std::to_string(signedValue) + ")";
            return false;
        }
        length = static_cast<uint64_t>(signedValue);
    } else {
        // Anything but a float raises the library's own "type must be number" error here.
        const auto floating = value.get<double>();
        if (!std::isfinite(floating) || floating < 0.0 ||
            floating >= static_cast<double>(std::numeric_limits<uint32_t>::max()) + 1.0) {
            error = std::string(what) + " is not a byte count (" + value.dump() + ")";
            return false;
        }
        length = static_cast<uint64_t>(floating);
    }
    if (length > ContainerFile::kMaxContainerBytes) {
        error = std::string(what) + " of " + std::to_string(length) +
                " bytes exceeds the 2 GiB container limit";
        return false;
    }
    return true;
}

nlohmann::json parseStoredJson(const std::string& stored) {
    return nlohmann::json::parse(stringDecrypt(stored), nullptr, true, false);
}

nlohmann::json parseContainerSection(const char* tag, const std::string& stored, const char* what,
                                     uint64_t offset) {
    try {
        return parseStoredJson(stored);
    } catch (const nlohmann::json::exception& e) {
        DET_LOG(kLogError) << tag << what << " of " << stored.size() << " bytes at offset "
                           << offset << " is not valid JSON: " << e.what() << kLogReset;
        throw;
    }
}

bool openContainerHeader(ContainerFile& file, const std::string& path, const char* tag,
                         const char* kind, nlohmann::json& header) {
    if (!file.open(path)) {
        if (file.error().empty()) {
            DET_LOG(kLogError) << tag << "Can not open " << kind << " in " << path << kLogReset;
        } else {
            DET_LOG(kLogError) << tag << file.error() << kLogReset;
        }
        return false;
    }
    uint32_t headerLength = 0;
    std::string stored;
    if (!file.readLength("header length", headerLength) ||
        !file.readText("header", headerLength, stored)) {
        DET_LOG(kLogError) << tag << file.error() << kLogReset;
        return false;
    }
    header = parseContainerSection(tag, stored, "header", 4);
    return true;
}

std::string containerVersion(const nlohmann::json& header, bool& found) {
    found = true;
    if (header.is_object() && header.contains("vorx_version")) {
        return header.at("vorx_version").get<std::string>();
    }
    if (header.is_object() && header.contains("vorx_deploy_version")) {
        return header.at("vorx_deploy_version").get<std::string>();
    }
    found = false;
    return {};
}

}  // namespace krell::det
