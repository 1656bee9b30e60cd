#include "lumora-core/sdk_toggle.h"

namespace krell {
namespace lumora {

SDKToggle::SDKToggle(QObject* parent) : Toggle(parent) {}

SDKToggle::~SDKToggle() = default;  // Toggle releases the sources the viewer still holds

QSharedPointer<SDKSource>& SDKToggle::sdkSource() {
    return sdk_source_;
}

QSharedPointer<SDKSource> SDKToggle::newSDKSource() {
    sdk_source_ = QSharedPointer<SDKSource>(new SDKSource(this));
    adoptSource(sdk_source_);
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
