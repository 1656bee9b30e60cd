#include "module/common/parameter.h"

#include <utility>

#include "module/common/log.h"
#include "module/common/util.h"

namespace krell::det {

namespace {

bool isContainer(const ParamJson& value) {
    return value.is_object() || value.is_array();
}

// Brings one description in line with a binding's shape (see reviewShape).
void applyBindingShape(TensorParameter& target, const TensorParameter& binding) {
    target.channel = binding.channel;
    target.byte_size = binding.byte_size;
    const size_t binding_dims = binding.spatial_shape.size();
    if (binding_dims >= 2 && target.spatial_shape.empty()) {
        target.spatial_shape = {binding.spatial_shape[0], binding.spatial_shape[1]};
    } else if (binding_dims >= 2 && target.spatial_shape.size() == 2) {
        target.spatial_shape[0] = binding.spatial_shape[0];
        target.spatial_shape[1] = binding.spatial_shape[1];
    } else {
        DET_LOG(kLogError) << "[ModelParameter] Only 2D Tensor is support" << kLogReset;
    }
    target.computeSizes();
}

}  // namespace

void parseMustContain(const ParamJson& node, const std::string& key, int32_t& destination) {
    if (!node.contains(key)) {
        DET_LOG(kLogError) << "[parseMustContain] can not find item with name " << key << kLogReset;
        return;
    }
    destination = node.at(key).get<int32_t>();
}

void parseMustContain(const ParamJson& node, const std::string& key, std::string& destination) {
    if (!node.contains(key)) {
        DET_LOG(kLogError) << "[parseMustContain] can not find item with name " << key << kLogReset;
        return;
    }
    destination = node.at(key).get<std::string>();
}

TensorParameter::TensorParameter(const ParamJson& node) {
    if (node.contains("batch_size")) {
        batch_size = node.at("batch_size").get<int32_t>();
    }
    if (node.contains("channel")) {
        channel = node.at("channel").get<int32_t>();
    }
    if (node.contains("spatial_shape")) {
        spatial_shape = node.at("spatial_shape").get<std::vector<int32_t>>();
    }
    if (node.contains("data_type")) {
        data_type = node.at("data_type").get<std::string>();
    }
    name = node.at("name").get<std::string>();
    computeSizes();
}

void TensorParameter::computeSizes() {
    if (channel == 0 || spatial_shape.empty()) {
        return;
    }
    int64_t count = channel;
    for (int32_t extent : spatial_shape) {
        count *= extent;
    }
    if (batch_size > 0) {
        count *= batch_size;
    }
    element_count = static_cast<int32_t>(count);
    if (byte_size <= 0 && !data_type.empty()) {
        byte_size = static_cast<int32_t>(static_cast<int64_t>(getTypeSize(data_type)) * count);
    }
}

BaseParameter::BaseParameter(const std::string& name, const ParamJson& node)
    : name_(name), node_(node) {
    tensors_.max_load_factor(1.0F);
    if (node_.contains("batch_size") && node_.at("batch_size") > 0) {
        batch_size_ = node_.at("batch_size").get<int32_t>();
    }
    if (node_.contains("data_type")) {
        data_type_ = node_.at("data_type").get<std::string>();
    }
    collectTensors(node_);
}

void BaseParameter::collectTensors(const ParamJson& node) {
    for (const auto& member : node.items()) {
        if (!isContainer(member.value())) {
            continue;
        }
        if (member.key() == "TENSOR") {
            TensorParameter tensor(member.value());
            std::string key = tensor.name;
            tensors_[key] = std::move(tensor);
        } else {
            collectTensors(member.value());
        }
    }
}

const ParamJson& BaseParameter::get(const std::string& key) const {
    if (!node_.contains(key)) {
        DET_LOG(kLogError) << "[BaseParameter] Can not find item with name " << key << " in "
                           << name_ << kLogReset;
    }
    return node_.at(key);
}

const ParamJson& BaseParameter::get(uint32_t index) const {
    if (!node_.is_array() || index >= node_.size()) {
        DET_LOG(kLogError) << "[BaseParameter] Can not find item with name " << index << " in "
                           << name_ << kLogReset;
    }
    return node_.at(index);
}

bool BaseParameter::contains(const std::string& key) const {
    return node_.contains(key);
}

BaseParameter BaseParameter::childWithParentTensors(const std::string& childName,
                                                    const ParamJson& childNode) const {
    BaseParameter child(childName, childNode);
    // The parent's descriptions may already carry reviewed shapes; they take precedence.
    for (auto& entry : child.tensors_) {
        auto parent = tensors_.find(entry.first);
        if (parent != tensors_.end()) {
            entry.second = parent->second;
        }
    }
    return child;
}

BaseParameter BaseParameter::operator[](uint32_t index) const {
    if (!node_.is_array() || index >= node_.size()) {
        DET_LOG(kLogError) << "[BaseParameter] idx " << index << " exceeds total size "
                           << node_.size() << " in " << name_ << kLogReset;
        return BaseParameter();
    }
    return childWithParentTensors(name_ + "[" + std::to_string(index) + "]", node_.at(index));
}

BaseParameter BaseParameter::operator[](const std::string& key) const {
    if (!node_.contains(key)) {
        DET_LOG(kLogError) << "[BaseParameter] can not find item with name " << key << " in "
                           << name_ << kLogReset;
        return BaseParameter();
    }
    return childWithParentTensors(name_ + "." + key, node_.at(key));
}

TensorParameter BaseParameter::getTensor() const {
    if (tensors_.size() != 1) {
        DET_LOG(kLogError)
            << "[BaseParameter] getTensor must used by BaseParameter with only one Tensor, now "
            << name_ << " has " << tensors_.size() << " tensors!" << kLogReset;
        return TensorParameter();
    }
    return tensors_.begin()->second;
}

TensorParameter* BaseParameter::findTensor(const std::string& tensorName) {
    auto it = tensors_.find(tensorName);
    return it == tensors_.end() ? nullptr : &it->second;
}

ProcessParameter::ProcessParameter(const std::string& name, const ParamJson& node) : name_(name) {
    for (const auto& member : node.items()) {
        operator_names_.push_back(member.key());
        operators_[member.key()] = BaseParameter(name + "." + member.key(), member.value());
    }
}

BaseParameter ProcessParameter::operator[](const std::string& operatorName) const {
    auto it = operators_.find(operatorName);
    if (it == operators_.end()) {
        DET_LOG(kLogError) << "[ProcessParameter] can not find operator with name " << operatorName
                           << " in " << name_ << kLogReset;
        return BaseParameter();
    }
    return it->second;
}

ModelParameter::ModelParameter(const ParamJson& root) {
    parseMustContain(root, "batch_size", batch_size_);
    parseMustContain(root, "runner", runner_);
    parseMustContain(root, "net_path", net_path_);
    parseMustContain(root, "engine_path", engine_path_);
    parseMustContain(root, "data_type", data_type_);
    if (root.contains("input")) {
        for (const auto& element : root.at("input")) {
            const std::string name = element.at("name").get<std::string>();
            inputs_[name] = BaseParameter(name, element);
        }
    }
    if (root.contains("processor")) {
        for (const auto& member : root.at("processor").items()) {
            if (isContainer(member.value())) {
                processors_[member.key()] = ProcessParameter(member.key(), member.value());
            }
        }
    }
    if (root.contains("engine")) {
        for (const auto& member : root.at("engine").items()) {
            if (isContainer(member.value())) {
                engines_[member.key()] = BaseParameter(member.key(), member.value());
            }
        }
    }
}

const BaseParameter& ModelParameter::input(const std::string& name) const {
    auto it = inputs_.find(name);
    if (it == inputs_.end()) {
        DET_LOG(kLogError) << "[ModelParameter] can not find input with name " << name << kLogReset;
        static const BaseParameter kEmpty;
        return kEmpty;
    }
    return it->second;
}

const EngineParameter& ModelParameter::engine(const std::string& name) const {
    auto it = engines_.find(name);
    if (it == engines_.end()) {
        DET_LOG(kLogError) << "[ModelParameter] can not find engine with name " << name
                           << kLogReset;
        static const EngineParameter kEmpty;
        return kEmpty;
    }
    return it->second;
}

const ProcessParameter& ModelParameter::processor(const std::string& name) const {
    auto it = processors_.find(name);
    if (it == processors_.end()) {
        DET_LOG(kLogError) << "[ModelParameter] can not find processor with name " << name
                           << kLogReset;
        static const ProcessParameter kEmpty;
        return kEmpty;
    }
    return it->second;
}

void ModelParameter::reviewShape(const std::string& engineName,
                                 const std::map<std::string, TensorParameter>& shapes) {
    for (const auto& binding : shapes) {
        const std::string qualified = engineName + "." + binding.first;
        for (auto& processor : processors_) {
            for (auto& op : processor.second.operators()) {
                if (TensorParameter* tensor = op.second.findTensor(qualified)) {
                    applyBindingShape(*tensor, binding.second);
                }
            }
        }
        for (auto& engine : engines_) {
            if (TensorParameter* tensor = engine.second.findTensor(qualified)) {
                applyBindingShape(*tensor, binding.second);
            }
            if (TensorParameter* tensor = engine.second.findTensor(binding.first)) {
                applyBindingShape(*tensor, binding.second);
            }
        }
    }
}

}  // namespace krell::det
