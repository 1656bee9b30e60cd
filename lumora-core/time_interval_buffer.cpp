#include "lumora-core/time_interval_buffer.h"

#include <cmath>
#include <limits>

namespace krell {
namespace lumora {

namespace {

Time secondsToTime(double seconds) {
    // A cast of NaN or of a value beyond the 64-bit range is undefined; such input comes from the
    // user interface, so it is pinned instead.
    const double ticks = seconds * static_cast<double>(kTicksPerSecond);
    if (std::isnan(ticks)) return Time{};
    constexpr double kLimit = 9.2e18;
    if (ticks >= kLimit) return Time(TimeTicks(std::numeric_limits<int64_t>::max()));
    if (ticks <= -kLimit) return Time(TimeTicks(std::numeric_limits<int64_t>::min()));
    return Time(TimeTicks(static_cast<int64_t>(ticks)));
}

double timeToSeconds(Time t) {
    return static_cast<double>(t.time_since_epoch().count()) / static_cast<double>(kTicksPerSecond);
}

}  // namespace

TimeIntervalBuffer::TimeIntervalBuffer(QObject* parent) : Buffer(parent) {}

TimeIntervalBuffer::~TimeIntervalBuffer() = default;

double TimeIntervalBuffer::beginSeconds() const {
    return timeToSeconds(begin_);
}

double TimeIntervalBuffer::endSeconds() const {
    return timeToSeconds(end_);
}

void TimeIntervalBuffer::setBeginSeconds(double seconds) {
    begin_ = secondsToTime(seconds);
}

void TimeIntervalBuffer::setEndSeconds(double seconds) {
    end_ = secondsToTime(seconds);
}

QDateTime TimeIntervalBuffer::beginDateTime() const {
    return toQDateTime(begin_);
}

QDateTime TimeIntervalBuffer::endDateTime() const {
    return toQDateTime(end_);
}

Time TimeIntervalBuffer::begin() const {
    return begin_;
}

Time TimeIntervalBuffer::end() const {
    return end_;
}

void TimeIntervalBuffer::setBegin(Time begin) {
    begin_ = begin;
}

void TimeIntervalBuffer::setEnd(Time end) {
    end_ = end;
}

}  // namespace lumora
}  // namespace krell
