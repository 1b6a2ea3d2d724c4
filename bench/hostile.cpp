#include "bench/hostile.h"

#include "bench/sampleregister.h"

#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "store/exception.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <new>

namespace bench {

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Each process measured may map at most this much: four times the largest
// file, with room for the program's libraries. What needs more is stopped
// by the system (an allocation fails) instead of taking the machine.
constexpr qint64 AddressSpaceLimit = 2048 * MiB;

// What takes longer is stopped and reported so (xmllint, too, compares
// every attribute of an element with every other one).
constexpr int TimeLimitMs = 120000;

// Streams a file made of a head, a unit repeated, and a tail.
class Writer
{
public:
    explicit Writer(const QString &path)
        : m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw store::Exception(QStringLiteral("cannot write %1").arg(path));
    }
    void put(const QByteArray &bytes)
    {
        if (m_file.write(bytes) != bytes.size())
            throw store::Exception(QStringLiteral("cannot write %1").arg(m_file.fileName()));
    }
    // `unit` times `count`, in blocks of about a megabyte.
    void repeat(const QByteArray &unit, qint64 count)
    {
        const qint64 perBlock = std::max<qint64>(1, MiB / unit.size());
        const QByteArray block = unit.repeated(perBlock);
        for (; count >= perBlock; count -= perBlock)
            put(block);
        put(unit.repeated(count));
    }
    qint64 size() const { return m_file.size(); }

private:
    QFile m_file;
};

// The program's own packet around the rows, split where the rows go.
struct OwnPacket
{
    QByteArray head;
    QByteArray tail;
};

OwnPacket ownPacket()
{
    const QByteArray empty = store::serializeDataPacket({});
    const qsizetype rows = empty.indexOf("<ROWDATA>\n") + 10;
    return { empty.left(rows), empty.mid(rows) };
}

// Rows of the program's own register, `count` of them, as the program
// writes them (no head, no tail).
QByteArray ownRows(int count)
{
    const QByteArray whole = store::serializeDataPacket(sampleRegister(count));
    const OwnPacket own = ownPacket();
    return whole.mid(own.head.size(), whole.size() - own.head.size() - own.tail.size());
}

struct Hostile
{
    const char *name;
    const char *what;
    std::function<void(Writer &)> write;
};

// Units repeated up to about the size limit, with head and tail around.
qint64 fill(qint64 used, const QByteArray &unit)
{
    return (store::MaxDataFileSize - used) / unit.size();
}

// The program's own head, `count` copies of one row, its tail.
std::function<void(Writer &)> repeatedRow(const OwnPacket &own, const QByteArray &row, qint64 count)
{
    return [own, row, count](Writer &w) {
        w.put(own.head);
        w.repeat(row, count);
        w.put(own.tail);
    };
}

