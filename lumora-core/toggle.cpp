#include "lumora-core/toggle.h"

#include "lumora-core/source_lm.h"

namespace krell {
namespace lumora {

Toggle::Toggle(QObject* parent) : QObject(parent) {}

Toggle::~Toggle() = default;

void Toggle::releaseSources() {
    const QObjectList children = this->children();
    for (QObject* child : children) {
        if (qobject_cast<Source_LM*>(child) != nullptr) child->setParent(nullptr);
    }
}

}  // namespace lumora
}  // namespace krell
