#pragma once

#include <QString>

#include <functional>

namespace toolkit {

// The captions of the program's message boxes, the same in every one.
namespace caption {
inline QString error() { return QStringLiteral("Greška"); }
inline QString notice() { return QStringLiteral("Poruka"); }
inline QString warning() { return QStringLiteral("Pažnja!"); }
} // namespace caption

// The buttons a message box offers.
enum class MessageBoxStyle {
    Ok, // one "U redu" button: a notice
    YesNo, // "Da" (the default) and "Ne": a question; D, N and U answer too
    // "Da" and "Ne" with "Ne" the default, for questions whose "Da" would
    // lose data if pressed by reflex (Enter straight after another box).
    YesNoDefaultNo,
};

// The button that closed a message box.
enum class MessageBoxAnswer { Ok, Yes, No };

constexpr bool isQuestion(MessageBoxStyle style) { return style != MessageBoxStyle::Ok; }

struct MessageBoxCall
{
    QString text;
    QString caption;
    MessageBoxStyle style = MessageBoxStyle::Ok;
};

bool operator==(const MessageBoxCall &a, const MessageBoxCall &b);
inline bool operator!=(const MessageBoxCall &a, const MessageBoxCall &b) { return !(a == b); }
// Readable forms for test failure output (found by QTest through ADL).
char *toString(const MessageBoxCall &call);
char *toString(MessageBoxStyle style);
char *toString(MessageBoxAnswer answer);

// Shows a modal message box over the active window and returns the button
// pressed; in a question Escape answers "Ne". An empty caption stands for
// the application's display name.
MessageBoxAnswer messageBox(const QString &text, const QString &caption, MessageBoxStyle style);

// While nobody can answer (the program is ending by a signal or with the
// desktop session), messageBox() shows nothing: a notice is answered Ok
// and every question No, the answer that changes nothing.
void setUnattended(bool unattended);
bool unattended();

// While a handler is set, messageBox() shows nothing and returns the
// handler's answer; an empty function brings the real boxes back.
using MessageBoxHandler = std::function<MessageBoxAnswer(const MessageBoxCall &)>;
void setMessageBoxHandler(MessageBoxHandler handler);
const MessageBoxHandler &messageBoxHandler();

} // namespace toolkit
