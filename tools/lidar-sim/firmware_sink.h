#pragma once
// FirmwareSink: the virtual sensor's firmware side. It takes CMX file-stream frames (on the
// upgrade command, or behind the prefix 00 00 00 <command> in 0xFF) and OTA frames (behind the
// tunnel prefix 00 00 01 38), checks every frame (CRC, numbering, order, totals, lengths) and
// reassembles the image, which a test reads back to compare with the file. It answers the OTA
// state query as application or boot loader, keeps the line speeds the tunnel set, and applies
// the upgrade fault switches (upgrade_faults.h).
//
// Thread-safe: handlers run on the server's connection threads; all state is under one lock.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/lidar-sim/sim_device.h"
#include "tools/lidar-sim/upgrade_faults.h"

namespace krell {
namespace lidar {
namespace sim {

class FirmwareSink : public std::enable_shared_from_this<FirmwareSink> {
public:
    //! Status (OTA) and return code (CMX) of a frame that breaks the framing rules.
    static constexpr uint8_t kFrameRejected = 0x0E;

    //! What an OTA frame gets back: a reply frame, or silence, and whether the link then drops.
    struct OtaAnswer {
        std::vector<uint8_t> reply;
        bool send = true;
        bool drop_link = false;
    };

    //! Registers the file-stream command and puts the firmware answers in front of the 0xFF
    //! handler registered so far (every other tunnelled request still reaches it). The device
    //! keeps this object alive through its handlers.
    void Install(SimDevice& device);

    //! Answers one CMX file-stream request (either spelling).
    SimReply AcceptFileStream(const SimRequest& request);
    //! Answers one OTA frame (state query or image data), as the tunnel and the serial lines do.
    OtaAnswer AcceptOta(const std::vector<uint8_t>& frame);

    void SetFaults(const UpgradeFaults& faults);

    //! OtaFrame::EncodeReply with its random word drawn again (a bounded number of times) while
    //! the word or the CRC holds the end mark 0xEE 0xFF: a reader on the serial line cuts a reply
    //! at the first such pair, which would fail about one reply in ten thousand, one upgrade of
    //! 8 MiB in five, and make upgrade runs unrepeatable.
    static std::vector<uint8_t> EncodeReply(uint8_t reply_type, uint8_t frame_type, uint8_t status);

    //! The bytes reassembled so far; complete once ImageComplete().
    std::vector<uint8_t> Image() const;
    bool ImageComplete() const;
    //! Frame type of the OTA upgrade in progress (0 for file streaming).
    uint32_t FrameType() const;
    //! The last framing error, empty when none.
    std::string LastError() const;
    //! Line speeds set through the tunnel, in order.
    std::vector<uint32_t> BaudChanges() const;

private:
    enum class Verdict { kAck, kRefuse, kReject, kSilent, kDrop, kCorrupt };

    //! Checks and stores one chunk (frame number from 1 of `total`); sets the error when it is
    //! out of order or mis-sized.
    bool TakeChunk(uint32_t number, uint32_t total, uint32_t type, const uint8_t* data,
                   size_t size);
    //! What the fault switches make of frame `ordinal`; kAck when none applies.
    Verdict FaultFor(uint32_t ordinal);
    bool Reject(const std::string& error);
    SimReply FileStreamReply(Verdict verdict) const;
    OtaAnswer OtaReply(Verdict verdict, uint32_t type) const;
    std::vector<uint8_t> StateQueryReply() const;
    SimReply AnswerTunnel(const SimRequest& request, const CommandHandler& fallback);

    mutable std::mutex mutex_;  // guards every field below
    UpgradeFaults faults_;
    bool dropped_ = false;      // the drop switch fired: nothing more is answered
    uint32_t frames_seen_ = 0;  // frames of the current upgrade, counted from 1
    uint32_t total_ = 0;
    uint32_t next_number_ = 1;
    uint32_t type_ = 0;
    std::vector<uint8_t> image_;
    std::string last_error_;
    std::vector<uint32_t> baud_changes_;
};

}  // namespace sim
}  // namespace lidar
}  // namespace krell
