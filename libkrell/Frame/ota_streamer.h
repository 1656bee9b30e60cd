#pragma once
// OtaStreamer: the frame loop every OTA route shares (serial lines, CMX tunnel, packaged
// components). It cuts the image into frames of at most 1024 bytes, sends them one at a time
// through the route's own send function and stops at the first frame that is not acknowledged,
// naming the frame index and the sensor's status in the route's byte-flow text. There is no pause
// between frames: each waits only for its own acknowledgement.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "libkrell/Frame/ota_frame.h"

namespace krell {
namespace lidar {

class OtaStreamer {
public:
    //! Sends one frame and waits for its reply: 0 with `reply` filled, or the route's failure
    //! result (nothing is read from `reply` then).
    using SendFrame = std::function<int32_t(uint32_t total, uint32_t index, const uint8_t* data,
                                            size_t size, OtaFrame::Reply& reply)>;
    using Report = std::function<void(const std::string&)>;

    //! `progress_text` starts each per-frame line ("ota send" + (k+1) + " / " + N).
    OtaStreamer(SendFrame send, Report report, std::string progress_text);

    //! Streams `image`; `progress` holds the number of acknowledged frames throughout. 0 when every
    //! frame was acknowledged; the send function's result for a lost frame; the status for a
    //! refused frame (kUpgradeFrameRefused when its status is 0); kUpgradeEmptyImage for an empty
    //! image. Runs on the caller's thread; `progress` may be read from any thread.
    int32_t Stream(const std::vector<uint8_t>& image, std::atomic<int32_t>& progress) const;

private:
    SendFrame send_;
    Report report_;
    std::string progress_text_;
};

}  // namespace lidar
}  // namespace krell
