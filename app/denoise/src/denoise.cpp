#include "app/denoise/src/denoise.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include <nlohmann/json.hpp>

#include "app/denoise/src/file_lock.h"
#include "module/common/data_structure/base_modal.h"
#include "module/common/data_structure/modal_factory.h"
#include "module/common/data_structure/quanted_point_cloud.h"
#include "module/common/log.h"
#include "module/common/parameter.h"
#include "module/engine/buffer.h"
#include "module/engine/engine.h"
#include "module/engine/nvidia/nv_gpu_engine.h"
#include "module/network/nvidia/trt_builder.h"
#include "module/runner/quanted_rimg_runner.h"
#include "module/runner/runner.h"
#include "module/runner/runner_factory.h"

namespace krell {
namespace {

constexpr const char* kEngineName = "rimg";
constexpr const char* kInputBinding = "rimg_input_features";
constexpr const char* kPrediction = "noise_rimg_preds";
constexpr const char* kStateIn = "hidden_features";
constexpr const char* kStateOut = "hidden_update";
constexpr const char* kModalInput = "quanted_points";
constexpr const char* kModalState = "last_frame_features";

using det::kLogError;
using det::kLogInfo;
using det::kLogReset;
using det::TransferKind;

// The runner name must be a JSON string; a missing key reads as null so that the failure is the
// parameter model's type error ("type must be string, but is null"), not a lookup error.
std::string runnerName(const det::ParamJson& document) {
    static const det::ParamJson kMissing;
    const bool present = document.is_object() && document.contains("runner");
    return (present ? document.at("runner") : kMissing).get<std::string>();
}

// Whether buffer holds exactly the bytes the caller's host area does; logs the binding if not.
bool matchesHostArea(const det::Buffer& buffer, const char* binding, size_t hostBytes) {
    if (buffer.size() == hostBytes) {
        return true;
    }
    DET_LOG(kLogError) << "[APP] The binding " << binding << " of " << kEngineName << " holds "
                       << buffer.size() << " bytes, but the host area for it holds " << hostBytes
                       << " bytes; check the engine's data type and shapes" << kLogReset;
    return false;
}

// Builds the engine file unless another process has built it while this one waited for the lock:
// every task of a batch may find the file missing at once, but only the first builds it.
bool buildEngineOnce(const det::ModelParameter& model, const det::Runner& runner) {
    const FileLock lock(engineLockPath(model.enginePath()), FileLock::Mode::kWait, [&model] {
        std::fprintf(stderr, "waiting for another process building the engine %s\n",
                     model.enginePath().c_str());
    });
    if (!lock.held()) {
        DET_LOG(kLogError) << "[APP] Can not lock " << lock.path() << ": "
                           << std::strerror(lock.error()) << kLogReset;
        return false;
    }
    if (runner.checkEngineFile()) {
        return true;
    }
    det::TRTBuilder builder(model);
    return builder.build() && runner.checkEngineFile();
}

}  // namespace

struct Denoise::Private {
    det::ModelParameter model;
    std::shared_ptr<det::BaseModal> point_cloud;
    std::shared_ptr<det::Runner> runner;
    cudaStream_t stream = nullptr;
    std::string runner_name;
    std::string engine_name = kEngineName;

    //! Carries the state produced by the run just queued to the next frame (see StateHandoff);
    //! a frame whose run has failed (status not 0) carries nothing.
    void handOverState(StateHandoff handoff, int32_t status);
    //! Whether the input and prediction bindings hold exactly the caller's host areas.
    bool fitsHostAreas(const HostAreas& areas) const;
    //! Whether exchanging the state bindings keeps every holder right: the runner has this
    //! engine only, and the modal item and the output group hold the engine's bound buffers.
    bool canSwapState() const;

