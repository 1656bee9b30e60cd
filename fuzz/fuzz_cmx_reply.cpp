// The CMX reply path of a real CmxClient (CMX 1.0 or 2.0) over an in-memory transport: the input
// arrives in pieces as the reply to one request; the client finds the header, checks it and
// reads the payload; a decoded payload then goes through CmxStreamDecode. No socket and no
// time-out wait per input, so long and odd replies are reached within minutes; the socket side
// of the same path is fuzzed by fuzz_cmx_socket_reply. Input layout: cmx_reply_input.h.
#include <memory>

#include "fuzz/cmx_reply_input.h"
#include "fuzz/memory_transport.h"

namespace {

constexpr uint32_t kClientTimeoutMs = 200;

struct Rig {
    std::shared_ptr<cmx_fuzz::MemoryTransport> transport1 =
        std::make_shared<cmx_fuzz::MemoryTransport>();
    std::shared_ptr<cmx_fuzz::MemoryTransport> transport2 =
        std::make_shared<cmx_fuzz::MemoryTransport>();
    krell::lidar::CmxClient v1{transport1, 1, kClientTimeoutMs, kClientTimeoutMs};
    krell::lidar::CmxClient v2{transport2, 2, kClientTimeoutMs, kClientTimeoutMs};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig rig;
    cmx_fuzz::ReplyInput input;
    if (!cmx_fuzz::ParseReplyInput(data, size, input)) return 0;
    cmx_fuzz::MemoryTransport& transport = input.version2 ? *rig.transport2 : *rig.transport1;
    transport.SetReply(std::move(input.pieces));
    cmx_fuzz::QueryAndDecode(input.version2 ? rig.v2 : rig.v1, input);
    return 0;
}
