#include "module/runner/quanted_rimg_runner.h"

#include <exception>
#include <memory>

#include "module/common/log.h"
#include "module/runner/runner_factory.h"

namespace krell::det {

namespace {
constexpr const char* kEngineName = "rimg";
constexpr int32_t kRunFailed = 1;
}  // namespace

const bool QuantedRimgRunner::registered_ = RunnerFactory::instance().registerClass(
    "QuantedRimgRunner", [](const ModelParameter& parameter) -> std::shared_ptr<Runner> {
        return std::make_shared<QuantedRimgRunner>(parameter);
    });

int32_t QuantedRimgRunner::run() {
    try {
        return engine(kEngineName)->run() == 0 ? 0 : kRunFailed;
    } catch (const std::exception& e) {
        DET_LOG(kLogError) << "[QuantedRimgRunner] run failed: " << e.what() << kLogReset;
        return kRunFailed;
    }
}

}  // namespace krell::det
