#include "store/messagetext.h"

#include <QDir>

#include <cerrno>
#include <cstring>

namespace store {

namespace {

bool isBidiControl(char16_t c)
{
    return c == 0x061C // ARABIC LETTER MARK
        || c == 0x200E || c == 0x200F // LEFT-TO-RIGHT and RIGHT-TO-LEFT MARK
        || (c >= 0x202A && c <= 0x202E) // embeddings, overrides and their POP
        || (c >= 0x2066 && c <= 0x2069); // isolates and their POP
}

} // namespace

QString shownPath(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    QString out;
    out.reserve(native.size());
    for (const QChar c : native) {
        if (isBidiControl(c.unicode()))
            out += QStringLiteral("<U+%1>").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString systemErrorText(int error)
{
    return systemErrorText(error, QString::fromLocal8Bit(std::strerror(error)));
}

QString systemErrorText(int error, const QString &raw)
{
    QString known;
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT // a user's disk quota: not a POSIX error on every system
    case EDQUOT:
#endif
        known = QStringLiteral("na disku nema mjesta");
        break;
    case EFBIG:
        known = QStringLiteral("datoteka bi bila veća nego što sustav dopušta");
        break;
    case EACCES:
    case EPERM:
        known = QStringLiteral("nema prava pristupa");
        break;
    case EROFS:
        known = QStringLiteral("disk ili mapa su samo za čitanje");
        break;
    case ENOENT:
        known = QStringLiteral("datoteka ili mapa ne postoji");
        break;
    case ENAMETOOLONG:
        known = QStringLiteral("ime je predugo");
        break;
    default:
        return raw;
    }
    return QStringLiteral("%1 (%2)").arg(known, raw);
}

QString entryCount(qint64 count)
{
    // The last digit 1 takes the singular, except in 11, 111, 211...
    const qint64 n = count < 0 ? -count : count;
    const bool one = n % 10 == 1 && n % 100 != 11;
    return QStringLiteral("%1 %2").arg(count).arg(
        one ? QStringLiteral("zapis") : QStringLiteral("zapisa"));
}

} // namespace store
