#pragma once
// Source_LM: the base of every data source a toggle makes. The viewer's reader threads poll the
// run flags; the user interface thread clears them to stop the reading.
#include <QObject>

#include <atomic>
#include <cstdint>

#include "lumora-core/lumora_core_export.h"

namespace krell {
namespace lumora {

class LUMORA_CORE_EXPORT Source_LM : public QObject {
    Q_OBJECT

public:
    explicit Source_LM(QObject* parent = nullptr);
    ~Source_LM() override;

    //! Clears both run flags; the reader stops at its next check. Any thread.
    void stop();
    //! Records whether the reader has come to a halt. Any thread (normally the reader's).
    void setStopped(bool stopped);

    //! True until stop(). Any thread.
    bool isRunning() const;
    //! True until stop(). Any thread.
    bool isReading() const;
    //! The value given to setStopped last (false at creation). Any thread.
    bool isStopped() const;

protected:
    std::atomic<uint8_t> running_{1};  // the source as a whole should keep going
    std::atomic<uint8_t> reading_{1};  // the read loop should keep going
    std::atomic<uint8_t> stopped_{0};  // the read loop has ended
    int64_t first_value_ = 0;          // left to derived sources (e.g. a time or byte position)
    int64_t second_value_ = 0;
};

}  // namespace lumora
}  // namespace krell
