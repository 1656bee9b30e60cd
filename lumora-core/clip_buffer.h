#pragma once
// ClipBuffer: one recording or stream placed on the timeline. The viewer derives its clips and
// overrides the state operations. A clip lives in a functor of a sub-instance of an outer
// Category::Instance; deleting the clip removes that sub-instance. UI thread only.
#include <QSharedPointer>

#include "lumora-core/category.h"
#include "lumora-core/time_interval_buffer.h"

namespace krell {
namespace lumora {

class TrackBuffer;

class LUMORA_CORE_EXPORT ClipBuffer : public TimeIntervalBuffer {
    Q_OBJECT
    Q_PROPERTY(bool running READ running WRITE setRunning NOTIFY changed)
    Q_PROPERTY(bool loading READ loading WRITE setLoading NOTIFY changed)
    Q_PROPERTY(bool pcapLoading READ pcapLoading NOTIFY changed)

public:
    static constexpr unsigned long kStopWaitMs = 300;

    explicit ClipBuffer(QObject* parent = nullptr);
    //! Leaves the track that holds the clip.
    ~ClipBuffer() override;

public slots:
    //! Returns the clip to its initial state (the base does nothing).
    virtual void reset();

public:
    virtual bool running() const;
    virtual bool pcapLoading() const;
    virtual bool stopped() const;
    virtual void setRunning(bool running);
    virtual bool loading() const;
    virtual void setLoading(bool loading);
    //! Asks the clip to shift by `offset`; true when it accepts (the base refuses).
    virtual bool setTimeOffset(TimeTicks offset);

    //! The track that added the clip last; null when none.
    TrackBuffer* track() const;

    //! Stops the clip (waiting 300 ms when it ran), then removes its sub-instance from the outer
    //! instance, which emits changed(). The clip may be destroyed before this returns; a clip that
    //! is not inside a sub-instance is refused with one log line. Blocks the calling thread.
    Q_INVOKABLE void deleteClip();

private:
    friend class TrackBuffer;

    // Takes the sub-instance holding this clip out of the outer instance's map, kept alive in
    // `removed`. Returns the outer instance, or null when nothing was removed.
    Category::Instance* detachSubInstance(QSharedPointer<Category::Instance>& removed);

    TrackBuffer* track_ = nullptr;
};

}  // namespace lumora
}  // namespace krell
