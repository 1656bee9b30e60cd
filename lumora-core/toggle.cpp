#include "lumora-core/toggle.h"

namespace krell {
namespace lumora {

Toggle::Toggle(QObject* parent) : QObject(parent) {}

Toggle::~Toggle() = default;

}  // namespace lumora
}  // namespace krell
