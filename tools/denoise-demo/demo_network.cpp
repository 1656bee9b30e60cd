#include "tools/denoise-demo/demo_network.h"

#include <array>
#include <filesystem>
#include <fstream>

#include "module/common/util.h"

namespace krell::demo {
namespace {

using nlohmann::json;

// The eight neighbours of a pixel as (row, column) offsets.
constexpr std::array<std::array<int32_t, 2>, 8> kNeighbours = {
    {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}}};
constexpr float kInputAmax = 127.0F;
// Every tensor holds whole steps of x, so a range of 127 makes INT8 tensors exact (one step per
// code); a distance difference beyond it saturates, which keeps its sign and so its meaning.
constexpr float kDiffAmax = 127.0F;
constexpr float kGateAmax = 1.0F;

struct Builder {
    bool v0_0_4 = false;
    json layers = json::array();
    std::vector<float> weights;

    void input(const std::string& name, const std::string& torch, int32_t channels) {
        layers.push_back({{"name", name},
                          {"type", "input_tensor"},
                          {"pre_nodes", json::array()},
                          {v0_0_4 ? "output_shape" : "shape", {1, channels, kRows, kCols}},
                          {"torch_name", torch},
                          {"amax", kInputAmax}});
    }
    void output(const std::string& name, const std::string& from, const std::string& torch) {
        layers.push_back({{"name", name},
                          {"type", "output_tensor"},
                          {"pre_nodes", {from}},
                          {"torch_name", torch}});
    }
    // Kernel laid out [out][in][kh][kw]; an empty bias means none.
    void conv(const std::string& name, const std::string& from, int32_t out, int32_t kernel,
              const std::vector<float>& kernelWeights, const std::vector<float>& bias, float amax,
              const char* activation = "relu") {
        weights.insert(weights.end(), kernelWeights.begin(), kernelWeights.end());
        weights.insert(weights.end(), bias.begin(), bias.end());
        layers.push_back({{"name", name},
                          {"type", "convolutional"},
                          {"pre_nodes", {from}},
                          {"weight_length", kernelWeights.size() * sizeof(float)},
                          {"bias", bias.empty() ? 0 : 1},
                          {"bias_length", bias.size() * sizeof(float)},
                          {"activation", activation},
                          {"amax", amax},
                          {"groups", 1},
                          {"out_channels", out},
                          {v0_0_4 ? "padding" : "pad", kernel / 2},
                          {"dilation", 1},
                          {"stride", {1, 1}},
                          {"kernel_size", {kernel, kernel}}});
    }
    void concat(const std::string& name, const std::vector<std::string>& from, float amax) {
        json layer = {{"name", name}, {"pre_nodes", from}, {"amax", amax}};
        layer["type"] = v0_0_4 ? "concat" : "route";
        if (!v0_0_4) {
            layer["op"] = "concat";
        }
        layers.push_back(layer);
    }
    void subtract(const std::string& name, const std::string& a, const std::string& b, float amax) {
        json layer = {{"name", name}, {"pre_nodes", {a, b}}, {"amax", amax}};
        layer["type"] = v0_0_4 ? "elememt_wise_sub" : "route";
        if (!v0_0_4) {
            layer["op"] = "sub";
        }
        layers.push_back(layer);
    }
};

// diff: channel 2k = x - x_k - T, channel 2k+1 = x_k - x - T (x is input plane 0).
void addSpatialBranch(Builder& b) {
    constexpr int32_t kTaps = 9;
    std::vector<float> kernel(16 * kInputPlanes * kTaps, 0.0F);
    for (size_t k = 0; k < kNeighbours.size(); ++k) {
        const int32_t tap = (1 + kNeighbours[k][0]) * 3 + (1 + kNeighbours[k][1]);
        float* plus = &kernel[(2 * k) * kInputPlanes * kTaps];
        float* minus = &kernel[(2 * k + 1) * kInputPlanes * kTaps];
        plus[4] = 1.0F;
        plus[tap] = -1.0F;
        minus[4] = -1.0F;
        minus[tap] = 1.0F;
    }
    b.conv("diff", "input", 16, 3, kernel, std::vector<float>(16, -kSpatialThresholdSteps),
           kDiffAmax);
    // agree_k = relu(1 - |d_k| excess): 1 when neighbour k is within the threshold.
    std::vector<float> agree(8 * 16, 0.0F);
    for (int32_t k = 0; k < 8; ++k) {
        agree[k * 16 + 2 * k] = -1.0F;
        agree[k * 16 + 2 * k + 1] = -1.0F;
    }
    b.conv("agree", "diff", 8, 1, agree, std::vector<float>(8, 1.0F), kGateAmax);
    // isolated = relu(1 - sum agree_k): 1 only when no neighbour agrees.
    b.conv("isolated", "agree", 1, 1, std::vector<float>(8, -1.0F), {1.0F}, kGateAmax);
}

void addTemporalBranch(Builder& b) {
    b.concat("with_state", {"input", "hidden"}, kInputAmax);
    // change: x - h - T and h - x - T (h is channel 4 of the concatenation).
    std::vector<float> change(2 * 5, 0.0F);
    change[0] = 1.0F;
    change[4] = -1.0F;
    change[5] = -1.0F;
    change[9] = 1.0F;
    b.conv("change", "with_state", 2, 1, change, std::vector<float>(2, -kTemporalThresholdSteps),
           kDiffAmax);
    // persist = 1 when the pixel held the same distance in the previous frame.
    b.conv("persist", "change", 1, 1, {-1.0F, -1.0F}, {1.0F}, kGateAmax);
}

}  // namespace

