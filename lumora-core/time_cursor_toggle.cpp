#include "lumora-core/time_cursor_toggle.h"

namespace krell {
namespace lumora {

TimeCursorToggle::TimeCursorToggle(QObject* parent) : Toggle(parent) {}

TimeCursorToggle::~TimeCursorToggle() = default;

Time TimeCursorToggle::timeCursor() const {
    return cursor_;
}

void TimeCursorToggle::setTimeCursor(Time cursor) {
    cursor_ = cursor;
}

QDateTime TimeCursorToggle::cursorDateTime() const {
    return toQDateTime(cursor_);
}

void TimeCursorToggle::setCursorDateTime(const QDateTime& dateTime) {
    cursor_ = toTime(dateTime);
}

bool TimeCursorToggle::isCursorChanged(Time time) const {
    return time == cursor_;
}

}  // namespace lumora
}  // namespace krell
