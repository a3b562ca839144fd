#pragma once
// The signals that end a program from outside: SIGTERM (logout, kill), SIGHUP (the
// terminal it was started from goes away) and SIGINT (Ctrl+C there). They reach the
// program through its event loop, so that it can end as its user would end it: the
// handler only writes a byte into a pipe whose reading end wakes the loop. A signal the
// program was started with ignored (nohup) stays ignored. Windows has none of them; there
// this does nothing.

#include <QObject>

class QSocketNotifier;

namespace orbelant {

class EndingSignals final : public QObject {
    Q_OBJECT
public:
    // Takes the signals over; one such object in a program.
    explicit EndingSignals(QObject *parent = nullptr);
    // Gives them back to the system's default.
    ~EndingSignals() override;

signals:
    // One or more of the signals arrived; emitted from the event loop.
    void endRequested();

private:
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace orbelant
