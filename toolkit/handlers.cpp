#include "handlers.h"

#include "messagebox.h"

#include "exception.h"

#include <QString>

namespace toolkit {

namespace {

const QString &errorCaption()
{
    static const QString caption = QStringLiteral("Greška");
    return caption;
}

} // namespace

void showException(const std::exception &e)
{
    if (const auto *own = dynamic_cast<const store::Exception *>(&e))
        messageBox(own->message(), errorCaption(), MbOk);
    else
        messageBox(QString::fromUtf8(e.what()), errorCaption(), MbOk);
}

void runHandler(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const std::exception &e) {
        showException(e);
    } catch (...) {
        messageBox(QStringLiteral("Dogodila se neočekivana pogreška."), errorCaption(), MbOk);
    }
}

} // namespace toolkit
