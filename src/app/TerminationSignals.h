#pragma once
// Turns SIGTERM and SIGINT (a session's logout, Ctrl+C in a terminal) into a
// Qt signal on the user-interface thread, so the player ends the way "Exit"
// ends it: a running recording is filed and the settings are saved.
//
// The signal handler only writes one byte to a socket pair; a socket
// notifier reads it in the event loop (the usual self-pipe pattern, since
// almost nothing is safe inside a signal handler).

#include <QObject>

class QSocketNotifier;

namespace tolvane {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for SIGTERM and SIGINT; one instance per process.
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    // Emitted on the user-interface thread once per signal received.
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tolvane
