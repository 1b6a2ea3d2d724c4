#include "toolkit/savedialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace toolkit {

namespace {

SaveDialog::Handler &handlerSlot()
{
    static SaveDialog::Handler handler;
    return handler;
}

} // namespace

SaveDialog::SaveDialog(QObject *parent)
    : QObject(parent)
{
}

void SaveDialog::setHandler(Handler handler) { handlerSlot() = std::move(handler); }

QStringList SaveDialog::toNameFilters(const QString &filter)
{
    QStringList out;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        for (QString &p : patterns)
            p = p.trimmed();
        const QString list = patterns.join(u' ');
        // QFileDialog reads the patterns from the last parentheses; most
        // descriptions already end with them.
        const QString suffix = QStringLiteral("(%1)").arg(list);
        if (description.endsWith(suffix))
            out.append(description);
        else if (description.isEmpty())
            out.append(suffix);
        else
            out.append(description + u' ' + suffix);
    }
    return out;
}

std::optional<QString> SaveDialog::ask(QWidget *parent) const
{
    if (const Handler &handler = handlerSlot())
        return handler(*this);

    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // No title of its own: the system's usual one for saving.
    dialog.setWindowTitle(QFileDialog::tr("Save As"));
    const QStringList filters = nameFilters();
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (!m_fileName.isEmpty())
        dialog.selectFile(m_fileName);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.first();
}

bool SaveDialog::execute(QWidget *parent)
{
    const std::optional<QString> chosen = ask(parent);
    if (!chosen || chosen->trimmed().isEmpty())
        return false;
    QString path = QDir::cleanPath(QDir::current().absoluteFilePath(*chosen));
    // "izvoz" becomes "izvoz.txt"; a name with any extension is kept as given.
    if (!m_defaultExt.isEmpty() && !QFileInfo(path).fileName().contains(u'.'))
        path += u'.' + m_defaultExt;
    m_fileName = path;
    return true;
}

} // namespace toolkit
