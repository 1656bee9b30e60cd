#pragma once
// InputNetToggle: the network input choice; adds the socket receive buffer size.
#include "lumora-core/net_toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT InputNetToggle : public NetToggle {
    Q_OBJECT
    Q_PROPERTY(int receiveBufferSize READ receiveBufferSize WRITE setReceiveBufferSize)

public:
    static constexpr int kDefaultReceiveBufferBytes = 24 * 1024 * 1024;

    explicit InputNetToggle(QObject* parent = nullptr);
    ~InputNetToggle() override;

    //! Receive buffer size in bytes (24 MiB by default).
    virtual int receiveBufferSize() const;
    //! Stores the size, then emits onReceiveBufferSizeSet().
    virtual void setReceiveBufferSize(int bytes);

signals:
    void onReceiveBufferSizeSet();

private:
    int receive_buffer_bytes_ = kDefaultReceiveBufferBytes;
};

}  // namespace lumora
}  // namespace krell
