// The register at its limit and beyond: how long loading, saving, exporting
// and starting take for 1000, 10000 and 100000 records, and how much memory
// a start-up with a full register needs. Prints figures; judges nothing.
#include "bench/hostile.h"
#include "bench/machine.h"
#include "bench/sampleregister.h"

#include "app/unit1.h"

#include "export/textexport.h"
#include "register/registerpaths.h"
#include "register/registersession.h"
#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "store/exception.h"
#include "store/journal.h"
#include "store/schema.h"
#include "store/search.h"
#include "store/valueindex.h"
#include "toolkit/datasource.h"
#include "toolkit/dbedit.h"
#include "toolkit/messagebox.h"
#include "toolkit/savedialog.h"
#include "toolkit/suggestionlist.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#ifndef LIJEKOVI_BUILD_TYPE
#define LIJEKOVI_BUILD_TYPE "unknown"
#endif

namespace {

const QString RegisterName = RegisterPaths::dataFileName();

// Sizes from this many records up are measured fewer times: each run of
// the window's walk or start-up takes seconds there.
constexpr int LargeSize = 100000;
constexpr int LargeSizeRuns = 3;

struct Options
{
    std::vector<int> sizes { 1000, 10000, 100000 };
    int runs = 5;
};

void usage(std::FILE *to)
{
    std::fprintf(to,
        "usage: lijekovi-bench [--sizes N,N,...] [--runs N]\n"
        "       lijekovi-bench --write-register N PATH\n"
        "       lijekovi-bench --hostile [NAME]\n"
        "       lijekovi-bench --write-hostile NAME PATH\n"
        "\n"
        "Times load, save, export (store alone and with the window attached) and\n"
        "start-up for registers of the given sizes (default 1000,10000,100000),\n"
        "median of N runs (default 5, at most %d from %d records), and the peak\n"
        "memory of a start-up with 10000 records and with an empty register.\n"
        "--write-register writes the benchmark's register of N records to PATH.\n"
        "--hostile loads data files made to be costly, each near the size limit,\n"
        "beside xmllint, and reports time and peak memory (all of them, or NAME);\n"
        "--write-hostile writes one of them to PATH.\n",
        LargeSizeRuns, LargeSize);
}

std::optional<int> parseCount(const QString &text, int minimum)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < minimum)
        return std::nullopt;
    return n;
}

// ------------------------------------------------------------- timing

double elapsedMs(const QElapsedTimer &timer) { return double(timer.nsecsElapsed()) / 1e6; }

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Median time of `measure`, each run after an untimed `prepare`. One
// untimed run goes first: whichever operation came first would otherwise
// also pay for growing the heap (fresh pages from the system) and look
// slower than the same work done next.
template <typename Prepare, typename Measure>
double medianMs(int runs, Prepare prepare, Measure measure)
{
    prepare();
    measure();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        measure();
        times.push_back(elapsedMs(timer));
    }
    return median(times);
}

// --------------------------------------------------------- the window

// Every message box (the greeting, the record-limit notice) is answered
// as a user in a hurry would, and the save dialog is cancelled.
void answerDialogs()
{
    toolkit::setMessageBoxHandler([](const toolkit::MessageBoxCall &call) {
        return toolkit::isQuestion(call.style) ? toolkit::MessageBoxAnswer::No
                                               : toolkit::MessageBoxAnswer::Ok;
    });
    toolkit::SaveDialog::setHandler(
        [](const toolkit::SaveDialog &) -> std::optional<QString> { return std::nullopt; });
}

toolkit::MessageBoxAnswer answerYes(const toolkit::MessageBoxCall &call)
{
    return toolkit::isQuestion(call.style) ? toolkit::MessageBoxAnswer::Yes
                                           : toolkit::MessageBoxAnswer::Ok;
}

