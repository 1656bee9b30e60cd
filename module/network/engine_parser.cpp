#include "module/network/engine_parser.h"

#include <limits>
#include <stdexcept>
#include <utility>

#include "module/common/log.h"
#include "module/network/container_file.h"

namespace krell::det {

namespace {

constexpr const char* kTag = "[INIT][EngineParser] ";

//! The entries of an "engines"/"engine" member: null counts as none.
bool entriesOf(const nlohmann::json& member, const char* what, const nlohmann::json*& entries) {
    static const nlohmann::json kNone = nlohmann::json::array();
    if (member.is_null()) {
        entries = &kNone;
        return true;
    }
    if (!member.is_array()) {
        DET_LOG(kLogError) << kTag << what << " of the header is neither an array nor null"
                           << kLogReset;
        return false;
    }
    entries = &member;
    return true;
}

//! A stored scale as a 32-bit float; magnitudes beyond float's range become infinities instead
//! of an undefined conversion.
float scaleOf(const nlohmann::json& value) {
    const auto wide = value.get<double>();
    if (wide > std::numeric_limits<float>::max()) {
        return std::numeric_limits<float>::infinity();
    }
    if (wide < -std::numeric_limits<float>::max()) {
        return -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(wide);
}

}  // namespace

EngineParser::EngineParser(std::string enginePath) : engine_path_(std::move(enginePath)) {}

bool EngineParser::parse() {
    ContainerFile file;
    nlohmann::json header;
    if (!openContainerHeader(file, engine_path_, kTag, "engine file", header)) {
        return false;
    }
    bool found = false;
    std::string version = containerVersion(header, found);
    DET_LOG(kLogInfo) << kTag << "Vorx deploy version is " << version << kLogReset;

    Body body;
    bool ok = false;
    if (version == "v0.0.4") {
        ok = readBodyV0_0_4(file, header, body);
    } else if (version == "0.0.2" || version == "0.0.3") {
        ok = readBodyV0_0_2(file, header, body);
    } else {
        DET_LOG(kLogError) << kTag << "Unknown vorx deploy version of " << version << kLogReset;
    }
    header_ = std::move(header);
    version_ = std::move(version);
    engines_ = std::move(body.engines);
    scales_ = std::move(body.scales);
    return ok;
}

bool EngineParser::readEngine(ContainerFile& file, const nlohmann::json& entry, size_t index,
                              Body& body) {
    uint64_t length = 0;
    std::string error;
    const std::string what = "length of engine " + std::to_string(index);
    const std::string name = entry.at("name").get<std::string>();
    if (!containerLength(entry.at("length"), what.c_str(), length, error)) {
        DET_LOG(kLogError) << kTag << error << kLogReset;
        return false;
    }
    std::shared_ptr<CPUBuffer> blob;
    const std::string section = "engine " + name;
    if (!file.readBuffer(section.c_str(), length, blob)) {
        DET_LOG(kLogError) << kTag << file.error() << kLogReset;
        return false;
    }
    body.engines.emplace(name, std::move(blob));  // a repeated name keeps its first blob
    return true;
}

bool EngineParser::readBodyV0_0_2(ContainerFile& file, const nlohmann::json& header, Body& body) {
    const nlohmann::json& model = header.at("trt_model");
    const nlohmann::json* entries = nullptr;
    if (!entriesOf(model.at("engines"), "trt_model.engines", entries)) {
        return false;
    }
    Body fresh;
    for (size_t i = 0; i < entries->size(); ++i) {
        if (!readEngine(file, (*entries)[i], i, fresh)) {
            return false;
        }
    }
    const nlohmann::json& scaleLength = model.at("scale_length");
    // A table shorter than one byte means there is none.
    if (!(scaleLength.is_number() && scaleLength.get<double>() < 1.0)) {
        uint64_t length = 0;
        std::string error;
        std::string stored;
        const uint64_t offset = file.offset();
        if (!containerLength(scaleLength, "scale_length", length, error)) {
            DET_LOG(kLogError) << kTag << error << kLogReset;
            return false;
        }
        if (!file.readText("scale table", length, stored)) {
            DET_LOG(kLogError) << kTag << file.error() << kLogReset;
            return false;
        }
        const nlohmann::json table = parseContainerSection(kTag, stored, "scale table", offset);
        if (!table.is_object()) {
            DET_LOG(kLogError) << kTag << "scale table at offset " << offset
                               << " is not a JSON object" << kLogReset;
            return false;
        }
        for (const auto& [name, value] : table.items()) {
            fresh.scales.emplace(name, scaleOf(value));
        }
    }
    body = std::move(fresh);
    return true;
}

bool EngineParser::readBodyV0_0_4(ContainerFile& file, const nlohmann::json& header, Body& body) {
    const nlohmann::json* entries = nullptr;
    if (!entriesOf(header.at("engine"), "engine", entries)) {
        return false;
    }
    Body fresh;
    for (size_t i = 0; i < entries->size(); ++i) {
        const nlohmann::json& entry = (*entries)[i];
        if (!readEngine(file, entry, i, fresh)) {
            return false;
        }
        const nlohmann::json& scales = entry.at("output_scale");
        if (!scales.is_object()) {
            DET_LOG(kLogError) << kTag << "output_scale of engine " << i << " is not an object"
                               << kLogReset;
            return false;
        }
        for (const auto& [name, value] : scales.items()) {
            fresh.scales.emplace(name, scaleOf(value));  // an earlier engine's value stays
        }
    }
    body = std::move(fresh);
    return true;
}

const std::shared_ptr<CPUBuffer>& EngineParser::getEngine(const std::string& name) const {
    const auto found = engines_.find(name);
    if (found == engines_.end()) {
        DET_LOG(kLogError) << kTag << "can not find engine with name " << name << kLogReset;
        throw std::out_of_range("invalid unordered_map<K, T> key");
    }
    return found->second;
}

}  // namespace krell::det
