#pragma once
// OutputFileToggle: the file output choice; adds nothing to FileToggle, so the interface can tell the roles apart.
#include "lumora-core/file_toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT OutputFileToggle : public FileToggle {
    Q_OBJECT

public:
    explicit OutputFileToggle(QObject* parent = nullptr);
    ~OutputFileToggle() override;
};

}  // namespace lumora
}  // namespace krell