// The program's own start: the window in the register's folder, its
// create handler (greeting answered, register loaded), shown until the
// window system has exposed it. QTest's wait would add its 10 ms polling
// sleep to every figure, so the events are pumped here.
std::unique_ptr<TForm1> startWindow()
{
    auto form = std::make_unique<TForm1>();
    form->FormCreate();
    form->show();
    const QDeadlineTimer deadline(10000);
    while (!(form->windowHandle() && form->windowHandle()->isExposed())) {
        if (deadline.hasExpired())
            throw store::Exception(QStringLiteral("the window was never exposed"));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return form;
}

// Runs `body` with `dir` as the current directory, as the program is
// started in its register's folder.
template <typename Body> auto inDirectory(const QString &dir, Body body)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir);
    struct Restore
    {
        QString dir;
        ~Restore() { QDir::setCurrent(dir); }
    } restore { previous };
    return body();
}

void settle()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// ------------------------------------------------------------ figures

struct Figures
{
    qint64 fileBytes = 0;
    int runs = 0;
    double load = 0;
    double loadOld = 0;
    double save = 0;
    double exportStore = 0;
    double exportWindow = 0;
    double findText = 0;
    double findDigits = 0;
    double index = 0;
    double indexAtStart = 0;
    double keyWithList = 0;
    double startup = 0;
    double post = 0;
    double firstPost = 0;
    double startupRecovering = 0;
    std::optional<double> xmllint;
};

// Loads the register into a bare table.
void loadInto(store::ClientDataSet &table, const QString &path)
{
    table.assignRecords(store::loadDataPacketFile(path));
}

// The register's session as the window has it, with a user who lets the
// nameless entries go (the sample register holds some with data); any
// other question or an error fails the run.
class Unasked : public RegisterDialogue
{
public:
    bool attended() const override { return true; }
    bool ask(Question question, const QString &text) override
    {
        if (question == Question::PurgeNameless)
            return true;
        throw store::Exception(QStringLiteral("the save asked: ") + text);
    }
    void reportError(const QString &message) override { throw store::Exception(message); }
    void notify(const QString &) override { }
    void reportJournalFailure(const QString &message) override { throw store::Exception(message); }
};

// What the window's SaveDatabase does: the session's save of the table.
void saveAsTheWindowDoes(RegisterSession &session)
{
    if (session.save().outcome != RegisterSession::SaveOutcome::Saved)
        throw store::Exception(QStringLiteral("the save wrote nothing"));
}

void exportTo(store::ClientDataSet &table, const QString &path)
{
    textexport::saveLines(path, textexport::buildLines(table));
}

// Text a search finds in no record, so that it visits every one: a name
// the register does not hold, and digits, which also have every number
// field of every record shown as text to be compared.
const QString NameNowhere = QStringLiteral("Zrinski");
const QString DigitsNowhere = QStringLiteral("987654321");

// What Ctrl+F, typed text and Enter ask of the store.
void findNothing(const store::ClientDataSet &table, const QString &text)
{
    if (store::findRecord(table, store::SearchText(text), store::SearchDirection::Forward))
        throw store::Exception(QStringLiteral("the search found \"%1\"").arg(text));
}

std::optional<double> timeXmllint(const QString &path, int runs)
{
    const QString xmllint = QStandardPaths::findExecutable(QStringLiteral("xmllint"));
    if (xmllint.isEmpty())
        return std::nullopt;
    bool failed = false;
    const double ms = medianMs(
        runs, [] {},
        [&] {
            QProcess process;
            process.setProcessChannelMode(QProcess::ForwardedChannels);
            process.start(xmllint, { QStringLiteral("--noout"), path });
            if (!process.waitForFinished(60000) || process.exitCode() != 0)
                failed = true;
        });
    if (failed)
        return std::nullopt;
    return ms;
}

// What the lists under the boxes need, for every text field at once. A
// start-up pays less: it copies the table's record handles, and each
// field's values are gathered at the first key typed into its box.
void buildIndex(const store::ClientDataSet &table)
{
    store::ValueIndex index(&table);
    index.buildAll();
}

