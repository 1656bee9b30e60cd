#include "lumora-core/toggle.h"

#include <algorithm>

#include "lumora-core/source_lm.h"

namespace krell {
namespace lumora {

Toggle::Toggle(QObject* parent) : QObject(parent) {}

Toggle::~Toggle() {
    // By now the derived toggle's own shared pointer is gone; what is still alive is held by the
    // viewer (a replaced source, or the current one).
    releaseSources();
}

void Toggle::adoptSource(const QSharedPointer<Source_LM>& source) {
    // Dead entries go first, so that a toggle whose sources are replaced often stays small.
    adopted_.erase(
        std::remove_if(adopted_.begin(), adopted_.end(),
                       [](const QWeakPointer<Source_LM>& weak) { return weak.isNull(); }),
        adopted_.end());
    if (!source.isNull()) adopted_.append(source.toWeakRef());
}

void Toggle::releaseSources() {
    for (const QWeakPointer<Source_LM>& weak : adopted_) {
        const QSharedPointer<Source_LM> source = weak.toStrongRef();
        if (source && source->parent() == this) source->setParent(nullptr);
    }
    adopted_.clear();
}

}  // namespace lumora
}  // namespace krell
