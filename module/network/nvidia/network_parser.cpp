#include "module/network/nvidia/network_parser.h"

#include <cstdio>
#include <fstream>
#include <utility>

#include "module/common/log.h"
#include "module/common/util.h"
#include "module/network/container_file.h"

namespace krell::det {

namespace {

constexpr const char* kTag = "[INIT][NetworkParser] ";

bool isV0_0_2(const std::string& version) {
    return version == "0.0.2" || version == "0.0.3";
}

//! "engines" members with no entry are stored as null.
nlohmann::json entriesOrNull(nlohmann::json entries) {
    return entries.empty() ? nlohmann::json(nullptr) : std::move(entries);
}

}  // namespace

NetworkParser::NetworkParser(std::string networkPath, std::string enginePath)
    : network_path_(std::move(networkPath)), engine_path_(std::move(enginePath)) {}

const uint8_t* NetworkParser::getWeights() const {
    return weights_ == nullptr ? nullptr : static_cast<const uint8_t*>(weights_->data());
}

uint32_t NetworkParser::getWeightsSize() const {
    return weights_ == nullptr ? 0 : weights_->size();
}

bool NetworkParser::parse() {
    ContainerFile file;
    nlohmann::json header;
    if (!openContainerHeader(file, network_path_, kTag, "network file", header)) {
        return false;
    }
    bool found = false;
    std::string version = containerVersion(header, found);
    if (!found) {
        DET_LOG(kLogError) << kTag << "The header is missing a field about vorx version"
                           << kLogReset;
    }
    DET_LOG(kLogInfo) << kTag << "Vorx deploy version is " << version << kLogReset;

    Body body;
    bool ok = false;
    if (version == "v0.0.4") {
        ok = readBody(file, header, "tensorRT_net", "structure_length", body);
    } else if (isV0_0_2(version)) {
        ok = readBody(file, header, "trt_model", "config_length", body);
    } else {
        DET_LOG(kLogError) << kTag << "Unknown vorx deploy version of " << version << kLogReset;
    }
    header_ = std::move(header);
    version_ = std::move(version);
    description_ = std::move(body.description);
    weights_ = std::move(body.weights);
    tail_ = std::move(body.tail);
    return ok;
}

bool NetworkParser::readBody(ContainerFile& file, const nlohmann::json& header, const char* group,
                             const char* structureKey, Body& body) {
    const nlohmann::json& lengths = header.at(group);
    uint64_t structureLength = 0;
    uint64_t weightLength = 0;
    std::string error;
    if (!containerLength(lengths.at(structureKey), structureKey, structureLength, error) ||
        !containerLength(lengths.at("weight_length"), "weight_length", weightLength, error)) {
        DET_LOG(kLogError) << kTag << error << kLogReset;
        return false;
    }
    const uint64_t descriptionOffset = file.offset();
    std::string stored;
    Body fresh;
    if (!file.readText("network description", structureLength, stored) ||
        !file.readBuffer("weights", weightLength, fresh.weights) ||
        !file.readBuffer("tail", file.remaining(), fresh.tail)) {
        DET_LOG(kLogError) << kTag << file.error() << kLogReset;
        return false;
    }
    fresh.description =
        parseContainerSection(kTag, stored, "network description", descriptionOffset);
    body = std::move(fresh);
    return true;
}

bool NetworkParser::write(const std::vector<nvinfer1::IHostMemory*>& engines) const {
    for (size_t i = 0; i < engines.size(); ++i) {
        if (engines[i] == nullptr) {
            DET_LOG(kLogError) << kTag << "engine " << i
                               << " was not built; the engine file is not written" << kLogReset;
            return false;
        }
    }
    nlohmann::json header;
    bool built = false;
    if (version_ == "v0.0.4") {
        built = buildHeaderV0_0_4(engines, header);
    } else if (isV0_0_2(version_)) {
        built = buildHeaderV0_0_2(engines, header);
    } else {
        DET_LOG(kLogError) << kTag << "Unknown vorx deploy version of " << version_ << kLogReset;
    }
    // ensure_ascii: the substitution only carries 7-bit text; other characters become \u escapes.
    return built && writeFile(header.dump(-1, ' ', true), engines);
}

bool NetworkParser::buildHeaderV0_0_2(const std::vector<nvinfer1::IHostMemory*>& engines,
                                      nlohmann::json& header) const {
    if (!description_.is_array() || description_.size() < engines.size()) {
        DET_LOG(kLogError) << kTag << "the network description holds "
                           << (description_.is_array() ? description_.size() : 0)
                           << " networks for " << engines.size()
                           << " engines; the engine file is not written" << kLogReset;
        return false;
    }
    const nlohmann::json& model = header_.at("trt_model");
    if (!model.contains("scale_length")) {
        DET_LOG(kLogError) << kTag << "trt_model of the header has no scale_length; the engine "
                           << "file is not written" << kLogReset;
        return false;
    }
    nlohmann::json trtEngines = nlohmann::json::array();
    for (size_t i = 0; i < engines.size(); ++i) {
        trtEngines.push_back({{"name", description_[i].at("name").get<std::string>()},
                              {"length", engines[i]->size()}});
    }
    nlohmann::json spconvEngines = nlohmann::json::array();
    if (header_.contains("spconv_net_byte_length")) {
        // nlohmann::json keeps object members in ascending key order.
        for (const auto& [name, length] : header_.at("spconv_net_byte_length").items()) {
            spconvEngines.push_back({{"name", name}, {"length", length}});
        }
    }
    header = {{"vorx_version", version_},
              {"trt_model",
               {{"scale_length", model.at("scale_length")},
                {"engines", entriesOrNull(std::move(trtEngines))}}},
              {"spconv_model", {{"engines", entriesOrNull(std::move(spconvEngines))}}}};
    return true;
}

bool NetworkParser::buildHeaderV0_0_4(const std::vector<nvinfer1::IHostMemory*>& engines,
                                      nlohmann::json& header) const {
    header = header_;
    header["tensorRT_net"] = nlohmann::json::object();
    nlohmann::json& entries = header["engine"];
    if (entries.is_null()) {
        entries = nlohmann::json::array();
    }
    if (!entries.is_array()) {
        DET_LOG(kLogError) << kTag << "engine of the header is not an array; the engine file is "
                           << "not written" << kLogReset;
        return false;
    }
    for (size_t i = 0; i < engines.size(); ++i) {
        if (i == entries.size()) {
            entries.push_back(nlohmann::json::object());
        }
        if (!entries[i].is_object()) {
            DET_LOG(kLogError) << kTag << "engine[" << i << "] of the header is not an object; "
                               << "the engine file is not written" << kLogReset;
            return false;
        }
        entries[i]["length"] = engines[i]->size();
    }
    return true;
}

bool NetworkParser::writeFile(const std::string& headerText,
                              const std::vector<nvinfer1::IHostMemory*>& engines) const {
    uint64_t total = 4 + headerText.size() + (tail_ == nullptr ? 0 : tail_->size());
    for (const auto* engine : engines) {
        total += engine->size();
    }
    if (total > ContainerFile::kMaxContainerBytes) {
        DET_LOG(kLogError) << kTag << "the engine file would hold " << total
                           << " bytes; containers of 2 GiB or more are not supported" << kLogReset;
        return false;
    }
    // Written beside the target and renamed into place, so that a failed write never leaves a
    // truncated engine file that the next start would take for a built one.
    const std::string partial = engine_path_ + ".part";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    const auto length = static_cast<uint32_t>(headerText.size());
    const char lengthBytes[4] = {
        static_cast<char>(length & 0xFFU), static_cast<char>((length >> 8) & 0xFFU),
        static_cast<char>((length >> 16) & 0xFFU), static_cast<char>((length >> 24) & 0xFFU)};
    out.write(lengthBytes, sizeof(lengthBytes));
    out << stringEncrypt(headerText);
    for (const auto* engine : engines) {
        out.write(static_cast<const char*>(engine->data()),
                  static_cast<std::streamsize>(engine->size()));
    }
    if (tail_ != nullptr && tail_->size() > 0) {
        out.write(static_cast<const char*>(tail_->data()), tail_->size());
    }
    out.close();
    if (!out || std::rename(partial.c_str(), engine_path_.c_str()) != 0) {
        std::remove(partial.c_str());
        DET_LOG(kLogError) << kTag << "Can not write engine file in " << engine_path_ << kLogReset;
        return false;
    }
    return true;
}

}  // namespace krell::det