// A character typed into a box of the window with its list open, as the
// key reaches the box: the record edited, the values looked up, the list
// filled and placed, and what that leaves to paint, painted. The box is
// the address, the field with the most values in the register; the text
// keeps up to eleven values on offer (all of them at 10000 records). The
// entry is dropped afterwards.
double timeTypingWithList(TForm1 &form, int runs)
{
    form.BitBtnAddClick();
    toolkit::DBEdit *box = form.DBEditAdresa;
    box->setFocus();
    const auto key = [box](Qt::Key k, const QString &text) {
        QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
        QCoreApplication::sendEvent(box, &press);
        QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
        QCoreApplication::sendEvent(box, &release);
    };
    // Each run: Backspace (untimed) back to "Đakovačka 1", then "0".
    for (const QChar c : QStringLiteral("Đakovačka 10"))
        key(Qt::Key_unknown, QString(c));
    settle();
    const toolkit::SuggestionList *list = toolkit::SuggestionList::of(box);
    const double ms = medianMs(
        std::max(21, runs * 10),
        [&] {
            key(Qt::Key_Backspace, QString());
            settle();
        },
        [&] {
            key(Qt::Key_0, QStringLiteral("0"));
            settle();
        });
    if (!list || !list->isShown())
        throw store::Exception(QStringLiteral("the address box's list was not open"));
    form.CDSetLijekovi->cancel();
    settle();
    return ms;
}

// One entry of the entry loop posted, its change made durable in the
// recovery journal before post() returns: the usual case appends to the
// journal; the first change after a load or a save begins a new journal,
// which holds the whole register as the file has it.
void timePosts(TForm1 &form, int runs, Figures &f)
{
    // The sample register holds nameless entries with a patient typed in:
    // the save asks before it purges them, and is told yes.
    toolkit::setMessageBoxHandler(answerYes);
    store::ClientDataSet &table = *form.CDSetLijekovi;
    const auto newEntry = [&] {
        table.insert();
        form.StringField2->setAsString(QStringLiteral("Novi lijek"));
    };
    newEntry();
    table.post(); // the journal exists from here on
    f.post = medianMs(runs, newEntry, [&] { table.post(); });
    f.firstPost = medianMs(
        runs,
        [&] {
            form.SaveDatabase();
            newEntry();
        },
        [&] { table.post(); });
    form.SaveDatabase();
    answerDialogs();
}

// A start after a crash: the journal holds the register and a few changes,
// and the recovery question is answered Yes.
double timeRecoveringStartup(const QString &dir, int runs)
{
    return inDirectory(dir, [&] {
        std::unique_ptr<TForm1> form = startWindow();
        for (int i = 0; i < 3; ++i) {
            form->CDSetLijekovi->insert();
            form->StringField2->setAsString(QStringLiteral("Nespremljen %1").arg(i));
            form->CDSetLijekovi->post();
        }
        toolkit::setMessageBoxHandler(answerYes);
        const double ms = medianMs(
            runs,
            [&] {
                form.reset(); // the crash: nothing saved, the journal left
                settle();
            },
            [&] { form = startWindow(); });
        form->SaveDatabase();
        answerDialogs();
        // Leaves the register as it was for whoever comes next.
        form.reset();
        return ms;
    });
}

double timeStartup(const QString &dir, int runs)
{
    return inDirectory(dir, [&] {
        std::unique_ptr<TForm1> form;
        return medianMs(
            runs,
            [&] {
                form.reset();
                settle();
            },
            [&] { form = startWindow(); });
    });
}

