#pragma once
// Reporter: how the manager's operation classes tell the user what happened. The manager
// implements it and turns each call into a property change and a signal on the UI thread; the
// operations never touch the toolkit themselves. OperationError is the text error an operation
// raises; the invokable that started the work decides which message it becomes.

#include <stdexcept>
#include <string>

//! What an operation announces; each maps to one manager signal or action.
enum class ManagerEvent {
    kConnectionChanged,     // isConnectedChanged
    kValuesRead,            // myMapChanged
    kFovChanged,            // fovConfigChanged
    kTimerValuesRead,       // myTimerMapChanged
    kMinkaInfoChanged,      // minkaLidarInfoChanged
    kVarOutOfRange,         // someVarOutOfRange(subject: the variable's name)
    kDownloadingChanged,    // isDownloadLogChanged
    kOperationLogFinished,  // downloadOperationLogFinished(subject "ok": true, else false)
    kLogDownloadFinished,   // downloadFinished
    kLinkEnded,             // the sensor drops the link (restart, reset): the manager's Stop
    kUpgradingChanged,      // isUpgradingChanged
    kPblQueryChanged,       // isGetPBLVersionChanged
};

class Reporter {
public:
    virtual ~Reporter() = default;
    //! One log-window line; `type` is "INFO", "WARNING", "ERROR" or "BYTES". Any thread.
    virtual void Log(const std::string& text, const std::string& type) = 0;
    //! Sets `errorMessage` (an empty text is stored without a signal). Any thread.
    virtual void Error(const std::string& text) = 0;
    //! Sets `successMessage` (an empty text is stored without a signal). Any thread.
    virtual void Success(const std::string& text) = 0;
    //! Announces `event`; `subject` is the detail the event names (see ManagerEvent). Any
    //! thread; kLinkEnded from the UI thread takes effect before Notify returns.
    virtual void Notify(ManagerEvent event, const std::string& subject = std::string()) = 0;
};

//! Subject of kOperationLogFinished for a download that succeeded.
constexpr const char* kEventSubjectOk = "ok";

//! A failed operation step; what() is the reason shown to the user.
class OperationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
