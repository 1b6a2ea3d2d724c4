#include "toolkit/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace toolkit {

bool installQtTranslations(const QLocale &locale)
{
    // Lives as long as the application: a translator removed or destroyed
    // takes its texts with it.
    auto *translator = new QTranslator(QCoreApplication::instance());
    // Where the system keeps Qt's translations; a Windows build carries its
    // own among its resources.
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        && !translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
            QStringLiteral(":/translations"))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

} // namespace toolkit
