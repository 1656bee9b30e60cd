// Processors over an operator class registered by the test itself (the program ships none).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "module/engine/cpu_buffer.h"
#include "module/operator/operator_factory.h"
#include "module/processor/processor.h"
#include "tests/module/stdout_capture.h"

namespace krell::det::test {

namespace {

class ScaleOperator : public Operator {
public:
    ScaleOperator(const BaseParameter& parameter, const std::string& name)
        : Operator(parameter, name, {"input", "output"}) {}
};

const bool kScaleRegistered = OperatorFactory::instance().registerClass(
    "scale", [](const BaseParameter& parameter, const std::string& name) {
        return std::make_shared<ScaleOperator>(parameter, name);
    });

}  // namespace

TEST(Processor, Operators_AreMadeInFileOrderAndTakeOnlyDeclaredBuffers) {
    ASSERT_TRUE(kScaleRegistered);
    const ProcessParameter parameter("pre", ParamJson::parse(R"({"scale": {"factor": 2}})"));
    Processor processor(parameter);
    ASSERT_EQ(processor.operatorOrder().size(), 1U);
    const auto& op = processor.getOperator("scale");
    auto buffer = std::make_shared<CPUBuffer>(8);
    processor.setBuffer("input", buffer);
    EXPECT_EQ(op->buffer("input").get(), buffer.get());
    EXPECT_EQ(messageOf(captureStdout([&] { op->setBuffer("other", buffer); })),
              "[INIT][Operator][setBuffer] Can not find buffer with name other in operator "
              "scale\x1b[0m\n");
    EXPECT_EQ(op->buffer("other"), nullptr);
    EXPECT_NE(captureStdout([&] { processor.setBuffer("other", buffer); }), "");
    EXPECT_EQ(messageOf(captureStdout(
                  [&] { EXPECT_THROW(processor.getOperator("none"), std::out_of_range); })),
              "[Processor][setCPUBuffer] Can not find operater with name none in pre\x1b[0m\n");
    cudaStream_t stream = reinterpret_cast<cudaStream_t>(0x10);
    processor.setStream(stream);
    EXPECT_EQ(op->stream(), stream);
}

TEST(Processor, UnknownOperatorClass_FailsTheProcessor) {
    const ProcessParameter parameter("pre", ParamJson::parse(R"({"blur": {}})"));
    EXPECT_EQ(messageOf(captureStdout(
                  [&] { EXPECT_THROW(Processor processor(parameter), std::out_of_range); })),
              "[INIT][OperatorFactory][create] Can not find operator with name blur\x1b[0m\n");
}

}  // namespace krell::det::test
