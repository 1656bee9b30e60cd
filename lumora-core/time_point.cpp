#include "lumora-core/time_point.h"

#include <QDate>
#include <QTime>

namespace krell {
namespace lumora {

namespace {

const QDateTime& epoch() {
    static const QDateTime kEpoch(QDate(1970, 1, 1), QTime(0, 0, 0, 0), Qt::UTC);
    return kEpoch;
}

// Registers the type under the name that properties and invokables spell ("Time").
const int kTimeTypeId = qRegisterMetaType<Time>("Time");

}  // namespace

QDateTime toQDateTime(Time t) {
    return epoch().addMSecs(t.time_since_epoch().count() / 10 / 1000);
}

Time toTime(const QDateTime& d) {
    return Time(TimeTicks(epoch().msecsTo(d) * kTicksPerMs));
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
    return Time(TimeTicks(parsed.toMSecsSinceEpoch() * kTicksPerMs));
}

}  // namespace lumora
}  // namespace krell
