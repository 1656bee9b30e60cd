#include "lumora-core/track_buffer.h"

#include <QDebug>
#include <QThread>

#include <algorithm>
#include <limits>

#include "scribe/logger.h"

namespace krell {
namespace lumora {

namespace {

// One offset unit is a hundredth of the metric in seconds: metric × 100 000 ticks. A metric of 0
// counts as 0.001 s, so a unit is then 100 ticks.
constexpr int64_t kTicksPerOffsetUnitPerMetric = kTicksPerSecond / 100;
constexpr int64_t kZeroMetricTicksPerUnit = kTicksPerSecond / 1000 / 100;

int64_t saturate(__int128 value) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    return value > kMax ? kMax : value < kMin ? kMin : static_cast<int64_t>(value);
}

// The absolute offset in ticks, exact (pinned to the 64-bit range for absurd inputs).
int64_t offsetToTicks(int offset, int metric) {
    const __int128 perUnit = metric == 0
                                 ? static_cast<__int128>(kZeroMetricTicksPerUnit)
                                 : static_cast<__int128>(metric) * kTicksPerOffsetUnitPerMetric;
    return saturate(perUnit * offset);
}

double ticksToSeconds(int64_t ticks) {
    return static_cast<double>(ticks) / static_cast<double>(kTicksPerSecond);
}

Time shifted(Time t, TimeTicks by) {
    return Time(
        TimeTicks(saturate(static_cast<__int128>(t.time_since_epoch().count()) + by.count())));
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
    const int64_t target = offsetToTicks(offset, metric);
    const int64_t delta = saturate(static_cast<__int128>(target) - offset_ticks_);
    const double seconds = ticksToSeconds(target);
    const double previous = ticksToSeconds(offset_ticks_);
    qDebug() << "setOffset(s) in" << seconds << "old" << previous << "new" << (seconds - previous);
    offset_ = offset;
    offset_metric_ = metric;
    offset_ticks_ = target;
    shiftClips(TimeTicks(delta), ticksToSeconds(delta));
}

void TrackBuffer::setOffsetWithMetrics(float deltaSeconds) {
    const double ticks = static_cast<double>(deltaSeconds) * static_cast<double>(kTicksPerSecond);
    // NaN or a value beyond the 64-bit range would make the cast undefined.
    constexpr double kLimit = 9.2e18;
    if (!(ticks > -kLimit && ticks < kLimit)) return;
    shiftClips(TimeTicks(static_cast<int64_t>(ticks)), deltaSeconds);
}

void TrackBuffer::shiftClips(TimeTicks ticks, double deltaSeconds) {
    const QList<ClipBuffer*> held = clips_;
    for (ClipBuffer* clip : held) {
        if (clip->track_ != this || !clip->setTimeOffset(ticks)) continue;
        qDebug() << "setOffset(s)" << deltaSeconds;
        clip->setBegin(shifted(clip->begin(), ticks));
        clip->setEnd(shifted(clip->end(), ticks));
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
