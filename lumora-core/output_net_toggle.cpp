#include "lumora-core/output_net_toggle.h"

namespace krell {
namespace lumora {

OutputNetToggle::OutputNetToggle(QObject* parent) : NetToggle(parent) {}

OutputNetToggle::~OutputNetToggle() = default;

}  // namespace lumora
}  // namespace krell