std::vector<Hostile> hostileFiles()
{
    const OwnPacket own = ownPacket();
    const QByteArray declaration = own.head.left(own.head.indexOf('\n') + 1);
    const QByteArray afterDeclaration = own.head.mid(declaration.size()) + own.tail;
    QByteArray rowOf64Attributes = "<ROW";
    for (int i = 0; i < 64; ++i)
        rowOf64Attributes += " a" + QByteArray::number(i) + "=\"\"";
    rowOf64Attributes += "/>\n";
    return {
        { "attributes", "one ROW with 2 million attributes",
            [own](Writer &w) {
                w.put(own.head + "<ROW");
                QByteArray attributes;
                for (int i = 0; i < 2000000; ++i) {
                    attributes += " a" + QByteArray::number(i) + "=\"\"";
                    if (attributes.size() > MiB) {
                        w.put(attributes);
                        attributes.clear();
                    }
                }
                w.put(attributes + "/>\n" + own.tail);
            } },
        { "comment-16", "a comment of 16 MB",
            [=](Writer &w) {
                w.put(declaration + "<!--");
                w.repeat("x", 16 * MiB);
                w.put("-->\n" + afterDeclaration);
            } },
        { "comment-120", "a comment of 120 MB",
            [=](Writer &w) {
                w.put(declaration + "<!--");
                w.repeat("x", 120 * MiB);
                w.put("-->\n" + afterDeclaration);
            } },
        { "pi-120", "a processing instruction of 120 MB",
            [=](Writer &w) {
                w.put(declaration + "<?pi ");
                w.repeat("x", 120 * MiB);
                w.put("?>\n" + afterDeclaration);
            } },
        { "nested", "40 million unclosed nested elements (120 MB)",
            [own](Writer &w) {
                w.put(own.head.left(own.head.indexOf("<PARAMS/>")) + "<PARAMS>");
                w.repeat("<a>", 40000000);
            } },
        { "empty-rows", "19 million empty ROWs (127 MiB)", repeatedRow(own, "<ROW/>\n", 19000000) },
        { "empty-rows-200000", "200000 empty ROWs (the row bound)",
            repeatedRow(own, "<ROW/>\n", 200000) },
        { "tiny-rows-200000", "200000 ROWs of one field of one character",
            repeatedRow(own, "<ROW Mjesto=\"a\"/>\n", 200000) },
        { "number-rows-200000", "200000 ROWs of one number of one digit",
            repeatedRow(own, "<ROW Cijena=\"1\"/>\n", 200000) },
        { "space", "120 MB of space between two rows",
            [own](Writer &w) {
                w.put(own.head + "<ROW/>");
                w.repeat(" ", 120 * MiB);
                w.put("<ROW/>\n" + own.tail);
            } },
        { "value", "one attribute value of 120 MB",
            [own](Writer &w) {
                w.put(own.head + "<ROW Naziv=\"");
                w.repeat("x", 120 * MiB);
                w.put("\"/>\n" + own.tail);
            } },
        { "attributes-64", "ROWs of 64 attributes each, up to the size limit",
            repeatedRow(own, rowOf64Attributes,
                fill(own.head.size() + own.tail.size(), rowOf64Attributes)) },
        { "nesting-32", "elements 32 deep, again and again, up to the size limit",
            [own](Writer &w) {
                const qsizetype params = own.head.indexOf("<PARAMS/>");
                const QByteArray nest
                    = QByteArray("<a>").repeated(29) + QByteArray("</a>").repeated(29);
                w.put(own.head.left(params) + "<PARAMS>");
                w.repeat(nest, fill(own.head.size() + own.tail.size() + 20, nest));
                w.put("</PARAMS>" + own.head.mid(params + 9) + own.tail);
            } },
        { "register-200000", "a register of 200000 records (the row bound)",
            [own](Writer &w) { w.put(own.head + ownRows(200000) + own.tail); } },
        { "older-200000", "the same as the older program wrote it (Windows-1250)",
            [own](
                Writer &w) { w.put(olderProgramsBytes(own.head + ownRows(200000) + own.tail)); } },
        { "register-350000", "a register of 350000 records, up to the size limit",
            [own](Writer &w) {
                const QByteArray half = ownRows(175000);
                w.put(own.head + half + half + own.tail);
            } },
        { "euro", "Windows-1250 text of characters 3 bytes long in UTF-8, up to the size limit",
            [own](Writer &w) {
                // Fifteen text fields of 4 KB of euro signs per row: every
                // byte of the file but the markup becomes three.
                const QByteArray head = QByteArray(own.head).replace(
                    "standalone=\"yes\"", "encoding=\"windows-1250\" standalone=\"yes\"");
                QByteArray row = "<ROW";
                for (const char *field : { "Tar_br", "Ljekarna", "Naziv", "Gen_ime", "ATK",
                         "Proizvodjac", "Pacijent", "Jed_mjere", "Valuta", "Protokol", "Propisivac",
                         "Ustanova", "Hpbroj", "Mjesto", "Adresa" })
                    row += QByteArray(" ") + field + "=\"" + QByteArray(4096, '\x80') + "\"";
                row += "/>\n";
                w.put(head);
                w.repeat(row, fill(head.size() + own.tail.size(), row));
                w.put(own.tail);
            } },
    };
}

qint64 peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

struct Run
{
    bool ran = false;
    double ms = 0;
    double peakMiB = -1; // over the process's empty start, where known
    QString result;
};

// The reason in one of the program's refusals, after the file's name and
// any position.
QString reasonOf(const QString &message, const QString &path)
{
    const qsizetype afterName = message.indexOf(path) + path.size();
    return message.mid(message.indexOf(QLatin1String(": "), afterName) + 2);
}

Run runProgram(const QString &program, const QString &path)
{
    QProcess child;
    child.start(QStringLiteral("prlimit"),
        { QStringLiteral("--as=%1").arg(AddressSpaceLimit), QStringLiteral("--"), program,
            QStringLiteral("--load-file"), path });
    Run run;
    if (!child.waitForFinished(TimeLimitMs)) {
        child.kill(); // prlimit has become the program itself
        child.waitForFinished();
        run.result = QStringLiteral("did not finish in %1 s").arg(TimeLimitMs / 1000);
        return run;
    }
    // "ms hwm-before hwm-after result", see loadAndReport()
    const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
    const QStringList parts = out.split(QLatin1Char(' '));
    if (child.exitStatus() != QProcess::NormalExit || parts.size() < 4) {
        run.result = QStringLiteral("failed: %1 %2")
                         .arg(out, QString::fromUtf8(child.readAllStandardError()).trimmed())
                         .left(120);
        return run;
    }
    run.ran = true;
    run.ms = parts[0].toDouble();
    run.peakMiB = (parts[2].toDouble() - parts[1].toDouble()) / 1024;
    run.result = parts.mid(3).join(QLatin1Char(' '));
    return run;
}

