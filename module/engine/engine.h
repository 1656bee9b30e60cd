// Engine: one loaded network. It owns one named buffer per binding, may take buffers of other
// engines in their place (sharing, no copies), runs on one CUDA stream and describes its
// bindings so that the parameter model can be corrected. One thread drives an engine.
#pragma once

#include <cuda_runtime_api.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "module/common/parameter.h"
#include "module/engine/buffer.h"

namespace krell::det {

class EngineProvider;

class Engine {
public:
    using ShapeMap = std::map<std::string, TensorParameter>;

    //! parameter: the engine's node (copied); name: its key under "engine".
    Engine(const EngineParameter& parameter, std::string name);
    virtual ~Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    //! Waits for the work queued on the engine's stream; 0 on success.
    virtual int32_t synchronize() = 0;
    //! Queues one inference on the engine's stream without waiting; 0 when it was queued.
    virtual int32_t run() = 0;
    //! Binds the buffers now stored under the binding names; call after every registerBuffers
    //! and setBuffer and before the first run. 0 on success.
    virtual int32_t prepareBindings() = 0;
    //! Loads the engine from its serialised blob and creates one buffer per binding.
    virtual int32_t deserialize(const std::shared_ptr<Buffer>& blob) = 0;
    //! Fills shapes with a description of every binding.
    virtual void getShape(ShapeMap& shapes) = 0;
    //! Takes the buffers named in the parameter's "registration" ("local": "engine.buffer")
    //! from the runner's engines. A missing engine or buffer logs, then throws out_of_range.
    virtual void registerBuffers(const EngineProvider& runner);
    //! Stores buffer under name, replacing (with a level-3 line) one stored before.
    virtual void setBuffer(const std::string& name, std::shared_ptr<Buffer> buffer);
    //! Exchanges the memory behind the buffers bound under the two names, so that what one
    //! binding held is read through the other on the next run, without a copy. Holders of
    //! either buffer (modal items, runner groups) follow, since the buffer objects stay; other
    //! engines bound to them see the exchange only after their own prepareBindings. Call only
    //! when no queued work uses either buffer. False, with nothing changed, when a name is not
    //! bound as stored, the buffers differ in class or size, or the engine cannot rebind.
    virtual bool swapBindings(const std::string& first, const std::string& second);
    //! The stream run, copies and synchronize use from now on.
    virtual void setStream(cudaStream_t stream) { stream_ = stream; }

    //! The buffer stored under name; a missing name logs, then throws std::out_of_range.
    const std::shared_ptr<Buffer>& getBuffer(const std::string& name) const;
    bool containBuffer(const std::string& name) const { return buffers_.count(name) > 0; }
    //! A copy of the binding descriptions kept by the runner.
    ShapeMap shapes() const { return shapes_; }
    void setShapes(ShapeMap shapes) { shapes_ = std::move(shapes); }

    const std::string& name() const { return name_; }
    int32_t batchSize() const { return batch_size_; }
    int32_t dataType() const { return data_type_; }
    const EngineParameter& parameter() const { return parameter_; }
    cudaStream_t stream() const { return stream_; }

protected:
    int32_t batch_size_;
    std::string name_;
    int32_t data_type_;
    EngineParameter parameter_;
    ShapeMap shapes_;
    std::unordered_map<std::string, std::shared_ptr<Buffer>> buffers_;
    cudaStream_t stream_ = nullptr;
};

}  // namespace krell::det
