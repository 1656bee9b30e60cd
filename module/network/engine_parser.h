// EngineParser: reads an engine file (scrambled JSON header, the serialised engines back to back,
// then the network file's tail) into engine blobs by network name and the quantisation scales.
// Both container generations are handled. One thread uses a parser.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "module/engine/cpu_buffer.h"

namespace krell::det {

class ContainerFile;

class EngineParser {
public:
    using EngineMap = std::unordered_map<std::string, std::shared_ptr<CPUBuffer>>;
    using ScaleMap = std::unordered_map<std::string, float>;

    explicit EngineParser(std::string enginePath);

    //! Reads the engine file. False, after one level-1 line, when it cannot be opened, is 2 GiB
    //! or larger, holds a length that runs past its end, or has an unknown version; the parser
    //! then holds no engines and no scales. Malformed JSON and wrong JSON types raise the JSON
    //! library's exceptions (after a line naming the section) and change nothing.
    bool parse();

    //! The blob of the engine built from network name. A missing name logs and then throws
    //! std::out_of_range. The reference lives as long as this parser.
    const std::shared_ptr<CPUBuffer>& getEngine(const std::string& name) const;
    //! Every engine blob by network name.
    const EngineMap& getEngines() const { return engines_; }
    //! A copy of the scales (tensor name -> scale).
    ScaleMap getScales() const { return scales_; }
    std::string getVersion() const { return version_; }
    const nlohmann::json& getHeader() const { return header_; }

private:
    struct Body {
        EngineMap engines;
        ScaleMap scales;
    };

    static bool readEngine(ContainerFile& file, const nlohmann::json& entry, size_t index,
                           Body& body);
    static bool readBodyV0_0_2(ContainerFile& file, const nlohmann::json& header, Body& body);
    static bool readBodyV0_0_4(ContainerFile& file, const nlohmann::json& header, Body& body);

    std::string engine_path_;
    std::string version_;
    nlohmann::json header_;
    ScaleMap scales_;
    EngineMap engines_;
};

}  // namespace krell::det
