// Shared scaffolding of the model-container fuzz targets: a scratch folder for the files the
// parsers read and write, and a silent log sink (the parsers log every rejected input).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "module/common/log.h"

namespace krell::det::fuzz {

class ScratchDir {
public:
    ScratchDir() : dir_("/tmp/fuzz-container-" + std::to_string(getpid())) {
        mkdir(dir_.c_str(), 0700);
    }
    ~ScratchDir() {
        std::remove(path("input").c_str());
        std::remove(path("engine").c_str());
        std::remove(path("engine.part").c_str());
        rmdir(dir_.c_str());
    }
    std::string path(const char* name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

inline const ScratchDir& scratch() {
    static const ScratchDir dir;
    return dir;
}

//! Writes the fuzz input as the file the parser reads; returns its path.
inline std::string writeInput(const uint8_t* data, size_t size) {
    const std::string path = scratch().path("input");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

inline void silenceLog() {
    setLogSink([](uint8_t, const std::string&) {});
}

}  // namespace krell::det::fuzz
