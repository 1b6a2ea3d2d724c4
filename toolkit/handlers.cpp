#include "toolkit/handlers.h"

#include "toolkit/messagebox.h"

#include "store/exception.h"

#include <QScopedValueRollback>
#include <QString>

namespace toolkit {

namespace {

int running = 0;

} // namespace

void showException(const std::exception &e)
{
    if (const auto *own = dynamic_cast<const store::Exception *>(&e)) {
        messageBox(own->message(), caption::error(), MessageBoxStyle::Ok);
        return;
    }
    // Not one of the program's own failures: the library's words (English,
    // technical) come only after a Croatian sentence a user can read.
    messageBox(QStringLiteral("Dogodila se neočekivana pogreška.\n\nTehnički opis: %1")
                   .arg(QString::fromUtf8(e.what())),
        caption::error(), MessageBoxStyle::Ok);
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
        messageBox(QStringLiteral("Dogodila se neočekivana pogreška."), caption::error(),
            MessageBoxStyle::Ok);
    }
}

} // namespace toolkit
