#include "toolkit/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace toolkit {

namespace {

MessageBoxHandler &handlerSlot()
{
    static MessageBoxHandler handler;
    return handler;
}

bool &unattendedSlot()
{
    static bool unattended = false;
    return unattended;
}

} // namespace

bool operator==(const MessageBoxCall &a, const MessageBoxCall &b)
{
    return a.text == b.text && a.caption == b.caption && a.style == b.style;
}

namespace {

// QTest frees the result with delete[].
char *newCString(const QByteArray &utf8)
{
    char *out = new char[size_t(utf8.size()) + 1];
    std::copy(utf8.constData(), utf8.constData() + utf8.size() + 1, out);
    return out;
}

const char *styleName(MessageBoxStyle style)
{
    switch (style) {
    case MessageBoxStyle::Ok:
        return "Ok";
    case MessageBoxStyle::YesNo:
        return "YesNo";
    case MessageBoxStyle::YesNoDefaultNo:
        return "YesNoDefaultNo";
    }
    return "?";
}

} // namespace

char *toString(const MessageBoxCall &call)
{
    const QString s = QStringLiteral("{text=\"%1\", caption=\"%2\", style=%3}")
                          .arg(call.text, call.caption, QLatin1String(styleName(call.style)));
    return newCString(s.toUtf8());
}

char *toString(MessageBoxStyle style) { return newCString(styleName(style)); }

char *toString(MessageBoxAnswer answer)
{
    switch (answer) {
    case MessageBoxAnswer::Ok:
        return newCString("Ok");
    case MessageBoxAnswer::Yes:
        return newCString("Yes");
    case MessageBoxAnswer::No:
        return newCString("No");
    }
    return newCString("?");
}

void setMessageBoxHandler(MessageBoxHandler handler) { handlerSlot() = std::move(handler); }

const MessageBoxHandler &messageBoxHandler() { return handlerSlot(); }

void setUnattended(bool unattended) { unattendedSlot() = unattended; }

bool unattended() { return unattendedSlot(); }

MessageBoxAnswer messageBox(const QString &text, const QString &caption, MessageBoxStyle style)
{
    const bool question = isQuestion(style);
    if (unattendedSlot())
        return question ? MessageBoxAnswer::No : MessageBoxAnswer::Ok;
    if (const auto &handler = handlerSlot())
        return handler(MessageBoxCall { text, caption, style });

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption);
    // The text often quotes what the user typed; it must never be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setWindowModality(Qt::ApplicationModal);

    // Every answer has its key: D, N or U, with Alt or without (the box
    // takes a bare letter for the button it marks). Enter presses the
    // button that has the focus, Space too.
    if (question) {
        QPushButton *yes = box.addButton(QStringLiteral("&Da"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QStringLiteral("&Ne"), QMessageBox::NoRole);
        box.setDefaultButton(style == MessageBoxStyle::YesNoDefaultNo ? no : yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
    }

    QPushButton *ok = box.addButton(QStringLiteral("&U redu"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return MessageBoxAnswer::Ok;
}

} // namespace toolkit
