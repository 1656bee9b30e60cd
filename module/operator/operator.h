// Operator: one step of a processor, holding the named buffers it declared and a CUDA stream.
// No concrete operator ships with this program; classes register with OperatorFactory. One
// thread drives an operator.
#pragma once

#include <cuda_runtime_api.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "module/common/parameter.h"
#include "module/engine/buffer.h"

namespace krell::det {

class EngineProvider;

class Operator {
public:
    //! bufferNames: the only names setBuffer accepts.
    Operator(const BaseParameter& parameter, std::string name,
             std::vector<std::string> bufferNames);
    virtual ~Operator() = default;
    Operator(const Operator&) = delete;
    Operator& operator=(const Operator&) = delete;

    //! Runner hook once every engine is wired: take buffers from the runner's engines.
    virtual void setupBuffers(const EngineProvider& /*runner*/,
                              const std::string& /*processorName*/) {}
    //! Runner hook after setupBuffers.
    virtual void init() {}
    //! Stores buffer under a declared name; another name logs and stores nothing.
    virtual void setBuffer(const std::string& name, std::shared_ptr<Buffer> buffer);
    virtual void setStream(cudaStream_t stream) { stream_ = stream; }

    //! Whether setBuffer accepts name.
    bool declares(const std::string& name) const;
    //! The buffer stored under name, or null.
    std::shared_ptr<Buffer> buffer(const std::string& name) const;
    const std::string& name() const { return name_; }
    cudaStream_t stream() const { return stream_; }

protected:
    BaseParameter parameter_;
    std::string name_;
    std::vector<std::string> buffer_names_;
    std::unordered_map<std::string, std::shared_ptr<Buffer>> buffers_;
    cudaStream_t stream_ = nullptr;
};

}  // namespace krell::det
