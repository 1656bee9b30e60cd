#include "lumora-core/input_net_toggle.h"

namespace krell {
namespace lumora {

InputNetToggle::InputNetToggle(QObject* parent) : NetToggle(parent) {}

InputNetToggle::~InputNetToggle() = default;

int InputNetToggle::receiveBufferSize() const {
    return receive_buffer_bytes_;
}

void InputNetToggle::setReceiveBufferSize(int bytes) {
    receive_buffer_bytes_ = bytes;
    emit onReceiveBufferSizeSet();
}

}  // namespace lumora
}  // namespace krell
