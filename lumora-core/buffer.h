#pragma once
// Buffer: the base of the data-holding objects that functors expose as read-only properties.
#include <QObject>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT Buffer : public QObject {
    Q_OBJECT

public:
    explicit Buffer(QObject* parent = nullptr);
    ~Buffer() override;
};

}  // namespace lumora
}  // namespace krell
