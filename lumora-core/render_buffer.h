#pragma once
// RenderBuffer: what the viewer draws; the viewer derives its concrete buffers and names their
// source. UI thread only.
#include <QString>

#include "lumora-core/buffer.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT RenderBuffer : public Buffer {
    Q_OBJECT
    Q_PROPERTY(QString source READ source NOTIFY sourceChanged)
    Q_PROPERTY(bool controlSelected READ controlSelected WRITE setControlSelected NOTIFY
                   controlSelectedChanged)

public:
    explicit RenderBuffer(QObject* parent = nullptr);
    ~RenderBuffer() override;

    //! Names what this buffer shows.
    virtual QString source() const = 0;

    //! Whether the user selected this buffer (false at creation).
    bool controlSelected() const;
    //! Stores `selected` and emits controlSelectedChanged(), also when nothing changed.
    Q_INVOKABLE void setControlSelected(bool selected);

signals:
    void controlSelectedChanged();
    void sourceChanged();

private:
    bool control_selected_ = false;
};

}  // namespace lumora
}  // namespace krell
