#pragma once
// InputSDKToggle: the live lidar input choice; adds nothing to SDKToggle, so the interface can tell the roles apart.
#include "lumora-core/sdk_toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT InputSDKToggle : public SDKToggle {
    Q_OBJECT

public:
    explicit InputSDKToggle(QObject* parent = nullptr);
    ~InputSDKToggle() override;
};

}  // namespace lumora
}  // namespace krell
