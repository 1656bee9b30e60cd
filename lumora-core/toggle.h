#pragma once
// Toggle: the base of the settings objects with which the user picks an input or an output.
// Functors expose toggles as read-only properties so the viewer's interface can find them.
#include <QList>
#include <QObject>
#include <QSharedPointer>
#include <QWeakPointer>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

class Source_LM;

class LUMORA_CORE_EXPORT Toggle : public QObject {
    Q_OBJECT

public:
    explicit Toggle(QObject* parent = nullptr);
    //! Releases the sources made by adoptSource() that are still alive (see releaseSources()).
    ~Toggle() override;

protected:
    //! Records `source`, a Qt child of this toggle made by one of its new…Source() calls and held
    //! by shared pointers: its lifetime follows those pointers, not this toggle. UI thread only.
    void adoptSource(const QSharedPointer<Source_LM>& source);
    //! Takes the adopted sources that are still alive out of this toggle's Qt children, so that
    //! QObject does not delete those the viewer still holds. Any other child, a source made with
    //! this toggle as plain Qt parent included, stays a child and is deleted with the toggle.
    void releaseSources();

private:
    QList<QWeakPointer<Source_LM>> adopted_;  // weak: a source dies with its last shared pointer
};

}  // namespace lumora
}  // namespace krell