Run runXmllint(const QString &path)
{
    Run run;
    const QString xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
    const QString time = QStandardPaths::findExecutable(
        QStringLiteral("time"), { QStringLiteral("/usr/bin"), QStringLiteral("/bin") });
    if (xmllint.isEmpty() || time.isEmpty()) {
        run.result = QStringLiteral("needs xmllint and GNU time");
        return run;
    }
    // GNU time reports the peak of xmllint alone: it starts xmllint (through
    // timeout, which stops it at the time limit) from its own small process,
    // not from this one.
    QProcess child;
    child.start(QStringLiteral("prlimit"),
        { QStringLiteral("--as=%1").arg(AddressSpaceLimit), QStringLiteral("--"), time,
            QStringLiteral("-f"), QStringLiteral("@@time %e %M %x"), QStringLiteral("timeout"),
            QStringLiteral("-s"), QStringLiteral("KILL"), QString::number(TimeLimitMs / 1000),
            xmllint, QStringLiteral("--noout"), path });
    if (!child.waitForFinished(TimeLimitMs + 60000)) {
        child.kill();
        child.waitForFinished();
        run.result = QStringLiteral("did not finish");
        return run;
    }
    const QStringList lines
        = QString::fromUtf8(child.readAllStandardError()).split(QLatin1Char('\n'));
    QString said;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("@@time "))) {
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts.value(3) == QLatin1String("137")) {
                run.result = QStringLiteral("did not finish in %1 s").arg(TimeLimitMs / 1000);
                return run;
            }
            run.ran = true;
            run.ms = parts.value(1).toDouble() * 1000;
            run.peakMiB = parts.value(2).toDouble() / 1024;
        } else if (said.isEmpty() && !line.trimmed().isEmpty()
            && !line.startsWith(QLatin1String("Command exited"))) {
            // "file:line: parser error : reason"
            said = line.mid(line.indexOf(QLatin1String(": ")) + 2).trimmed();
        }
    }
    run.result = said.isEmpty() ? QStringLiteral("well-formed") : said.left(60);
    return run;
}

} // namespace

bool writeHostileFile(const QString &name, const QString &path)
{
    for (const Hostile &h : hostileFiles()) {
        if (QLatin1String(h.name) == name) {
            Writer w(path);
            h.write(w);
            return true;
        }
    }
    return false;
}

int loadAndReport(const QString &path)
{
    const qint64 before = peakResidentKiB();
    QElapsedTimer timer;
    timer.start();
    QString result;
    try {
        store::ClientDataSet table;
        table.assignRecords(store::loadDataPacketFile(path));
        result = QStringLiteral("loaded %1 records").arg(table.recordCount());
    } catch (const store::Exception &e) {
        result = QStringLiteral("refused: ") + reasonOf(e.message(), path);
    } catch (const std::bad_alloc &) {
        result = QStringLiteral("std::bad_alloc");
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    std::printf("%.1f %lld %lld %s\n", ms, static_cast<long long>(before),
        static_cast<long long>(peakResidentKiB()), qPrintable(result));
    return 0;
}

int runHostileTable(const QString &program, const QString &only)
{
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "lijekovi-bench: cannot create a work folder\n");
        return 1;
    }
    std::printf("hostile data files: load (the program's reader) beside xmllint --noout,\n"
                "each in a fresh process under prlimit --as=%lld MiB; time in ms, peak memory\n"
                "in MiB (the program: VmHWM over its start; xmllint: GNU time's maximum RSS)\n\n",
        static_cast<long long>(AddressSpaceLimit / MiB));
    std::fflush(stdout);
    for (const Hostile &h : hostileFiles()) {
        if (!only.isEmpty() && QLatin1String(h.name) != only)
            continue;
        const QString path
            = QDir(work.path()).filePath(QString::fromLatin1(h.name) + QStringLiteral(".xml"));
        {
            Writer w(path);
            h.write(w);
        }
        const double fileMiB = double(QFileInfo(path).size()) / MiB;
        const Run ours = runProgram(program, path);
        const Run lint = runXmllint(path);
        QFile::remove(path);

        std::printf("%s: %s, %.1f MiB\n", h.name, h.what, fileMiB);
        if (ours.ran) {
            std::printf("  lijekovi %9.0f ms %7.1f MiB (%.2f x file)  %s\n", ours.ms, ours.peakMiB,
                ours.peakMiB / fileMiB, qPrintable(ours.result));
        } else {
            std::printf("  lijekovi  %s\n", qPrintable(ours.result));
        }
        if (lint.ran) {
            std::printf("  xmllint  %9.0f ms %7.1f MiB               %s\n", lint.ms, lint.peakMiB,
                qPrintable(lint.result));
        } else {
            std::printf("  xmllint   %s\n", qPrintable(lint.result));
        }
        std::fflush(stdout);
    }
    return 0;
}

} // namespace bench
