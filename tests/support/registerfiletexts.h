#pragma once

// What the register's file check says, and how its tests plant another
// program's file: shared by the session's tests and the window's.

#include "store/fileidentity.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QTest>

namespace testsupport {

using namespace Qt::StringLiterals;

inline QString native(const QString &path) { return QDir::toNativeSeparators(path); }

// A file's state as the question words it.
inline QString stateOf(const QString &path)
{
    const store::FileIdentity id = store::identifyFile(path);
    return u"izmijenjena %1, veličina %2 B"_s
        .arg(QDateTime::fromMSecsSinceEpoch(id.modified / 1000000)
                 .toString(u"dd.MM.yyyy. 'u' HH:mm:ss"_s))
        .arg(id.size);
}

// Where a question says the file found will be kept: the file's own path
// with a date and time, "<bad name>" for any other name.
inline QString keptNameIn(const QString &question, const QString &file)
{
    static const QRegularExpression said(u"pod imenom \"([^\"]+)\""_s);
    const QRegularExpressionMatch m = said.match(question);
    const QRegularExpression expected(
        u"^%1\\.\\d{8}-\\d{6}(-\\d+)?$"_s.arg(QRegularExpression::escape(native(file))));
    if (!m.hasMatch() || !expected.match(m.captured(1)).hasMatch())
        return u"<bad name>"_s;
    return m.captured(1);
}

inline QString replaceTail(const QString &keptAs)
{
    return u"\n\nZamijeniti tu datoteku podacima iz ovog prozora? Ona se neće izgubiti: prije "
           "zamjene sačuvat će se pod imenom \"%1\".\nNe: ništa se ne zapisuje."_s.arg(keptAs);
}

inline QString replacedText(const QString &file, const QString &was, const QString &is)
{
    return u"Drugi program ili drugi korisnik zamijenio je datoteku registra \"%1\" drugom "
           "datotekom: to više nije ona koju je ovaj program učitao ili zadnji put spremio.\n"
           "Bila je %2.\nSada je %3."_s.arg(native(file), was, is);
}

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Another program's file renamed over the register, as a sync client or a
// restored backup does.
inline void moveOver(const QString &path, const QByteArray &bytes)
{
    const QString other = path + u".drugi"_s;
    writeBytes(other, bytes);
    QFile::remove(path);
    QVERIFY(QFile::rename(other, path));
}

} // namespace testsupport