Figures measure(int size, int runs, const QString &work)
{
    const QString dir = QDir(work).filePath(QString::number(size));
    QDir().mkpath(dir);
    const QString data = QDir(dir).filePath(RegisterName);
    // The save writes a register of its own, one per size: a session that
    // finds a register it did not load there asks before replacing it.
    const QString savedDir = QDir(work).filePath(QStringLiteral("saved-%1").arg(size));
    QDir().mkpath(savedDir);
    const QString exported = QDir(work).filePath(QStringLiteral("export.txt"));
    const QString older = QDir(work).filePath(QStringLiteral("older.xml"));
    bench::writeSampleRegister(size, data);
    bench::writeOlderProgramsFile(data, older);

    Figures f;
    f.fileBytes = QFileInfo(data).size();
    f.runs = runs;
    {
        std::unique_ptr<store::ClientDataSet> table;
        f.load = medianMs(
            runs, [&] { table = std::make_unique<store::ClientDataSet>(); },
            [&] { loadInto(*table, data); });
        f.loadOld = medianMs(
            runs, [&] { table = std::make_unique<store::ClientDataSet>(); },
            [&] { loadInto(*table, older); });
        {
            // The journal follows the table as in the window, and ends
            // with every save.
            Unasked nobody;
            RegisterSession session(savedDir, *table, nobody);
            table->afterChange
                = [&session](const store::TableChange &change) { session.recordChange(change); };
            session.offerRecovery();
            f.save = medianMs(
                runs, [&] { loadInto(*table, data); }, [&] { saveAsTheWindowDoes(session); });
            table->afterChange = nullptr;
        }
        loadInto(*table, data);
        f.exportStore = medianMs(
            runs, [] {}, [&] { exportTo(*table, exported); });
        f.findText = medianMs(
            runs, [] {}, [&] { findNothing(*table, NameNowhere); });
        f.findDigits = medianMs(
            runs, [] {}, [&] { findNothing(*table, DigitsNowhere); });
        f.index = medianMs(
            runs, [] {}, [&] { buildIndex(*table); });
        f.indexAtStart = medianMs(
            runs, [] {}, [&] { const store::ValueIndex index(table.get()); });
    }
    inDirectory(dir, [&] {
        const std::unique_ptr<TForm1> form = startWindow();
        // As after an entry was added: the window active, a box focused
        // (a focused box hears of every change it shows).
        form->activateWindow();
        form->DBEditTar_br->setFocus();
        settle();
        f.exportWindow = medianMs(runs, settle, [&] {
            // As BitBtnExportClick walks the table: the controls held still.
            const toolkit::ControlsDisabled quiet(*form->DataSourceLijekovi);
            exportTo(*form->CDSetLijekovi, exported);
        });
        f.keyWithList = timeTypingWithList(*form, runs);
        timePosts(*form, runs, f);
        return 0;
    });
    // The posts were saved into the register: write it afresh so start-up
    // reads the same file as the figures before.
    bench::writeSampleRegister(size, data);
    settle();
    f.startup = timeStartup(dir, runs);
    settle();
    f.startupRecovering = timeRecoveringStartup(dir, runs);
    bench::writeSampleRegister(size, data);
    settle();
    f.xmllint = timeXmllint(data, runs);
    return f;
}

// ---------------------------------------------------------- memory

// Runs in a fresh process: one start-up in `dir`, then prints the peak.
int startupPeakRss(const QString &dir)
{
    answerDialogs();
    QDir::setCurrent(dir);
    const std::unique_ptr<TForm1> form = startWindow();
    settle();
    std::printf("%lld\n", static_cast<long long>(peakResidentBytes()));
    return 0;
}

std::optional<qint64> childPeakRss(const QString &dir)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(
        QCoreApplication::applicationFilePath(), { QStringLiteral("--startup-peak-rss"), dir });
    if (!child.waitForFinished(120000) || child.exitStatus() != QProcess::NormalExit
        || child.exitCode() != 0) {
        std::fprintf(
            stderr, "peak memory child failed: %s\n", child.readAllStandardError().constData());
        return std::nullopt;
    }
    bool ok = false;
    const qint64 bytes = child.readAllStandardOutput().trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(bytes) : std::nullopt;
}

// ---------------------------------------------------------- report

double mb(qint64 bytes) { return double(bytes) / (1024 * 1024); }

// ------------------------------------------------------ journal replay

// Entries framed as the journal frames them (length, CRC-32, bytes), so that
// a journal of many changes is written at once rather than synced change by
// change.
QByteArray journalFrame(const QByteArray &payload)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char b : payload) {
        crc ^= quint8(b);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    char head[8];
    qToLittleEndian(quint32(payload.size()), head);
    qToLittleEndian(crc ^ 0xFFFFFFFFu, head + 4);
    return QByteArray(head, 8) + payload;
}

QByteArray journalU32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return QByteArray(b, 4);
}

// A post of a record holding only a name, at `row`.
QByteArray journalPost(quint32 row, const QByteArray &name)
{
    QByteArray p("P");
    p += journalU32(row);
    const int naziv = store::fieldIndex(u"Naziv");
    for (int f = 0; f < store::FieldCount; ++f) {
        if (store::textSlot(f) >= 0) {
            const QByteArray text = f == naziv ? name : QByteArray();
            p += journalU32(quint32(text.size())) + text;
        } else {
            p += QByteArray(9, '\0');
        }
    }
    return journalFrame(p);
}

