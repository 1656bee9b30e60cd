#include "lumora-core/input_sdk_toggle.h"

namespace krell {
namespace lumora {

InputSDKToggle::InputSDKToggle(QObject* parent) : SDKToggle(parent) {}

InputSDKToggle::~InputSDKToggle() = default;

}  // namespace lumora
}  // namespace krell
