#include "lumora-core/input_file_toggle.h"

namespace krell {
namespace lumora {

InputFileToggle::InputFileToggle(QObject* parent) : FileToggle(parent) {}

InputFileToggle::~InputFileToggle() = default;

}  // namespace lumora
}  // namespace krell
