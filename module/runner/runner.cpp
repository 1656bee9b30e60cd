#include "module/runner/runner.h"

#include <fstream>
#include <set>
#include <utility>

#include "module/common/log.h"
#include "module/common/missing_key.h"
#include "module/engine/engine_factory.h"
#include "module/engine/nvidia/cuda_check.h"

namespace krell::det {

Runner::Runner(const ModelParameter& parameter) : model_(parameter) {}

bool Runner::checkEngineFile() const {
    return std::ifstream(model_.enginePath(), std::ios::binary).is_open();
}

int32_t Runner::init() {
    engine_parser_ = std::make_shared<EngineParser>(model_.enginePath());
    if (!engine_parser_->parse()) {
        DET_LOG(kLogError) << "[Runner] can not load the engines of " << model_.enginePath()
                           << kLogReset;
        return 1;
    }
    for (const auto& [name, blob] : engine_parser_->getEngines()) {
        engine_blobs_[name] = blob;
    }
    loadEngines();
    const int32_t status = wireBuffers();
    setStreams();
    return status;
}

void Runner::loadEngines() {
    std::vector<std::string> names;
    for (const auto& entry : model_.engines()) {
        names.push_back(entry.first);
    }
    for (const std::string& name : names) {
        auto created = EngineFactory::instance().create(model_.engine(name), name);
        created->deserialize(engine_parser_->getEngine(name));
        engines_[name] = created;
        Engine::ShapeMap shapes;
        created->getShape(shapes);
        model_.reviewShape(name, shapes);
        created->setShapes(std::move(shapes));
    }
    for (const auto& entry : model_.processors()) {
        processors_[entry.first] = std::make_shared<Processor>(model_.processor(entry.first));
    }
}

int32_t Runner::wireBuffers() {
    int32_t status = 0;
    for (const auto& [name, engine] : engines_) {
        engine->registerBuffers(*this);
        if (engine->prepareBindings() != 0) {
            status = 1;
        }
    }
    for (const auto& [name, proc] : processors_) {
        for (const std::string& operatorName : proc->operatorOrder()) {
            const auto& op = proc->getOperator(operatorName);
            op->setupBuffers(*this, name);
            op->init();
        }
    }
    for (const auto& entry : engines_) {
        collectOutputs(entry.first);
    }
    return status;
}

void Runner::collectOutputs(const std::string& engineName) {
    const EngineParameter& parameter = model_.engine(engineName);
    if (!parameter.contains("output_tensors")) {
        return;
    }
    const BaseParameter outputs = parameter["output_tensors"];
    const auto& engine = engines_.at(engineName);
    for (uint32_t i = 0; i < outputs.node().size(); ++i) {
        const std::string name = outputs[i].getTensor().name;
        addBuffer(engineName, name, engine->getBuffer(name));
    }
}

void Runner::setInputs(const std::vector<std::shared_ptr<BaseModal>>& modals) {
    for (const auto& modal : modals) {
        setInput(modal);
    }
}

void Runner::setInput(const std::shared_ptr<BaseModal>& modal) {
    if (model_.inputs().count(modal->name()) == 0) {
        DET_LOG(kLogError) << "[Runner] can not find input with name " << modal->name()
                           << " in parameter" << kLogReset;
        return;
    }
    const BaseParameter& input = model_.input(modal->name());
    if (!input.contains("registration")) {
        return;
    }
    std::set<std::string> rebind;
    for (const auto& [item, target] : input.get("registration").items()) {
        const std::string reference = target.get<std::string>();
        const size_t dot = reference.find('.');
        const std::string owner = reference.substr(0, dot);
        const std::string buffer = dot == std::string::npos ? "" : reference.substr(dot + 1);
        if (engines_.count(owner) > 0) {
            engines_.at(owner)->setBuffer(buffer, modal->data(item));
            rebind.insert(owner);
        } else if (processors_.count(owner) > 0) {
            processors_.at(owner)->setBuffer(buffer, modal->data(item));
        } else {
            DET_LOG(kLogError) << "[Runner] can not recognize " << owner << kLogReset;
        }
    }
    // A buffer set after init is bound only when the engine prepares its bindings again.
    for (const std::string& owner : rebind) {
        engines_.at(owner)->prepareBindings();
    }
}

void Runner::addBuffer(const std::string& group, const std::string& name,
                       std::shared_ptr<Buffer> buffer) {
    if (!groups_[group].emplace(name, std::move(buffer)).second) {
        DET_LOG(kLogError) << "[Runner][addBuffer] buffer with name " << name << " in " << group
                           << " already exists" << kLogReset;
    }
}

bool Runner::containBuffer(const std::string& group, const std::string& name) const {
    const auto found = groups_.find(group);
    if (found == groups_.end()) {
        DET_LOG(kLogError) << "[Runner][containBuffer] Can not find the group name " << group
                           << kLogReset;
        return false;
    }
    return found->second.count(name) > 0;
}

const std::shared_ptr<Buffer>& Runner::getBuffer(const std::string& group,
                                                 const std::string& name) const {
    const auto found = groups_.find(group);
    if (found == groups_.end() || found->second.count(name) == 0) {
        DET_LOG(kLogError) << "[Runner][getBuffer] Can not find the group name " << group
                           << " or buffer name " << name << kLogReset;
        throwMissingKey();
    }
    return found->second.at(name);
}

const std::shared_ptr<Engine>& Runner::engine(const std::string& name) const {
    const auto found = engines_.find(name);
    if (found == engines_.end()) {
        DET_LOG(kLogError) << "[Runner] Can not find engine with name " << name << kLogReset;
        throwMissingKey();
    }
    return found->second;
}

const std::shared_ptr<Processor>& Runner::processor(const std::string& name) const {
    const auto found = processors_.find(name);
    if (found == processors_.end()) {
        DET_LOG(kLogError) << "[Runner] Can not find processor with name " << name << kLogReset;
        throwMissingKey();
    }
    return found->second;
}

int32_t Runner::synchronize(uint32_t index) const {
    const cudaStream_t stream = streams_[index];
    // An engine's inference that fails on the stream is known only to that engine (TensorRT
    // reports it to the engine's error recorder), so the engines on this stream do the wait.
    bool waited = false;
    int32_t status = 0;
    for (const auto& entry : engines_) {
        if (entry.second->stream() == stream) {
            waited = true;
            status = entry.second->synchronize() == 0 ? status : 1;
        }
    }
    if (!waited) {
        status = DET_CUDA_CHECK(cudaStreamSynchronize(stream)) ? 0 : 1;
    }
    return status;
}

}  // namespace krell::det