DemoNetwork makeDemoNetwork(const std::string& version) {
    Builder b;
    b.v0_0_4 = version == "v0.0.4";
    b.input("input", "rimg_input_features", kInputPlanes);
    b.input("hidden", "hidden_features", 1);
    addSpatialBranch(b);
    addTemporalBranch(b);
    b.subtract("gate", "isolated", "persist", kGateAmax);
    b.conv("score", "gate", 1, 1, {kNoiseScore}, {0.0F}, kInputAmax);
    b.output("pred", "score", "noise_rimg_preds");
    b.conv("state", "input", 1, 1, {1.0F, 0.0F, 0.0F, 0.0F}, {}, kInputAmax, "");
    b.output("state_out", "state", "hidden_update");
    DemoNetwork network;
    network.description = json::array({{{"name", "rimg"}, {"layers", b.layers}}});
    network.weights = std::move(b.weights);
    return network;
}

bool writeNetworkFile(const std::string& path, const std::string& version) {
    return writeNetworkFile(path, version, makeDemoNetwork(version),
                            {"noise_rimg_preds", "hidden_update"});
}

bool writeNetworkFile(const std::string& path, const std::string& version,
                      const DemoNetwork& network, const std::vector<std::string>& outputs) {
    const std::string description = network.description.dump();
    const size_t weightBytes = network.weights.size() * sizeof(float);
    json scales = json::object();
    for (const std::string& output : outputs) {
        scales[output] = 1.0;
    }
    json header = {{"vorx_version", version}};
    std::string tail;
    if (version == "v0.0.4") {
        header["tensorRT_net"] = {{"structure_length", description.size()},
                                  {"weight_length", weightBytes}};
        json engines = json::array();
        for (const json& net : network.description) {
            engines.push_back({{"name", net.at("name")}, {"output_scale", scales}});
        }
        header["engine"] = engines;
    } else {
        tail = scales.dump();
        header["trt_model"] = {{"config_length", description.size()},
                               {"weight_length", weightBytes},
                               {"scale_length", tail.size()}};
    }
    const std::string headerText = header.dump();
    const uint32_t headerLength = static_cast<uint32_t>(headerText.size());
    const uint8_t lengthBytes[4] = {
        static_cast<uint8_t>(headerLength), static_cast<uint8_t>(headerLength >> 8),
        static_cast<uint8_t>(headerLength >> 16), static_cast<uint8_t>(headerLength >> 24)};
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(lengthBytes), sizeof(lengthBytes));
    out << det::stringEncrypt(headerText) << det::stringEncrypt(description);
    out.write(reinterpret_cast<const char*>(network.weights.data()),
              static_cast<std::streamsize>(weightBytes));
    out << det::stringEncrypt(tail);
    out.close();
    return static_cast<bool>(out);
}

nlohmann::json makeConfig(const std::string& netPath, const std::string& enginePath) {
    json outputs = json::array(
        {{{"TENSOR", {{"name", "noise_rimg_preds"}}}}, {{"TENSOR", {{"name", "hidden_update"}}}}});
    return {{"batch_size", 1},
            {"runner", "QuantedRimgRunner"},
            {"net_path", netPath},
            {"engine_path", enginePath},
            {"data_type", "int8"},
            {"input", json::array({{{"name", "point_cloud"},
                                    {"type", "QuantedPointCloud"},
                                    {"batch_size", 1},
                                    {"rimg_h", kRows},
                                    {"rimg_w", kCols},
                                    {"channel", kInputPlanes}}})},
            {"engine",
             {{"rimg",
               {{"type", "NvGPUEngine"},
                {"batch_size", 1},
                {"data_type", "int8"},
                {"output_tensors", outputs}}}}}};
}

bool writeModelFolder(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir + "/config", error);
    std::filesystem::create_directories(dir + "/model", error);
    if (!writeNetworkFile(dir + "/model/demo.net", "v0.0.4")) return false;
    std::ofstream config(dir + "/config/test.json");
    config << makeConfig("model/demo.net", "model/demo.engine").dump();
    config.close();
    return static_cast<bool>(config);
}

}  // namespace krell::demo
