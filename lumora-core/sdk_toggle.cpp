#include "lumora-core/sdk_toggle.h"

namespace krell {
namespace lumora {

SDKToggle::SDKToggle(QObject* parent) : Toggle(parent) {}

SDKToggle::~SDKToggle() {
    releaseSources();
}

QSharedPointer<SDKSource>& SDKToggle::sdkSource() {
    return sdk_source_;
}

QSharedPointer<SDKSource> SDKToggle::newSDKSource() {
    sdk_source_ = QSharedPointer<SDKSource>(new SDKSource(this));
    return sdk_source_;
}

void SDKToggle::setExtsFile(QList<QString> exts) {
    exts_file_ = std::move(exts);
}

QList<QString> SDKToggle::exts_file() const {
    return exts_file_;
}

}  // namespace lumora
}  // namespace krell
