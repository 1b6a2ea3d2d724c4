#include "export/textexport.h"

#include "store/clientdataset.h"
#include "store/codepage.h"
#include "store/safefile.h"

namespace textexport {

QStringList buildLines(store::ClientDataSet &table)
{
    // Names are taken from the table at every export, so the values follow
    // whatever field order the table has.
    QStringList columns;
    for (int i = 0; i < table.getFieldCount(); ++i)
        columns << table.fields(i)->fieldName();

    QStringList lines;
    table.first();
    for (int pass = 0; pass < table.recordCount(); ++pass) {
        QString line = QStringLiteral("\"");
        for (qsizetype c = 0; c < columns.size() - 1; ++c) {
            line += table.fieldByName(columns[c])->asString();
            line += QStringLiteral("\";\"");
        }
        line += table.fieldByName(columns.last())->asString();
        line += QLatin1Char('"');
        lines << line;
        table.next();
    }
    return lines;
}

QByteArray encodeLines(const QStringList &lines)
{
    qsizetype size = 0;
    for (const QString &line : lines)
        size += line.size() + 2;
    QByteArray bytes;
    bytes.reserve(size);
    for (const QString &line : lines) {
        bytes += store::codepage::encode(line);
        bytes += "\r\n";
    }
    return bytes;
}

void saveLines(const QString &path, const QStringList &lines)
{
    // The lines carry patient names: a new file is its owner's only, like
    // the register itself. A file replaced keeps the permissions it had.
    store::replaceFileContents(
        path, encodeLines(lines), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace textexport
