#pragma once

#include <exception>
#include <functional>

namespace toolkit {

// Runs code called from the event loop and shows whatever escapes it in a
// message box ("Greška"); the loop then carries on. Qt cannot carry an
// exception through its event loop, so every place where this layer calls
// the program's code on behalf of Qt goes through here.
void runHandler(const std::function<void()> &handler);

// How many handlers are running now: more than none while a handler waits
// in a message box or dialog of its own.
int runningHandlers();

// Shows an exception the way runHandler() does.
void showException(const std::exception &e);

} // namespace toolkit
