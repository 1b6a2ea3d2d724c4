#include "messagebox.h"

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

char *toString(const MessageBoxCall &call)
{
    const QString s = QStringLiteral("{text=\"%1\", caption=\"%2\", style=%3}")
                          .arg(call.text, call.caption)
                          .arg(call.style);
    // QTest frees the result with delete[].
    const QByteArray utf8 = s.toUtf8();
    char *out = new char[size_t(utf8.size()) + 1];
    std::copy(utf8.constData(), utf8.constData() + utf8.size() + 1, out);
    return out;
}

void setMessageBoxHandler(MessageBoxHandler handler) { handlerSlot() = std::move(handler); }

const MessageBoxHandler &messageBoxHandler() { return handlerSlot(); }

void setUnattended(bool unattended) { unattendedSlot() = unattended; }

bool unattended() { return unattendedSlot(); }

int messageBox(const QString &text, const QString &caption, int style)
{
    const bool question = (style & 0xF) == MbYesNo;
    if (unattendedSlot())
        return question ? IdNo : IdOk;
    if (const auto &handler = handlerSlot())
        return handler(MessageBoxCall { text, caption, style });

    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(caption.isEmpty() ? QGuiApplication::applicationDisplayName() : caption);
    // The text often quotes what the user typed; it must never be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setWindowModality(Qt::ApplicationModal);

    if (question) {
        QPushButton *yes = box.addButton(QStringLiteral("Da"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QStringLiteral("Ne"), QMessageBox::NoRole);
        box.setDefaultButton(style & MbDefButton2 ? no : yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? IdYes : IdNo;
    }

    // Any other style falls back to a plain notice: one button, one answer.
    QPushButton *ok = box.addButton(QStringLiteral("U redu"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return IdOk;
}

} // namespace toolkit
