#pragma once
// TimeCursorToggle: the timeline's cursor, as a time point and as a date-time. UI thread only.
#include <QDateTime>

#include "lumora-core/time_point.h"
#include "lumora-core/toggle.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT TimeCursorToggle : public Toggle {
    Q_OBJECT
    Q_PROPERTY(Time timeCursor READ timeCursor WRITE setTimeCursor)
    Q_PROPERTY(QDateTime cursorDateTime READ cursorDateTime WRITE setCursorDateTime)

public:
    explicit TimeCursorToggle(QObject* parent = nullptr);
    ~TimeCursorToggle() override;

    //! The cursor (0 ticks at creation).
    virtual Time timeCursor() const;
    virtual void setTimeCursor(Time cursor);
    //! The cursor as a UTC date-time, whole milliseconds.
    virtual QDateTime cursorDateTime() const;
    //! Moves the cursor to `dateTime` (whole milliseconds).
    virtual void setCursorDateTime(const QDateTime& dateTime);

    //! True when `time` is exactly the cursor set last.
    Q_INVOKABLE bool isCursorChanged(Time time) const;

private:
    Time cursor_{};
};

}  // namespace lumora
}  // namespace krell