// A journal of `changes` changes over a register of `baseRows` records:
// deletes of the first record, appended records, or both in turn.
void writeJournal(const QString &path, int baseRows, int changes, char kind)
{
    std::vector<store::Record> base(static_cast<size_t>(baseRows));
    for (int i = 0; i < baseRows; ++i)
        base[size_t(i)].setText(store::fieldIndex(u"Naziv"), QStringLiteral("Lijek %1").arg(i));
    {
        // The journal's own header, through its own writer.
        store::RecoveryJournal journal(path);
        journal.setBase(base);
        journal.recordDraft(-1, store::Record(), base);
    }
    QByteArray bytes;
    int rows = baseRows;
    for (int i = 0; i < changes; ++i) {
        const bool remove = kind == 'D' || (kind == 'M' && i % 2 == 1);
        if (remove) {
            bytes += journalFrame(QByteArray("D") + journalU32(0));
            --rows;
        } else {
            bytes += journalPost(quint32(rows), "Novi " + QByteArray::number(i));
            ++rows;
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::Append) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "lijekovi-bench: cannot write %s\n", qPrintable(path));
}

double timeReplay(const QString &work, int runs, int baseRows, int changes, char kind)
{
    const QString path = QDir(work).filePath(QStringLiteral("journal-%1").arg(kind));
    writeJournal(path, baseRows, changes, kind);
    return medianMs(
        runs, [] {},
        [&] {
            const store::Recovery recovery = store::RecoveryJournal::read(path);
            if (recovery.changes != changes || !recovery.damage.isEmpty())
                std::fprintf(
                    stderr, "lijekovi-bench: journal replay read %d changes\n", recovery.changes);
        });
}

void printRatio(const char *what, double value, double limit)
{
    std::printf("  %-52s %6.2f  (target <= %.1f)\n", what, value, limit);
}

