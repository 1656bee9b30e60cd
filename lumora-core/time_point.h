#pragma once
// The library's time: a system-clock time point counted in 100 ns ticks since
// 1970-01-01 00:00:00.000 UTC, and its conversions to and from Qt date-times.
// All functions are pure and may be called from any thread.
#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <chrono>
#include <cstdint>
#include <ratio>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

//! One tick is 100 ns.
using TimeTicks = std::chrono::duration<int64_t, std::ratio<1, 10000000>>;
//! A time point of the library; registered with Qt's meta-type system as "Time".
using Time = std::chrono::time_point<std::chrono::system_clock, TimeTicks>;

constexpr int64_t kTicksPerMs = 10000;
constexpr int64_t kTicksPerSecond = 10000000;

//! The UTC date-time of `t`, truncated toward zero to whole milliseconds.
LUMORA_CORE_EXPORT QDateTime toQDateTime(Time t);
//! The time point of `d` in whole milliseconds; an invalid `d` gives what Qt counts for it. A
//! date beyond the range of 64-bit ticks (about ±29 000 years) gives the largest or smallest one.
LUMORA_CORE_EXPORT Time toTime(const QDateTime& d);
//! Parses "yyyy-MM-dd hh:mm:ss.zzz" as a UTC instant, whatever the machine's time zone.
//! A text that does not match gives the count Qt returns for an invalid UTC date-time.
LUMORA_CORE_EXPORT Time dateMsTimeString2Time(const QString& s);

}  // namespace lumora
}  // namespace krell

Q_DECLARE_METATYPE(krell::lumora::Time)
