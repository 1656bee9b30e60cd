#include "lumora-core/output_file_toggle.h"

namespace krell {
namespace lumora {

OutputFileToggle::OutputFileToggle(QObject* parent) : FileToggle(parent) {}

OutputFileToggle::~OutputFileToggle() = default;

}  // namespace lumora
}  // namespace krell
