// Builders of model-container bytes for the tests: the layout is spelled out here on its own,
// so that reader and writer are checked against it rather than against each other.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "NvInferRuntime.h"
#include "module/common/util.h"

namespace krell::det::test {

inline std::string lengthBytes(uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) {
        out[static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFFU);
    }
    return out;
}

//! 4-byte length, scrambled header, then the raw sections.
inline std::string containerBytes(const std::string& headerJson,
                                  const std::vector<std::string>& sections) {
    std::string out = lengthBytes(static_cast<uint32_t>(headerJson.size()));
    out += stringEncrypt(headerJson);
    for (const auto& section : sections) {
        out += section;
    }
    return out;
}

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

//! A scratch folder removed with everything in it.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/det-container-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

//! A serialised engine as the builder hands it out: bytes owned by a host-memory object.
class HostBlob : public nvinfer1::IHostMemory {
public:
    explicit HostBlob(std::string bytes) : bytes_(std::move(bytes)) {}
    void* data() const noexcept override { return const_cast<char*>(bytes_.data()); }
    std::size_t size() const noexcept override { return bytes_.size(); }
    nvinfer1::DataType type() const noexcept override { return nvinfer1::DataType::kUINT8; }

private:
    std::string bytes_;
};

}  // namespace krell::det::test
