#include "module/common/parameter.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {

// The denoise configuration: one quantized point-cloud input, one recurrent engine "rimg".
const char* const kDenoiseConfig = R"({
  "batch_size": 1,
  "runner": "QuantedRimgRunner",
  "net_path": "model/denoise.net",
  "engine_path": "model/denoise.engine",
  "data_type": "int8",
  "input": [
    { "name": "point_cloud", "type": "QuantedPointCloud", "batch_size": 0,
      "data_type": "int8", "rows": 64, "cols": 2560,
      "TENSOR": { "name": "rimg_input_features", "data_type": "int8", "batch_size": 1,
                  "channel": 4, "spatial_shape": [32, 1280] } }
  ],
  "processor": {
    "post": { "zeta": { "TENSOR": { "name": "rimg.noise_rimg_preds", "data_type": "int8" } },
              "alpha": { "threshold": 3 } },
    "ignored": 5
  },
  "engine": {
    "rimg": {
      "type": "NvGPUEngine",
      "batch_size": 1,
      "data_type": "int8",
      "registration": { },
      "inputs": [ { "TENSOR": { "name": "rimg_input_features", "data_type": "int8",
                                "batch_size": 1, "channel": 4, "spatial_shape": [32, 1280] } },
                  { "TENSOR": { "name": "hidden_features", "data_type": "int8", "spatial_shape": [1, 2, 3] } } ],
      "output_tensors": [
        { "TENSOR": { "name": "noise_rimg_preds", "data_type": "int8" } },
        { "TENSOR": { "name": "hidden_update", "data_type": "int8" } }
      ],
      "deep": { "a": [ { "b": { "TENSOR": { "name": "nested", "channel": 2, "spatial_shape": [3] } } } ] }
    }
  }
})";

ModelParameter loadConfig() {
    return ModelParameter(ParamJson::parse(kDenoiseConfig));
}

TensorParameter binding(int32_t channel, int32_t height, int32_t width, int32_t bytes) {
    TensorParameter t;
    t.batch_size = 1;
    t.channel = channel;
    t.spatial_shape = {height, width};
    t.data_type = "int8";
    t.byte_size = bytes;
    return t;
}

}  // namespace

TEST(TensorParameter, Sizes_FollowChannelSpatialShapeBatchAndType) {
    TensorParameter full(ParamJson::parse(
        R"({"name":"a","data_type":"int8","batch_size":1,"channel":4,"spatial_shape":[32,1280]})"));
    EXPECT_EQ(full.element_count, 163840);
    EXPECT_EQ(full.byte_size, 163840);
    TensorParameter half(ParamJson::parse(
        R"({"name":"h","data_type":"float16","channel":2,"spatial_shape":[3,5]})"));
    EXPECT_EQ(half.element_count, 30);
    EXPECT_EQ(half.byte_size, 60);
    TensorParameter no_channel(
        ParamJson::parse(R"({"name":"a","data_type":"int8","spatial_shape":[32,1280]})"));
    EXPECT_EQ(no_channel.element_count, 0);
    EXPECT_EQ(no_channel.byte_size, 0);
}

