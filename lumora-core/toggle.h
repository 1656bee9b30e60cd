#pragma once
// Toggle: the base of the settings objects with which the user picks an input or an output.
// Functors expose toggles as read-only properties so the viewer's interface can find them.
#include <QObject>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT Toggle : public QObject {
    Q_OBJECT

public:
    explicit Toggle(QObject* parent = nullptr);
    ~Toggle() override;

protected:
    //! Takes the sources made by this toggle out of its Qt children: their lifetime follows the
    //! shared pointers, and QObject would otherwise delete those the viewer still holds.
    //! Derived toggles call it from their destructor.
    void releaseSources();
};

}  // namespace lumora
}  // namespace krell
