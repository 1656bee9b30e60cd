// The parameter model: the JSON parameter file of a model, kept as named nodes with every tensor
// description found beneath each node. Nodes use nlohmann::ordered_json so that a document parsed
// with that type keeps its file order (the order of a processor's operators); a document parsed as
// nlohmann::json converts implicitly, with members in key order.
//
// Lookups follow the framework's style: a missing entry writes one level-1 line and yields an
// empty value, except get(), which then fails with the JSON library's out-of-range error.
// None of these classes is locked; build and review them on one thread, then share read-only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

namespace krell::det {

using ParamJson = nlohmann::ordered_json;

//! Stores node[key] into destination; a missing key logs "[parseMustContain] ..." and leaves the
//! destination unchanged. A value of the wrong JSON type raises the JSON library's type error.
void parseMustContain(const ParamJson& node, const std::string& key, int32_t& destination);
void parseMustContain(const ParamJson& node, const std::string& key, std::string& destination);

//! One tensor description: shape, element type and the sizes derived from them.
struct TensorParameter {
    int32_t batch_size = 0;
    int32_t channel = 0;
    std::vector<int32_t> spatial_shape;
    std::string data_type;
    std::string name;
    int32_t element_count = 0;
    int32_t byte_size = 0;

    TensorParameter() = default;
    //! Reads a "TENSOR" object ("name" required; the rest optional) and derives the sizes.
    //! Missing "name" or wrong types raise the JSON library's exceptions.
    explicit TensorParameter(const ParamJson& node);
    //! element_count = channel x product(spatial_shape) (x batch_size when > 0), when channel and
    //! spatial_shape are set; byte_size follows from data_type while it is still <= 0.
    void computeSizes();
};

using TensorMap = std::unordered_map<std::string, TensorParameter>;

//! One named JSON node and the tensors below it.
class BaseParameter {
public:
    BaseParameter() = default;
    //! Copies node and collects every "TENSOR" object at any depth below it.
    BaseParameter(const std::string& name, const ParamJson& node);

    //! The member key / element index. A missing one logs, then the JSON library throws its
    //! out-of-range error. The reference lives as long as this object.
    const ParamJson& get(const std::string& key) const;
    const ParamJson& get(uint32_t index) const;
    //! True when the node has member key.
    bool contains(const std::string& key) const;

    //! Child for element index of an array node, named name[index], carrying the parent's
    //! descriptions of the tensors it holds. Out of range: logs and returns an empty parameter.
    BaseParameter operator[](uint32_t index) const;
    //! Child for member key, named name.key. Missing: logs and returns an empty parameter.
    BaseParameter operator[](const std::string& key) const;
    //! The only tensor; with none or several, logs and returns an empty description.
    TensorParameter getTensor() const;

    int32_t batchSize() const { return batch_size_; }
    const std::string& dataType() const { return data_type_; }
    const std::string& name() const { return name_; }
    const ParamJson& node() const { return node_; }
    const TensorMap& tensors() const { return tensors_; }
    //! For shape review: the description named tensorName, or null.
    TensorParameter* findTensor(const std::string& tensorName);

private:
    void collectTensors(const ParamJson& node);
    BaseParameter childWithParentTensors(const std::string& childName,
                                         const ParamJson& childNode) const;

    int32_t batch_size_ = -1;
    std::string data_type_;
    std::string name_;
    ParamJson node_;
    TensorMap tensors_;
};

using EngineParameter = BaseParameter;
using BaseModalParameter = BaseParameter;

//! One processor: its operators by name, in file order.
class ProcessParameter {
public:
    ProcessParameter() = default;
    //! node: object mapping operator names to operator parameter objects.
    ProcessParameter(const std::string& name, const ParamJson& node);

    //! Copy of the operator's parameter; missing: logs and returns an empty parameter.
    BaseParameter operator[](const std::string& operatorName) const;

    const std::string& name() const { return name_; }
    const std::vector<std::string>& operatorNames() const { return operator_names_; }
    //! For shape review.
    std::map<std::string, BaseParameter>& operators() { return operators_; }
    const std::map<std::string, BaseParameter>& operators() const { return operators_; }

private:
    std::string name_;
    std::vector<std::string> operator_names_;
    std::map<std::string, BaseParameter> operators_;
};

//! The whole parameter file of one model.
class ModelParameter {
public:
    ModelParameter() = default;
    //! Reads the required scalars (each missing one logs), then "input", "processor", "engine".
    //! JSON type errors pass through.
    explicit ModelParameter(const ParamJson& root);

    //! Stored parameters by name; a missing name logs and yields an empty parameter. The
    //! reference stays valid while this object lives and is not reviewed or reassigned.
    const BaseParameter& input(const std::string& name) const;
    const EngineParameter& engine(const std::string& name) const;
    const ProcessParameter& processor(const std::string& name) const;

    //! Overwrites channel, byte size and spatial shape of the descriptions that name engine's
    //! bindings ("<engine>.<binding>" in operators and engines, "<binding>" in engines) with
    //! the loaded engine's binding shapes. Inputs are left alone.
    void reviewShape(const std::string& engineName,
                     const std::map<std::string, TensorParameter>& shapes);

    int32_t batchSize() const { return batch_size_; }
    float streamPriority() const { return stream_priority_; }
    void setStreamPriority(float priority) { stream_priority_ = priority; }
    const std::string& dataType() const { return data_type_; }
    const std::string& runner() const { return runner_; }
    const std::string& netPath() const { return net_path_; }
    const std::string& enginePath() const { return engine_path_; }
    const std::map<std::string, BaseParameter>& inputs() const { return inputs_; }
    const std::map<std::string, EngineParameter>& engines() const { return engines_; }
    const std::map<std::string, ProcessParameter>& processors() const { return processors_; }

private:
    int32_t batch_size_ = 0;
    float stream_priority_ = 1.0F;
    std::string data_type_;
    std::string runner_;
    std::string net_path_;
    std::string engine_path_;
    std::map<std::string, BaseParameter> inputs_;
    std::map<std::string, EngineParameter> engines_;
    std::map<std::string, ProcessParameter> processors_;
};

}  // namespace krell::det
