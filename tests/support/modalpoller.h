#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QWidget;

namespace testsupport {

// Answers a real modal widget (a message box, a file dialog) that a test
// opens: looks for one every few milliseconds once the event loop runs and
// hands it to `act`, which returns true when the poller's work is done and
// false to go on looking (for the next box). Past its deadline it stops and
// rejects whatever modal widget is open, so a box nobody expected ends the
// test with a failure instead of hanging it.
class ModalPoller : public QObject
{
public:
    explicit ModalPoller(std::function<bool(QWidget *)> act, int deadlineMs = 20000);

    // How many times `act` was given a widget.
    int handled() const { return m_handled; }
    // The deadline passed before `act` said it was done.
    bool expired() const { return m_expired; }
    bool done() const { return m_done; }
    void stop();

private:
    void poll();

    std::function<bool(QWidget *)> m_act;
    int m_deadlineMs;
    QElapsedTimer m_since;
    QTimer m_timer;
    int m_handled = 0;
    bool m_expired = false;
    bool m_done = false;
};

} // namespace testsupport