int runBenchmark(const Options &options)
{
    answerDialogs();
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "lijekovi-bench: cannot create a work folder\n");
        return 1;
    }

    std::printf("lijekovi-bench: median of %d runs (at most %d from %d records), in ms\n",
        options.runs, LargeSizeRuns, LargeSize);
    std::printf("machine: %d cores, %s, %.1f GiB; Qt %s, %s build, QPA %s\n\n",
        QThread::idealThreadCount(), qPrintable(cpuModel()), memoryGiB(), qVersion(),
        LIJEKOVI_BUILD_TYPE, qPrintable(QGuiApplication::platformName()));

    // An empty register's start-up is the reference for the others; its
    // untimed first run pays what only a process's first window pays
    // (fonts, style, artwork).
    const QString emptyDir = QDir(work.path()).filePath(QStringLiteral("empty"));
    QDir().mkpath(emptyDir);
    bench::writeSampleRegister(0, QDir(emptyDir).filePath(RegisterName));
    const double emptyStartup = timeStartup(emptyDir, options.runs);

    std::printf("%8s %8s %4s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s %9s\n",
        "records", "file MB", "runs", "load", "save", "export", "export+w", "find", "find 0-9",
        "start-up", "post", "1st post", "start+rec", "xmllint", "load-old", "index", "idx@start",
        "key+list");
    std::printf("%8d %8.2f %4d %9s %9s %9s %9s %9s %9s %9.1f %9s %9s %9s %9s %9s %9s %9s %9s\n", 0,
        0.0, options.runs, "-", "-", "-", "-", "-", "-", emptyStartup, "-", "-", "-", "-", "-", "-",
        "-", "-");
    std::fflush(stdout);

    std::map<int, Figures> results;
    for (const int size : options.sizes) {
        const int runs = size >= LargeSize ? std::min(options.runs, LargeSizeRuns) : options.runs;
        const Figures f = measure(size, runs, work.path());
        results[size] = f;
        char xmllint[32] = "-";
        if (f.xmllint)
            std::snprintf(xmllint, sizeof xmllint, "%.1f", *f.xmllint);
        std::printf("%8d %8.2f %4d %9.1f %9.1f %9.1f %9.1f %9.2f %9.2f %9.1f %9.2f %9.1f %9.1f %9s "
                    "%9.1f %9.2f %9.3f %9.3f\n",
            size, mb(f.fileBytes), f.runs, f.load, f.save, f.exportStore, f.exportWindow,
            f.findText, f.findDigits, f.startup, f.post, f.firstPost, f.startupRecovering, xmllint,
            f.loadOld, f.index, f.indexAtStart, f.keyWithList);
        std::fflush(stdout);
    }
    std::printf("\n  load: the data file read and assigned to a bare table\n"
                "  save: the session's save, as SaveDatabase calls it: purge of nameless\n"
                "        records, the check of the file, write, the journal's end\n"
                "  export: buildLines and saveLines on a bare table\n"
                "  export+w: the same on the window's table, window shown\n"
                "  find: a search that finds nothing (a name; find 0-9: digits, which numbers\n"
                "        may hold)\n"
                "  start-up: TForm1 made, FormCreate, shown until exposed\n"
                "  post: one entry posted in the window, its recovery journal entry\n"
                "        written and synced (fdatasync) before post() returns\n"
                "  1st post: the same for the first change after a save, which begins\n"
                "        a new journal holding the whole register (fsync, rename)\n"
                "  start+rec: start-up after a crash, recovery answered Yes (the\n"
                "        journal read, replayed and written anew)\n"
                "  xmllint: xmllint --noout on the same file, a process per run\n"
                "  load-old: load of the same register as the older program wrote it\n"
                "            (Windows-1250 bytes, no declared encoding: the full XML reader)\n"
                "  index: the values the boxes' lists offer, gathered for every text field\n"
                "         at once (a start-up copies only the record handles; a field's\n"
                "         values are gathered at the first key typed into its box)\n"
                "  idx@start: what a start-up pays for the lists: the record handles copied\n"
                "  key+list: a character typed into the address box with its list open\n"
                "            (median of ten times the runs, at least 21)\n");

    const QString fullDir = QDir(work.path()).filePath(QString::number(10000));
    if (!QFileInfo::exists(QDir(fullDir).filePath(RegisterName))) {
        QDir().mkpath(fullDir);
        bench::writeSampleRegister(10000, QDir(fullDir).filePath(RegisterName));
    }
    const qint64 fullBytes = QFileInfo(QDir(fullDir).filePath(RegisterName)).size();
    const auto emptyRss = childPeakRss(emptyDir);
    const auto fullRss = childPeakRss(fullDir);
    std::printf("\npeak memory of a start-up (VmHWM, fresh process):\n");
    if (emptyRss && fullRss) {
        std::printf(
            "  empty register %.1f MB, 10000 records %.1f MB: +%.1f MB for a %.2f MB file\n",
            mb(*emptyRss), mb(*fullRss), mb(*fullRss - *emptyRss), mb(fullBytes));
    } else {
        std::printf("  not measured\n");
    }

    std::printf("\nratios:\n");
    if (const auto it = results.find(10000); it != results.end()) {
        const Figures &f = it->second;
        if (f.xmllint) {
            printRatio("load 10000 / xmllint 10000", f.load / *f.xmllint, 1.5);
            printRatio("start-up (10000 - empty) / xmllint 10000",
                (f.startup - emptyStartup) / *f.xmllint, 1.5);
            printRatio("start-up recovering (10000 - empty) / xmllint 10000",
                (f.startupRecovering - emptyStartup) / *f.xmllint, 1.5);
            printRatio("post at 10000 / xmllint 10000", f.post / *f.xmllint, 0.5);
            printRatio("find, no match, 10000 / xmllint 10000", f.findText / *f.xmllint, 0.1);
            printRatio("find 0-9, no match, 10000 / xmllint 10000", f.findDigits / *f.xmllint, 0.1);
            printRatio("index, every field, 10000 / xmllint 10000", f.index / *f.xmllint, 0.1);
            printRatio(
                "index at start-up, 10000 / xmllint 10000", f.indexAtStart / *f.xmllint, 0.1);
        }
    }
    if (const auto it = results.find(10000); it != results.end())
        std::printf(
            "  %-52s %6.3f  (target <= 2 ms)\n", "key+list at 10000, ms", it->second.keyWithList);
    for (const auto &[size, f] : results)
        printRatio(qPrintable(QStringLiteral("export+w / export at %1").arg(size)),
            f.exportWindow / f.exportStore, 2);
    if (results.count(10000) && results.count(100000)) {
        const Figures &a = results[10000];
        const Figures &b = results[100000];
        printRatio("load 100000 / 10000", b.load / a.load, 12);
        printRatio("save 100000 / 10000", b.save / a.save, 12);
        printRatio("export 100000 / 10000", b.exportStore / a.exportStore, 12);
        printRatio("find 100000 / 10000", b.findText / a.findText, 12);
    }
    if (emptyRss && fullRss) {
        printRatio(
            "memory (10000 - empty) / file size", double(*fullRss - *emptyRss) / fullBytes, 3);
    }

    // A replay that moved every later record at each delete took minutes
    // for a journal of deletes of the first record.
    constexpr int ReplayChanges = 200000;
    const int replayRuns = std::min(options.runs, 3);
    std::printf("\njournal replay, %d changes (ms; target <= 1000 each):\n", ReplayChanges);
    std::printf("  deletes of the first of %d records %9.1f\n", ReplayChanges,
        timeReplay(work.path(), replayRuns, ReplayChanges, ReplayChanges, 'D'));
    std::printf("  records appended                          %9.1f\n",
        timeReplay(work.path(), replayRuns, 0, ReplayChanges, 'P'));
    std::printf("  appends and first-record deletes in turn  %9.1f\n",
        timeReplay(work.path(), replayRuns, 1, ReplayChanges, 'M'));
    return 0;
}

