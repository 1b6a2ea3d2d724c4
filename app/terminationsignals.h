#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGHUP and SIGINT (a kill, a closed terminal, a logout
// that ends the program, Ctrl+C) into a Qt signal delivered by the event
// loop, so the program can end the way Izlaz does instead of dying with
// its entries unsaved. The handler only writes one byte to a pipe, the one
// thing a signal handler may safely do here. One file per system
// (terminationsignals_posix.cpp); where the system ends a session through
// the window system alone, nothing is received here.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

signals:
    // Emitted once per signal received, with its number.
    void received(int signal);

private:
    // The POSIX side: the read end of the handler's pipe, watched by the
    // event loop.
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