    Private(const det::ParamJson& document, int32_t priority) : runner_name(runnerName(document)) {
        model = det::ModelParameter(document);
        model.setStreamPriority(static_cast<float>(priority));
        runner = det::RunnerFactory::instance().create(runner_name, model);
        point_cloud = det::ModalFactory::instance().create(model.input("point_cloud"));
        if (det::NvGPUEngine::registered() && det::QuantedPointCloud::registered() &&
            det::QuantedRimgRunner::registered()) {
            DET_LOG(kLogInfo) << "All classes may be used are registered";
        }
    }
};

bool Denoise::Init(const std::string& configPath, int32_t priority, const HostAreas& areas) {
    engine_build_seconds_ = 0.0;
    std::ifstream file(configPath);
    if (!file) {
        DET_LOG(kLogError) << "[Parameters] can not open file from " << configPath << kLogReset;
        return false;
    }
    const det::ParamJson document = det::ParamJson::parse(file, nullptr, true, false);
    auto d = std::make_shared<Private>(document, priority);
    if (!d->runner->checkEngineFile()) {
        const auto started = std::chrono::steady_clock::now();
        const bool built = buildEngineOnce(d->model, *d->runner);
        engine_build_seconds_ =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (!built) {
            DET_LOG(kLogError) << "[APP] The engine file " << d->model.enginePath()
                               << " is missing and could not be built from " << d->model.netPath()
                               << kLogReset;
            return false;
        }
    }
    if (d->runner->init() != 0) {
        DET_LOG(kLogError) << "[APP] The runner could not be initialised" << kLogReset;
        return false;
    }
    d->stream = d->runner->stream(0);
    if (!d->fitsHostAreas(areas)) {
        return false;
    }
    const std::shared_ptr<det::Engine>& engine = d->runner->engine(d->engine_name);
    d->point_cloud->addData(kModalInput, engine->getBuffer(kInputBinding));
    if (engine->containBuffer(kStateIn)) {
        DET_LOG(kLogInfo) << "[APP] Model finds Tensor[hidden_features], add gru buffer"
                          << kLogReset;
        d->point_cloud->addData(kModalState, engine->getBuffer(kStateIn));
        // Zeroed on the pipeline stream and waited for, so the first frame surely sees zeros.
        d->point_cloud->data(kModalState)->setZero(d->stream);
        cudaStreamSynchronize(d->stream);
    } else {
        DET_LOG(kLogInfo) << "[APP] Model doesn't contain Tensor[hidden_features], single frame "
                             "mode "
                          << kLogReset;
    }
    d_ = std::move(d);
    return true;
}

bool Denoise::recurrent() const {
    return d_ && d_->point_cloud->containData(kModalState);
}

bool Denoise::Private::fitsHostAreas(const HostAreas& areas) const {
    const std::shared_ptr<det::Engine>& engine = runner->engine(engine_name);
    bool fits =
        matchesHostArea(*engine->getBuffer(kInputBinding), kInputBinding, areas.input_bytes);
    // A prediction missing from the outputs is reported by Run, which then copies nothing.
    if (runner->containBuffer(engine_name, kPrediction)) {
        fits = matchesHostArea(*runner->getBuffer(engine_name, kPrediction), kPrediction,
                               areas.output_bytes) &&
               fits;
    }
    return fits;
}

bool Denoise::Private::canSwapState() const {
    const std::shared_ptr<det::Engine>& engine = runner->engine(engine_name);
    return runner->engines().size() == 1 && engine->containBuffer(kStateIn) &&
           point_cloud->data(kModalState) == engine->getBuffer(kStateIn) &&
           runner->getBuffer(engine_name, kStateOut) == engine->getBuffer(kStateOut);
}

void Denoise::Private::handOverState(StateHandoff handoff, int32_t status) {
    if (!point_cloud->containData(kModalState)) {
        DET_LOG(kLogError) << "[APP] Cannot find hidden_features" << kLogReset;
        return;
    }
    if (status != 0) {
        // What a failed inference left in "hidden_update" is no state; the next frame starts
        // from the last one that ran.
        DET_LOG(kLogError) << "[APP] The frame's inference failed (status " << status
                           << "); its state is not carried to the next frame" << kLogReset;
        return;
    }
    // Either way the next frame must not start before this one's inference has read the state.
    cudaStreamSynchronize(stream);
    if (handoff == StateHandoff::kSwap && canSwapState() &&
        runner->engine(engine_name)->swapBindings(kStateIn, kStateOut)) {
        return;
    }
    // The checked copy reports a size mismatch and then leaves the state as it was.
    point_cloud->data(kModalState)
        ->copyFrom(runner->getBuffer(engine_name, kStateOut), TransferKind::NvGPUToNvGPU, stream);
    cudaStreamSynchronize(stream);
}

int32_t Denoise::Run(const void* input, void* output) {
    if (!d_) {
        DET_LOG(kLogError) << "[APP] Run before a successful Init" << kLogReset;
        return -1;
    }
    Private& d = *d_;
    d.point_cloud->data(kModalInput)->copyFrom(input, TransferKind::CPUToNvGPU, d.stream);
    const int32_t queued = d.runner->run();
    if (d.runner->containBuffer(d.engine_name, kPrediction)) {
        d.runner->getBuffer(d.engine_name, kPrediction)
            ->copyTo(output, TransferKind::NvGPUToNvCPU, d.stream);
    } else {
        DET_LOG(kLogError)
            << "[APP] can not find noise_rimg_preds in rimg, add noise_rimg_preds in config "
            << kLogReset;
    }
    // The runner's wait, not run(), learns whether the inference failed once the stream
    // reached it.
    const int32_t waited = d.runner->synchronize();
    const int32_t status = queued != 0 ? queued : waited;
    if (d.runner->engine(d.engine_name)->containBuffer(kStateOut)) {
        if (d.runner->containBuffer(d.engine_name, kStateOut)) {
            d.handOverState(handoff_, status);
        } else {
            DET_LOG(kLogError)
                << "[APP] Model contains Tensor[hidden_update], but config doesn't register "
                   "hidden_update. Like:\n"
                << "      \"output_tensors\": [\n"
                << "                { \"TENSOR\": { \"name\": \"noise_rimg_preds\" } },\n"
                << "                { \"TENSOR\": { \"name\": \"hidden_update\" } }\n"
                << "            ],\n"
                << "       " << kLogReset;
        }
    }
    cudaStreamSynchronize(d.stream);
    return status;
}

}  // namespace krell
