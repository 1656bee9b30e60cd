// Runner: turns one ModelParameter into a working model. init() reads the engine container,
// loads every engine, wires shared buffers between engines, gathers each engine's declared
// outputs into a group named like the engine, builds the processors and hands out the streams.
// One thread drives a runner; its engines and processors share its first stream.
#pragma once

#include <cuda_runtime_api.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "module/common/data_structure/base_modal.h"
#include "module/common/parameter.h"
#include "module/engine/buffer.h"
#include "module/engine/engine.h"
#include "module/engine/engine_provider.h"
#include "module/engine/nvidia/stream.h"
#include "module/network/engine_parser.h"
#include "module/processor/processor.h"

namespace krell::det {

class Runner : public EngineProvider {
public:
    using Group = std::map<std::string, std::shared_ptr<Buffer>>;

    explicit Runner(const ModelParameter& parameter);
    ~Runner() override = default;
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    //! Runs the model for the current input; 0 on success.
    virtual int32_t run() = 0;
    //! Hook before a run; 0 on success.
    virtual int32_t preprocess() { return 0; }
    //! Hook after a run.
    virtual void postprocess() {}
    //! setInput for each modal, in order.
    virtual void setInputs(const std::vector<std::shared_ptr<BaseModal>>& modals);
    //! Gives the modal's data items to the engines and processors its input parameter's
    //! "registration" names ("item": "target.buffer"); engines are re-bound at once.
    virtual void setInput(const std::shared_ptr<BaseModal>& modal);
    //! Hands the runner's streams to its engines and processors.
    virtual void setStreams() {}

    //! Loads and wires everything (see the file comment). 0 on success; 1, after a level-1
    //! line, when the engine file cannot be read or an engine cannot be bound. Missing engine
    //! blobs and unknown classes log, then throw std::out_of_range; a blob TensorRT rejects
    //! throws KrellException.
    int32_t init();
    //! Whether the "engine_path" file can be opened for reading.
    bool checkEngineFile() const;

    //! Adds buffer to group (created when absent); an existing name logs and keeps the first.
    void addBuffer(const std::string& group, const std::string& name,
                   std::shared_ptr<Buffer> buffer);
    //! Whether group holds name; a missing group logs and yields false.
    bool containBuffer(const std::string& group, const std::string& name) const;
    //! The buffer; a missing group or name logs, then throws std::out_of_range.
    const std::shared_ptr<Buffer>& getBuffer(const std::string& group,
                                             const std::string& name) const;

    const std::shared_ptr<Engine>& engine(const std::string& name) const override;
    //! The processor; a missing name logs, then throws std::out_of_range.
    const std::shared_ptr<Processor>& processor(const std::string& name) const;
    const ModelParameter& modelParameter() const override { return model_; }
    const std::map<std::string, std::shared_ptr<Engine>>& engines() const { return engines_; }

    //! The stream at index (the first one carries all of this runner's work).
    cudaStream_t stream(uint32_t index = 0) const { return streams_[index]; }
    //! Waits for the stream at index; 0 when the wait succeeded and no engine on that stream
    //! failed in the work it queued there since the last wait (each failure is logged).
    int32_t synchronize(uint32_t index = 0) const;

protected:
    ModelParameter model_;
    std::shared_ptr<EngineParser> engine_parser_;
    std::map<std::string, std::shared_ptr<Buffer>> engine_blobs_;
    std::map<std::string, std::shared_ptr<Engine>> engines_;
    std::map<std::string, std::shared_ptr<Processor>> processors_;
    std::map<std::string, Group> groups_;
    CUDAStreams streams_;

private:
    void loadEngines();
    int32_t wireBuffers();
    void collectOutputs(const std::string& engineName);
};

}  // namespace krell::det
