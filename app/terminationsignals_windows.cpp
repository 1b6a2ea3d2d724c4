#include "app/terminationsignals.h"

// Windows sends a windowed program no signals: the end of the user's
// session reaches it through the window system, as Qt's session manager's
// commitDataRequest, which saves as Izlaz does; a plain close of the window
// (Alt+F4, the taskbar, taskkill without /F) is Izlaz itself. Nothing is
// received here.
TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::readPipe() { }