TEST(TensorParameter, MalformedDescriptions_RaiseTheJsonLibraryErrors) {
    try {
        TensorParameter bad(ParamJson::parse(R"({"name":"a","spatial_shape":5})"));
        FAIL() << "a number as spatial_shape was accepted";
    } catch (const nlohmann::json::type_error& e) {
        EXPECT_NE(std::string(e.what()).find("type must be array, but is number"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_THROW(TensorParameter(ParamJson::parse(R"({"channel":1})")),
                 nlohmann::json::out_of_range);
}

TEST(ModelParameter, DenoiseConfig_ReadsScalarsInputsProcessorsAndEngines) {
    const ModelParameter model = loadConfig();
    EXPECT_EQ(model.batchSize(), 1);
    EXPECT_EQ(model.runner(), "QuantedRimgRunner");
    EXPECT_EQ(model.netPath(), "model/denoise.net");
    EXPECT_EQ(model.enginePath(), "model/denoise.engine");
    EXPECT_EQ(model.dataType(), "int8");
    EXPECT_FLOAT_EQ(model.streamPriority(), 1.0F);

    const BaseParameter cloud = model.input("point_cloud");
    EXPECT_EQ(cloud.batchSize(), -1);  // "batch_size": 0 counts as absent
    EXPECT_EQ(cloud.get("type").get<std::string>(), "QuantedPointCloud");
    EXPECT_EQ(cloud.getTensor().byte_size, 163840);

    const EngineParameter rimg = model.engine("rimg");
    EXPECT_EQ(rimg.batchSize(), 1);
    EXPECT_EQ(rimg.get("type").get<std::string>(), "NvGPUEngine");
    EXPECT_EQ(rimg.tensors().size(), 5U);
    EXPECT_EQ(rimg.tensors().count("nested"), 1U);  // three levels down

    EXPECT_EQ(model.processors().size(), 1U);  // the scalar member is not a processor
    const ProcessParameter post = model.processor("post");
    EXPECT_EQ(post.operatorNames(), (std::vector<std::string>{"zeta", "alpha"}));  // file order
    EXPECT_EQ(post["zeta"].tensors().count("rimg.noise_rimg_preds"), 1U);
}

TEST(ModelParameter, OutputTensorsChildren_CarryTheParentsDescriptions) {
    const EngineParameter rimg = loadConfig().engine("rimg");
    const BaseParameter outputs = rimg["output_tensors"];
    EXPECT_EQ(outputs.name(), "rimg.output_tensors");
    EXPECT_EQ(outputs.tensors().size(), 2U);
    const BaseParameter second = outputs[1];
    EXPECT_EQ(second.name(), "rimg.output_tensors[1]");
    EXPECT_EQ(second.getTensor().name, "hidden_update");
}

TEST(ModelParameter, MissingEntries_LogTheirMessagesAndGiveEmptyValues) {
    const ModelParameter model = loadConfig();
    const EngineParameter rimg = model.engine("rimg");
    std::string out =
        captureStdout([&] { EXPECT_THROW(rimg.get("dla_id"), nlohmann::json::out_of_range); });
    EXPECT_EQ(messageOf(out),
              "[BaseParameter] Can not find item with name dla_id in rimg\x1b[0m\n");
    EXPECT_EQ(out.rfind("[parameter:", 0), 0U) << out;
    EXPECT_NE(out.find(" krell::det::BaseParameter::get] "), std::string::npos) << out;

    out = captureStdout([&] { EXPECT_EQ(rimg["nope"].name(), ""); });
    EXPECT_EQ(messageOf(out), "[BaseParameter] can not find item with name nope in rimg\x1b[0m\n");
    out = captureStdout([&] { rimg["output_tensors"][2]; });
    EXPECT_EQ(messageOf(out),
              "[BaseParameter] idx 2 exceeds total size 2 in rimg.output_tensors\x1b[0m\n");
    out = captureStdout([&] { EXPECT_EQ(rimg.getTensor().name, ""); });
    EXPECT_EQ(messageOf(out),
              "[BaseParameter] getTensor must used by BaseParameter with only one Tensor, now rimg "
              "has 5 tensors!"
              "\x1b[0m\n");
    out = captureStdout([&] { model.processor("post")["beta"]; });
    EXPECT_EQ(messageOf(out),
              "[ProcessParameter] can not find operator with name beta in post\x1b[0m\n");
    EXPECT_EQ(messageOf(captureStdout([&] { model.input("x"); })),
              "[ModelParameter] can not find input with name x\x1b[0m\n");
    EXPECT_EQ(messageOf(captureStdout([&] { model.engine("x"); })),
              "[ModelParameter] can not find engine with name x\x1b[0m\n");
    EXPECT_EQ(messageOf(captureStdout([&] { model.processor("x"); })),
              "[ModelParameter] can not find processor with name x\x1b[0m\n");
}

TEST(ModelParameter, MissingRequiredScalar_LogsAndLeavesItEmpty) {
    ParamJson root = ParamJson::parse(kDenoiseConfig);
    root.erase("runner");
    ModelParameter model;
    const std::string out = captureStdout([&] { model = ModelParameter(root); });
    EXPECT_EQ(messageOf(out), "[parseMustContain] can not find item with name runner\x1b[0m\n");
    EXPECT_EQ(model.runner(), "");
    EXPECT_EQ(model.netPath(), "model/denoise.net");

    root["runner"] = 5;
    EXPECT_THROW(ModelParameter{root}, nlohmann::json::type_error);
}

TEST(ModelParameter, ReviewShape_RewritesEngineAndOperatorDescriptionsOnly) {
    ModelParameter model = loadConfig();
    std::map<std::string, TensorParameter> shapes = {
        {"rimg_input_features", binding(4, 64, 2560, 655360)},
        {"noise_rimg_preds", binding(1, 64, 2560, 163840)},
        {"hidden_features", binding(8, 64, 2560, 1310720)},
    };
    const std::string out = captureStdout([&] { model.reviewShape("rimg", shapes); });
    // hidden_features is described with three spatial values: left alone, with one message.
    EXPECT_EQ(messageOf(out), "[ModelParameter] Only 2D Tensor is support\x1b[0m\n");

    const TensorMap& engine = model.engine("rimg").tensors();
    const TensorParameter& input = engine.at("rimg_input_features");
    EXPECT_EQ(input.spatial_shape, (std::vector<int32_t>{64, 2560}));
    EXPECT_EQ(input.element_count, 655360);
    EXPECT_EQ(input.byte_size, 655360);
    const TensorParameter& preds = engine.at("noise_rimg_preds");
    EXPECT_EQ(preds.channel, 1);
    EXPECT_EQ(preds.spatial_shape, (std::vector<int32_t>{64, 2560}));
    EXPECT_EQ(preds.byte_size, 163840);
    EXPECT_EQ(preds.batch_size, 0);  // batch size is never taken from the binding
    EXPECT_EQ(engine.at("hidden_features").spatial_shape, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(engine.at("hidden_features").channel, 8);

    const TensorParameter& op = model.processor("post")["zeta"].getTensor();
    EXPECT_EQ(op.spatial_shape, (std::vector<int32_t>{64, 2560}));
    EXPECT_EQ(op.byte_size, 163840);
    // Inputs keep what the file says, even for a tensor named like the binding.
    EXPECT_EQ(model.input("point_cloud").getTensor().spatial_shape,
              (std::vector<int32_t>{32, 1280}));
}

}  // namespace krell::det::test
