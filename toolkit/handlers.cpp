#include "toolkit/handlers.h"

#include "toolkit/messagebox.h"

#include "store/exception.h"

#include <QScopedValueRollback>
#include <QString>

namespace toolkit {

namespace {

int running = 0;

const QString &errorCaption()
{
    static const QString caption = QStringLiteral("Greška");
    return caption;
}

} // namespace

void showException(const std::exception &e)
{
    if (const auto *own = dynamic_cast<const store::Exception *>(&e)) {
        messageBox(own->message(), errorCaption(), MessageBoxStyle::Ok);
        return;
    }
    // Not one of the program's own failures: the library's words (English,
    // technical) come only after a Croatian sentence a user can read.
    messageBox(QStringLiteral("Dogodila se neočekivana pogreška.\n\nTehnički opis: %1")
                   .arg(QString::fromUtf8(e.what())),
        errorCaption(), MessageBoxStyle::Ok);
}

int runningHandlers() { return running; }

void runHandler(const std::function<void()> &handler)
{
    const QScopedValueRollback<int> depth(running, running + 1);
    try {
        handler();
    } catch (const std::exception &e) {
        showException(e);
    } catch (...) {
        messageBox(QStringLiteral("Dogodila se neočekivana pogreška."), errorCaption(),
            MessageBoxStyle::Ok);
    }
}

} // namespace toolkit
