#pragma once
// TrackBuffer: a row of the timeline holding clips (not owned) and a user-set time offset that
// shifts the clips that accept it. UI thread only.
#include <QList>
#include <QString>

#include <cstdint>

#include "lumora-core/clip_buffer.h"
#include "lumora-core/time_interval_buffer.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT TrackBuffer : public TimeIntervalBuffer {
    Q_OBJECT
    Q_PROPERTY(QList<krell::lumora::ClipBuffer*> clips READ clips NOTIFY clipsChanged)
    Q_PROPERTY(QString source READ source NOTIFY sourceChanged)
    Q_PROPERTY(QString trackBody READ trackBody WRITE setTrackBody)
    Q_PROPERTY(bool controlSelected READ controlSelected WRITE setControlSelected NOTIFY
                   controlSelectedNotify)
    Q_PROPERTY(int offset READ getOffset WRITE setOffset)

public:
    static constexpr int kStopPolls = 4;
    static constexpr unsigned long kStopPollMs = 200;

    explicit TrackBuffer(QObject* parent = nullptr);
    //! Clears the track pointer of the clips it holds.
    ~TrackBuffer() override;

    //! What the track shows (empty in the base).
    virtual QString source() const;
    //! Replaces the held clips by `clip` (a warning when there were any), takes the clip from the
    //! track that held it before, updates the interval, emits clipsChanged(). Null is refused.
    virtual void addClip(ClipBuffer* clip);
    //! Removes the first occurrence of `clip` (which then has no track), updates the interval,
    //! emits clipsChanged().
    virtual void removeClip(ClipBuffer* clip);
    //! Sorts the clips by begin, emits changed() on every clip and takes the interval
    //! (first begin, last end), or (0, 0) without clips, emitting changed() when it moved.
    virtual void updateTimeInterval();
    //! The held clips (not owned), ordered by begin.
    virtual QList<ClipBuffer*> clips() const;

    //! What the track is made from, as the viewer describes it; the setter emits nothing.
    QString trackBody() const;
    void setTrackBody(QString body);
    //! Whether the user selected this track (false at creation).
    bool controlSelected() const;
    //! Stores `selected` and emits controlSelectedNotify(selected).
    Q_INVOKABLE void setControlSelected(bool selected);
    //! Offset in hundredths of the metric.
    Q_INVOKABLE int getOffset() const;
    //! Stores the offset and shifts the clips by the change of the absolute offset, in whole ticks
    //! (offset × metric × 100 000; pinned to the 64-bit range).
    Q_INVOKABLE void setOffset(int offset);
    //! Stores the metric (seconds per offset unit ×100; 0 counts as 0.001) and shifts the clips.
    Q_INVOKABLE void setOffsetMetrics(int metric);
    //! Stops every running clip (waiting up to 4 × 200 ms for them to stop), then removes the
    //! sub-instance of the first clip that has one. True when one was removed. Blocks the caller.
    Q_INVOKABLE bool deleteTrack();

signals:
    void sourceChanged();
    void clipsChanged();
    void trackBodyChanged();
    void controlSelectedNotify(bool selected);
    void onOffsetChanged(int offset);

protected:
    //! Shifts every clip of this track that accepts it by `deltaSeconds` (truncated to ticks).
    //! setOffset() and setOffsetMetrics() do not pass through here: they shift by whole ticks.
    void setOffsetWithMetrics(float deltaSeconds);

    //! Appends `clip` without removing the held ones, for tracks that hold several clips: the clip
    //! leaves its previous track and points to this one. Emits nothing; call updateTimeInterval().
    void appendClip(ClipBuffer* clip);

private:
    friend class ClipBuffer;
    // Drops a clip that is being destroyed without calling back into it.
    void forgetClip(ClipBuffer* clip);
    // Stores new offset and metric and shifts the clips by the change of the absolute offset.
    void applyOffset(int offset, int metric);
    // Shifts every clip of this track that accepts it by `ticks`.
    void shiftClips(TimeTicks ticks, double deltaSeconds);

    QList<ClipBuffer*> clips_;  // not owned; a clip leaves the list when it is destroyed
    QString track_body_;
    bool control_selected_ = false;
    int32_t offset_ = 0;
    int32_t offset_metric_ = 1;
    // The absolute offset in ticks that the clips have been shifted by. Each change shifts them by
    // the difference of two absolute offsets, so no rounding accumulates over many changes.
    int64_t offset_ticks_ = 0;
};

}  // namespace lumora
}  // namespace krell
