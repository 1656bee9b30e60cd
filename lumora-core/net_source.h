#pragma once
// NetSource: a point stream received from the network; the viewer's receiver owns the socket and
// uses these buffers.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "lumora-core/source_lm.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT NetSource : public Source_LM {
    Q_OBJECT

public:
    //! How points arrive; UDP is the sensors' default.
    enum TransferProtocol { UDP = 0, TCP = 1, Multicast = 2 };
    Q_ENUM(TransferProtocol)

    static constexpr int kScratchBytes = 2048;

    explicit NetSource(QObject* parent = nullptr);
    ~NetSource() override;

    //! Set by the receiver once its socket is bound; shared so a reader thread can watch it.
    std::shared_ptr<bool> connected() const;

protected:
    uint8_t packet_area_[kScratchBytes] = {};  // the datagram being decoded
    uint8_t reply_area_[kScratchBytes] = {};   // the last control reply
    QByteArray pending_bytes_;                 // a packet split over two reads
    std::shared_ptr<bool> connected_ = std::make_shared<bool>(false);
    std::vector<uint8_t> frame_bytes_;
    QString peer_address_;
    int32_t frames_per_packet_ = 1;
};

}  // namespace lumora
}  // namespace krell