// The offscreen platform says these of every window shown; figures read
// better without a line per start-up between them.
QtMessageHandler defaultMessageHandler = nullptr;

void quietMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints"))
        || message.contains(QLatin1String("does not support raise()")))
        return;
    defaultMessageHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    // Headless unless a display is asked for: the bench must run in CI and
    // not flash windows on a desktop.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    defaultMessageHandler = qInstallMessageHandler(quietMessages);

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    try {
        if (args.value(0) == QLatin1String("--write-register")) {
            const auto count = parseCount(args.value(1), 0);
            if (!count || args.size() != 3) {
                usage(stderr);
                return 2;
            }
            bench::writeSampleRegister(*count, args[2]);
            return 0;
        }
        if (args.value(0) == QLatin1String("--write-hostile")) {
            if (args.size() != 3 || !bench::writeHostileFile(args[1], args[2])) {
                usage(stderr);
                return 2;
            }
            return 0;
        }
        // The measured side of --hostile: no application, as little as the
        // program's own reading needs.
        if (args.value(0) == QLatin1String("--load-file") && args.size() == 2)
            return bench::loadAndReport(args[1]);
        if (args.value(0) == QLatin1String("--hostile") && args.size() <= 2) {
            QCoreApplication application(argc, argv);
            return bench::runHostileTable(QCoreApplication::applicationFilePath(), args.value(1));
        }

        QApplication application(argc, argv);
        if (args.value(0) == QLatin1String("--startup-peak-rss") && args.size() == 2)
            return startupPeakRss(args[1]);

        Options options;
        for (int i = 0; i < args.size(); ++i) {
            const QString &arg = args[i];
            if (arg == QLatin1String("--sizes") && i + 1 < args.size()) {
                options.sizes.clear();
                for (const QString &part : args[++i].split(QLatin1Char(','))) {
                    const auto n = parseCount(part, 1);
                    if (!n) {
                        usage(stderr);
                        return 2;
                    }
                    options.sizes.push_back(*n);
                }
            } else if (arg == QLatin1String("--runs") && i + 1 < args.size()) {
                const auto n = parseCount(args[++i], 1);
                if (!n) {
                    usage(stderr);
                    return 2;
                }
                options.runs = *n;
            } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
                usage(stdout);
                return 0;
            } else {
                usage(stderr);
                return 2;
            }
        }
        return runBenchmark(options);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lijekovi-bench: %s\n", e.what());
        return 1;
    }
}
