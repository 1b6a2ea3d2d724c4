#pragma once

#include <QString>

#include <functional>

namespace toolkit {

// Styles and answers of the classic application message box, so that the
// code asking a question reads the way it always has.
inline constexpr int MbOk = 0;
inline constexpr int MbYesNo = 4;
// Added to MbYesNo: "Ne" is the default button, for questions whose "Da"
// would lose data if pressed by reflex (Enter straight after another box).
inline constexpr int MbDefButton2 = 0x100;
inline constexpr int IdOk = 1;
inline constexpr int IdYes = 6;
inline constexpr int IdNo = 7;

struct MessageBoxCall
{
    QString text;
    QString caption;
    int style = MbOk;
};

bool operator==(const MessageBoxCall &a, const MessageBoxCall &b);
inline bool operator!=(const MessageBoxCall &a, const MessageBoxCall &b) { return !(a == b); }
// Readable form for test failure output (found by QTest through ADL).
char *toString(const MessageBoxCall &call);

// Shows a modal message box over the active window and returns the button
// pressed: style MbOk has one "U redu" button (IdOk), style MbYesNo has "Da"
// (IdYes, the default unless MbDefButton2 is added) and "Ne" (IdNo, also
// what Escape answers). An empty caption stands for the application's
// display name.
int messageBox(const QString &text, const QString &caption, int style);

// While nobody can answer (the program is ending by a signal or with the
// desktop session), messageBox() shows nothing: a notice is answered IdOk
// and every question IdNo, the answer that changes nothing.
void setUnattended(bool unattended);
bool unattended();

// While a handler is set, messageBox() shows nothing and returns the
// handler's answer; an empty function brings the real boxes back.
using MessageBoxHandler = std::function<int(const MessageBoxCall &)>;
void setMessageBoxHandler(MessageBoxHandler handler);
const MessageBoxHandler &messageBoxHandler();

} // namespace toolkit
