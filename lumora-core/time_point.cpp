#include "lumora-core/time_point.h"

#include <QDate>
#include <QTime>

#include <limits>

namespace krell {
namespace lumora {

namespace {

const QDateTime& epoch() {
    static const QDateTime kEpoch(QDate(1970, 1, 1), QTime(0, 0, 0, 0), Qt::UTC);
    return kEpoch;
}

// Registers the type under the name that properties and invokables spell ("Time").
const int kTimeTypeId = qRegisterMetaType<Time>("Time");

// Milliseconds to ticks, pinned to the 64-bit range: Qt counts milliseconds far beyond the
// ±29 000 years that ticks can hold, and the plain product would overflow.
Time fromMs(qint64 ms) {
    constexpr int64_t kMaxMs = std::numeric_limits<int64_t>::max() / kTicksPerMs;
    constexpr int64_t kMinMs = std::numeric_limits<int64_t>::min() / kTicksPerMs;
    if (ms > kMaxMs) return Time(TimeTicks(std::numeric_limits<int64_t>::max()));
    if (ms < kMinMs) return Time(TimeTicks(std::numeric_limits<int64_t>::min()));
    return Time(TimeTicks(ms * kTicksPerMs));
}

}  // namespace

QDateTime toQDateTime(Time t) {
    return epoch().addMSecs(t.time_since_epoch().count() / 10 / 1000);
}

Time toTime(const QDateTime& d) {
    return fromMs(epoch().msecsTo(d));
}

Time dateMsTimeString2Time(const QString& s) {
    // Date and time are parsed apart and joined as UTC: parsing the whole text as local time
    // first would shift or reject instants that fall into a local daylight-saving gap.
    constexpr int kTextLength = 23;
    // An unmatched text stays an invalid date-time marked UTC, whose count does not depend on the
    // machine's zone either.
    QDateTime parsed;
    parsed.setTimeSpec(Qt::UTC);
    if (s.size() == kTextLength && s.at(10) == QLatin1Char(' ')) {
        const QDate date = QDate::fromString(s.left(10), QStringLiteral("yyyy-MM-dd"));
        const QTime time = QTime::fromString(s.mid(11), QStringLiteral("hh:mm:ss.zzz"));
        if (date.isValid() && time.isValid()) parsed = QDateTime(date, time, Qt::UTC);
    }
    return fromMs(parsed.toMSecsSinceEpoch());
}

}  // namespace lumora
}  // namespace krell
