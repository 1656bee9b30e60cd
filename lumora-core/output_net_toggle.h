#pragma once
// OutputNetToggle: the network output choice; adds nothing to NetToggle, so the interface can tell the roles apart.
#include "lumora-core/net_toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT OutputNetToggle : public NetToggle {
    Q_OBJECT

public:
    explicit OutputNetToggle(QObject* parent = nullptr);
    ~OutputNetToggle() override;
};

}  // namespace lumora
}  // namespace krell
