#include "lumora-core/track_buffer.h"

#include <QDebug>
#include <QThread>

#include <algorithm>

#include "scribe/logger.h"

namespace krell {
namespace lumora {

namespace {

constexpr double kZeroMetricSeconds = 0.001;

double offsetToSeconds(int offset, int metric) {
    return offset / 100.0 * (metric == 0 ? kZeroMetricSeconds : static_cast<double>(metric));
}

bool beginsBefore(const ClipBuffer* a, const ClipBuffer* b) {
    return a->begin() < b->begin();
}

}  // namespace

TrackBuffer::TrackBuffer(QObject* parent) : TimeIntervalBuffer(parent) {}

TrackBuffer::~TrackBuffer() {
    for (ClipBuffer* clip : clips_) {
        if (clip->track_ == this) clip->track_ = nullptr;
    }
}

QString TrackBuffer::source() const {
    return QString();
}

void TrackBuffer::addClip(ClipBuffer* clip) {
    if (clip == nullptr) {
        SLOG_WARNING("addClip: a null clip is not added to track %s", qUtf8Printable(objectName()));
        return;
    }
    if (!clips_.isEmpty()) {
        qWarning() << "addClip"
                   << "Warning: the same category (type and port) in file! remove them!";
        const QList<ClipBuffer*> held = clips_;
        for (ClipBuffer* old : held)
            removeClip(old);
    }
    appendClip(clip);
    updateTimeInterval();
    emit clipsChanged();
}

void TrackBuffer::appendClip(ClipBuffer* clip) {
    if (clip == nullptr) return;
    // A clip is on one track only: the track that held it before lets it go.
    if (clip->track_ != nullptr && clip->track_ != this) clip->track_->removeClip(clip);
    clips_.append(clip);
    clip->track_ = this;
}

void TrackBuffer::removeClip(ClipBuffer* clip) {
    // A removed clip must not point here any more: it would call back into this track when
    // destroyed, possibly after the track is gone.
    if (clips_.removeOne(clip) && clip->track_ == this && !clips_.contains(clip)) {
        clip->track_ = nullptr;
    }
    updateTimeInterval();
    emit clipsChanged();
}

void TrackBuffer::forgetClip(ClipBuffer* clip) {
    if (!clips_.removeOne(clip)) return;
    updateTimeInterval();
    emit clipsChanged();
}

void TrackBuffer::updateTimeInterval() {
    if (!std::is_sorted(clips_.begin(), clips_.end(), beginsBefore)) {
        std::stable_sort(clips_.begin(), clips_.end(), beginsBefore);
        emit clipsChanged();
    }
    for (ClipBuffer* clip : clips_)
        emit clip->changed();
    const Time begin = clips_.isEmpty() ? Time{} : clips_.first()->begin();
    const Time end = clips_.isEmpty() ? Time{} : clips_.last()->end();
    if (begin != this->begin() || end != this->end()) {
        setBegin(begin);
        setEnd(end);
        emit changed();
    }
}

QList<ClipBuffer*> TrackBuffer::clips() const {
    return clips_;
}

QString TrackBuffer::trackBody() const {
    return track_body_;
}

void TrackBuffer::setTrackBody(QString body) {
    track_body_ = std::move(body);
}

bool TrackBuffer::controlSelected() const {
    return control_selected_;
}

void TrackBuffer::setControlSelected(bool selected) {
    control_selected_ = selected;
    emit controlSelectedNotify(selected);
}

int TrackBuffer::getOffset() const {
    return offset_;
}

void TrackBuffer::setOffset(int offset) {
    applyOffset(offset, offset_metric_);
}

void TrackBuffer::setOffsetMetrics(int metric) {
    applyOffset(offset_, metric);
}

void TrackBuffer::applyOffset(int offset, int metric) {
    const double seconds = offsetToSeconds(offset, metric);
    const float previous = offset_seconds_;
    qDebug() << "setOffset(s) in" << seconds << "old" << previous << "new" << (seconds - previous);
    offset_ = offset;
    offset_metric_ = metric;
    offset_seconds_ = static_cast<float>(seconds);
    setOffsetWithMetrics(static_cast<float>(seconds - previous));
}

void TrackBuffer::setOffsetWithMetrics(float deltaSeconds) {
    const TimeTicks ticks(
        static_cast<int64_t>(static_cast<double>(deltaSeconds) * kTicksPerSecond));
    const QList<ClipBuffer*> held = clips_;
    for (ClipBuffer* clip : held) {
        if (clip->track_ != this || !clip->setTimeOffset(ticks)) continue;
        qDebug() << "setOffset(s)" << deltaSeconds;
        clip->setBegin(clip->begin() + ticks);
        clip->setEnd(clip->end() + ticks);
        updateTimeInterval();
    }
}

bool TrackBuffer::deleteTrack() {
    const QList<ClipBuffer*> held = clips_;
    bool anyRunning = false;
    for (ClipBuffer* clip : held) {
        if (!clip->running()) continue;
        clip->setRunning(false);
        anyRunning = true;
    }
    if (anyRunning) {
        for (int poll = 0; poll < kStopPolls; ++poll) {
            QThread::msleep(kStopPollMs);
            if (std::all_of(held.begin(), held.end(), [](ClipBuffer* c) { return c->stopped(); }))
                break;
        }
    }
    for (ClipBuffer* clip : held) {
        QSharedPointer<Category::Instance> removed;
        Category::Instance* outer = clip->detachSubInstance(removed);
        if (outer == nullptr) continue;
        emit outer->changed();
        // Releasing `removed` may destroy this track together with the clip: nothing may follow.
        return true;
    }
    return false;
}

}  // namespace lumora
}  // namespace krell
