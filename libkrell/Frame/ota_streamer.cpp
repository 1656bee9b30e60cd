#include "libkrell/Frame/ota_streamer.h"

#include <algorithm>
#include <utility>

#include "libkrell/CmxClient/cmx_codes.h"

namespace krell {
namespace lidar {

OtaStreamer::OtaStreamer(SendFrame send, Report report, std::string progress_text)
    : send_(std::move(send)), report_(std::move(report)), progress_text_(std::move(progress_text)) {}

int32_t OtaStreamer::Stream(const std::vector<uint8_t>& image,
                            std::atomic<int32_t>& progress) const {
    const size_t total = OtaFrame::FrameCount(image.size());
    if (total == 0) {
        report_("upgrade stopped: the firmware image is empty");
        return kUpgradeEmptyImage;
    }
    const std::string of_total = " of " + std::to_string(total);
    for (size_t index = 0; index < total; ++index) {
        report_(progress_text_ + std::to_string(index + 1) + " / " + std::to_string(total));
        const size_t begin = index * OtaFrame::kDataBytes;
        const size_t size = std::min(OtaFrame::kDataBytes, image.size() - begin);
        OtaFrame::Reply reply;
        const int32_t result = send_(static_cast<uint32_t>(total), static_cast<uint32_t>(index),
                                     image.data() + begin, size, reply);
        if (result != kUpgradeOk) {
            report_("upgrade stopped at frame index " + std::to_string(index) + of_total +
                    ": no valid acknowledgement, result " + std::to_string(result));
            return result;
        }
        if (reply.type != OtaFrame::kReplyAck) {
            report_("upgrade stopped at frame index " + std::to_string(index) + of_total +
                    ": refused with reply type " + std::to_string(reply.type) + ", status " +
                    std::to_string(reply.status));
            return reply.status != 0 ? reply.status : kUpgradeFrameRefused;
        }
        progress = static_cast<int32_t>(index + 1);
    }
    return kUpgradeOk;
}

}  // namespace lidar
}  // namespace krell
