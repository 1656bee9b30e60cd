// NetworkParser: reads a network file (scrambled JSON header, scrambled network description,
// weights, tail) and writes the engine file that carries the engines built from it. Both
// container generations ("0.0.2"/"0.0.3" and "v0.0.4") are handled. One thread uses a parser.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "NvInferRuntime.h"
#include "module/engine/cpu_buffer.h"

namespace krell::det {

class ContainerFile;

class NetworkParser {
public:
    //! networkPath is read by parse(); enginePath is written by write().
    NetworkParser(std::string networkPath, std::string enginePath);

    //! Reads the network file. False, after one level-1 line, when it cannot be opened, is 2 GiB
    //! or larger, holds a length that runs past its end, or has an unknown version; the parser
    //! then holds no description, weights or tail. Malformed JSON and wrong JSON types raise the
    //! JSON library's exceptions (after a line naming the section) and change nothing.
    bool parse();

    //! Writes the engine file: header, engines in list order, then the tail. Engines are
    //! borrowed for the call. False, after a level-1 line, for an unknown version, a missing
    //! engine, fewer described networks than engines (0.0.2/0.0.3) or a file that could not be
    //! written; an existing engine file is then left as it was.
    bool write(const std::vector<nvinfer1::IHostMemory*>& engines) const;

    std::string getVersion() const { return version_; }
    //! The network description (JSON null before a successful parse).
    const nlohmann::json& getNetworkConfig() const { return description_; }
    //! First weight byte, valid while this parser lives; null when there are no weights.
    const uint8_t* getWeights() const;
    //! Number of weight bytes.
    uint32_t getWeightsSize() const;
    const nlohmann::json& getHeader() const { return header_; }
    //! Bytes after the weights (an empty buffer when the file ends there); null before parse.
    const std::shared_ptr<CPUBuffer>& getTail() const { return tail_; }

private:
    struct Body {
        nlohmann::json description;
        std::shared_ptr<CPUBuffer> weights;
        std::shared_ptr<CPUBuffer> tail;
    };

    //! Reads description, weights and tail into body; false (body untouched) after a line.
    static bool readBody(ContainerFile& file, const nlohmann::json& header, const char* group,
                         const char* structureKey, Body& body);
    bool buildHeaderV0_0_2(const std::vector<nvinfer1::IHostMemory*>& engines,
                           nlohmann::json& header) const;
    bool buildHeaderV0_0_4(const std::vector<nvinfer1::IHostMemory*>& engines,
                           nlohmann::json& header) const;
    bool writeFile(const std::string& headerText,
                   const std::vector<nvinfer1::IHostMemory*>& engines) const;

    std::string network_path_;
    std::string engine_path_;
    std::string version_;
    nlohmann::json header_;
    nlohmann::json description_;
    std::shared_ptr<CPUBuffer> weights_;
    std::shared_ptr<CPUBuffer> tail_;
};

}  // namespace krell::det
