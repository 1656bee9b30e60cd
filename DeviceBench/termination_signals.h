#pragma once
// TerminationSignals: turns SIGTERM and SIGINT into an orderly quit of the event loop, so that a
// session manager, a test rig or Ctrl+C closes DeviceBench the way its window does (the manager
// closes its connection and joins its threads) instead of killing it mid-exchange.

#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    //! Installs the handlers; at most one instance per process. UI thread, after the application
    //! object exists. When the handlers cannot be installed the default actions stay (one warning).
    explicit TerminationSignals(QObject* parent = nullptr);
    //! Restores the default actions.
    ~TerminationSignals() override;

private:
    void OnSignalled();

    QSocketNotifier* notifier_ = nullptr;
};
