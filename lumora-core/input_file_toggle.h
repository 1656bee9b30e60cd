#pragma once
// InputFileToggle: the file input choice; adds nothing to FileToggle, so the interface can tell the roles apart.
#include "lumora-core/file_toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT InputFileToggle : public FileToggle {
    Q_OBJECT

public:
    explicit InputFileToggle(QObject* parent = nullptr);
    ~InputFileToggle() override;
};

}  // namespace lumora
}  // namespace krell
