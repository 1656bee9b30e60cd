#pragma once
// TimeIntervalBuffer: a span [begin, end] on the timeline, in time points of 100 ns ticks.
// UI thread only.
#include <QDateTime>

#include "lumora-core/buffer.h"
#include "lumora-core/time_point.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT TimeIntervalBuffer : public Buffer {
    Q_OBJECT
    Q_PROPERTY(double beginSeconds READ beginSeconds WRITE setBeginSeconds NOTIFY changed)
    Q_PROPERTY(double endSeconds READ endSeconds WRITE setEndSeconds NOTIFY changed)
    Q_PROPERTY(QDateTime beginDateTime READ beginDateTime NOTIFY changed)
    Q_PROPERTY(QDateTime endDateTime READ endDateTime NOTIFY changed)

public:
    explicit TimeIntervalBuffer(QObject* parent = nullptr);
    ~TimeIntervalBuffer() override;

    //! Seconds since 1970-01-01 UTC.
    virtual double beginSeconds() const;
    virtual double endSeconds() const;
    //! Store the seconds truncated toward zero to whole ticks (NaN counts as 0, out-of-range values
    //! saturate); emit nothing.
    virtual void setBeginSeconds(double seconds);
    virtual void setEndSeconds(double seconds);
    virtual QDateTime beginDateTime() const;
    virtual QDateTime endDateTime() const;

    //! The bounds as time points.
    Time begin() const;
    Time end() const;
    //! Store a bound; emit nothing.
    void setBegin(Time begin);
    void setEnd(Time end);

signals:
    void changed();

private:
    Time begin_{};
    Time end_{};
};

}  // namespace lumora
}  // namespace krell
