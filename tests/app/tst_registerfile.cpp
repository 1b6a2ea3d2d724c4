// The register's file changed behind the program's back: a file moved over
// it, a write into it, the folder renamed and a new one made. No close,
// export or Erase writes over such a file unasked, and nobody-can-answer
// saves put the register beside it instead.
#include "tests/app/formfixture.h"

#include "store/fileidentity.h"
#include "store/journal.h"
#include "toolkit/bitbtn.h"

#include "tests/support/users.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using Answer = toolkit::MessageBoxAnswer;

using namespace Qt::StringLiterals;

namespace {

const QString Warning = u"Pažnja!"_s;
const QString NotSaved
    = u"Podaci nisu spremljeni.\nDa: program se zatvara bez spremanja.\nNe: program ostaje otvoren.\nZatvoriti program bez spremanja?"_s;
constexpr toolkit::MessageBoxStyle Question = toolkit::MessageBoxStyle::YesNoDefaultNo;

QString native(const QString &path) { return QDir::toNativeSeparators(path); }

// A file's state as the question words it.
QString stateOf(const QString &path)
{
    const store::FileIdentity id = store::identifyFile(path);
    return u"izmijenjena %1, veličina %2 B"_s
        .arg(QDateTime::fromMSecsSinceEpoch(id.modified / 1000000)
                 .toString(u"dd.MM.yyyy. 'u' HH:mm:ss"_s))
        .arg(id.size);
}

// Where a question says the file found will be kept: the file's own path
// with a date and time, "<bad name>" for any other name.
QString keptNameIn(const QString &question, const QString &file)
{
    static const QRegularExpression said(u"pod imenom \"([^\"]+)\""_s);
    const QRegularExpressionMatch m = said.match(question);
    const QRegularExpression expected(
        u"^%1\\.\\d{8}-\\d{6}(-\\d+)?$"_s.arg(QRegularExpression::escape(native(file))));
    if (!m.hasMatch() || !expected.match(m.captured(1)).hasMatch())
        return u"<bad name>"_s;
    return m.captured(1);
}

QString replaceTail(const QString &keptAs)
{
    return u"\n\nZamijeniti tu datoteku podacima iz ovog prozora? Ona se neće izgubiti: prije "
           "zamjene sačuvat će se pod imenom \"%1\".\nNe: ništa se ne zapisuje."_s.arg(keptAs);
}

const QString NewFolderTail
    = u"\n\nSpremiti podatke iz ovog prozora u tu mapu?\nNe: ništa se ne zapisuje."_s;

// The question a close, an export or Erase asks: what was found, then the
// question itself, which names the copy to be kept of a file found.
QString questionFor(const QString &description, const QString &file, const QString &asked)
{
    return description
        + (QFileInfo::exists(file) ? replaceTail(keptNameIn(asked, file)) : NewFolderTail);
}

QString replacedText(const QString &file, const QString &was, const QString &is)
{
    return u"Drugi program ili drugi korisnik zamijenio je datoteku registra \"%1\" drugom "
           "datotekom: to više nije ona koju je ovaj program učitao ili zadnji put spremio.\n"
           "Bila je %2.\nSada je %3."_s.arg(native(file), was, is);
}

QString modifiedText(const QString &file, const QString &was, const QString &is)
{
    return u"Drugi program ili drugi korisnik promijenio je datoteku registra \"%1\" otkako "
           "ju je ovaj program učitao ili zadnji put spremio.\nBila je %2.\nSada je %3."_s.arg(
               native(file), was, is);
}

QString contentText(const QString &file)
{
    return u"Drugi program ili drugi korisnik promijenio je datoteku registra \"%1\" otkako "
           "ju je ovaj program učitao ili zadnji put spremio: veličina i vrijeme izmjene su "
           "isti, ali sadržaj nije."_s.arg(native(file));
}

QString folderText(const QString &folder, const QString &inside)
{
    return u"Mapa \"%1\" nije više ona iz koje je registar učitan: preimenovana je ili "
           "premještena, a pod njezinim je imenom sada druga mapa.\n"_s.arg(native(folder))
        + inside;
}

// A register of `count` entries named "<prefix> <n>", as another program
// (a backup, a colleague's copy) leaves it.
QByteArray foreignRegister(const QString &prefix, int count)
{
    std::vector<store::Record> rows(static_cast<size_t>(count));
    const int naziv = store::fieldIndex(u"Naziv");
    for (int i = 0; i < count; ++i)
        rows[size_t(i)].setText(naziv, u"%1 %2"_s.arg(prefix).arg(i + 1));
    return store::serializeDataPacket(rows);
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// Another program's file renamed over the register, as a sync client or a
// restored backup does.
void moveOver(const QString &path, const QByteArray &bytes)
{
    const QString other = path + u".drugi"_s;
    writeBytes(other, bytes);
    QFile::remove(path);
    QVERIFY(QFile::rename(other, path));
}

// Every file under `folder`, with its bytes.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> out;
    const QDir dir(folder);
    for (const QString &name :
        dir.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        out[name] = readFile(dir.filePath(name));
    return out;
}

} // namespace

class TestRegisterFile : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { toolkit::setUnattended(false); }

    // Each change is found at close, named in a "Pažnja!" question whose
    // default is No, and No writes nothing; the close question that
    // follows may keep the window open.
    void changeIsFoundAtClose_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("another file moved over it") << u"moved over"_s;
        QTest::newRow("written into, another size") << u"written into"_s;
        QTest::newRow("written into, the same size and time") << u"same stamps"_s;
        // Old behaviour caught: an old file (no content hash kept) edited in
        // place, its size kept and its modification time put back, was
        // replaced unasked. The inode's change time shows it.
        QTest::newRow("an old file written into, the same size, the time put back")
            << u"old, same stamps"_s;
        QTest::newRow("folder renamed, a new one with a register") << u"new folder, register"_s;
        QTest::newRow("folder renamed, a new empty one") << u"new folder, empty"_s;
    }

    void changeIsFoundAtClose()
    {
        QFETCH(QString, change);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } }, { { "Naziv", "Brufen" } } });
        if (change == u"old, same stamps") {
            const timeval anHourAgo[2]
                = { { time(nullptr) - 3600, 0 }, { time(nullptr) - 3600, 0 } };
            QCOMPARE(::utimes(QFile::encodeName(fx.dataFile()).constData(), anHourAgo), 0);
        }
        TForm1 *form = fx.start();
        form->CDSetLijekovi->insert();
        form->StringField2->setAsString(u"Čaj"_s);
        form->CDSetLijekovi->post();

        const QString folder = QDir::cleanPath(fx.path(u"."_s));
        const QString file = fx.dataFile();
        const QString oldState = stateOf(file);
        const QByteArray ours = readFile(file);
        QString renamed;
        auto removeRenamed = qScopeGuard([&] {
            if (!renamed.isEmpty())
                QDir(renamed).removeRecursively();
        });
        QString expected;
        if (change == u"moved over") {
            moveOver(file, foreignRegister(u"Tuđi"_s, 250));
            expected = replacedText(file, oldState, stateOf(file));
        } else if (change == u"written into") {
            writeBytes(file, foreignRegister(u"Tuđi"_s, 5));
            expected = modifiedText(file, oldState, stateOf(file));
        } else if (change == u"same stamps" || change == u"old, same stamps") {
            // Written within the same clock tick as the load would look the
            // same by size and time: only the content tells.
            const store::FileIdentity before = store::identifyFile(file);
            QByteArray other = ours;
            other.replace("Brufen", "Bruxen");
            writeBytes(file, other);
            const timespec times[2] = { { 0, UTIME_OMIT },
                { time_t(before.modified / 1000000000), long(before.modified % 1000000000) } };
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
            const store::FileIdentity after = store::identifyFile(file);
            QVERIFY(after.sameFileAs(before) && after.size == before.size
                && after.modified == before.modified);
            expected = contentText(file);
        } else {
            renamed = folder + u"-staro"_s;
            QVERIFY(QDir().rename(folder, renamed));
            QVERIFY(QDir().mkdir(folder));
            if (change == u"new folder, register") {
                writeBytes(file, foreignRegister(u"Nova godina"_s, 3));
                expected = folderText(folder,
                    u"U njoj već postoji datoteka \"Baza.xml\" koju ovaj program "
                    "nije zapisao (%1)."_s.arg(stateOf(file)));
            } else {
                expected = folderText(folder, u"U njoj nema datoteke \"Baza.xml\"."_s);
            }
        }
        const auto before = snapshot(folder);
        const auto beforeRenamed = renamed.isEmpty() ? decltype(before)() : snapshot(renamed);

        fx.shown.clear();
        fx.answers = { Answer::No, Answer::No }; // keep the file, keep the window
        QVERIFY(!form->close());
        QVERIFY(form->isVisible());
        QCOMPARE(fx.captions(), (QStringList { Warning, Warning }));
        QCOMPARE(fx.shown[0].text, questionFor(expected, file, fx.shown[0].text));
        QCOMPARE(fx.shown[0].style, Question);
        QCOMPARE(fx.shown[1].text, NotSaved);
        QCOMPARE(snapshot(folder), before);
        if (!renamed.isEmpty()) {
            QCOMPARE(snapshot(renamed), beforeRenamed);
            QCOMPARE(readFile(renamed + u"/Baza.xml"_s), ours);
        }
        QCOMPARE(form->CDSetLijekovi->recordCount(), 3);

        // Asked again at the next close, and closing without saving leaves
        // every file as it was.
        fx.shown.clear();
        fx.answers = { Answer::No, Answer::Yes };
        QVERIFY(form->close());
        QCOMPARE(
            fx.texts(), (QStringList { questionFor(expected, file, fx.shown[0].text), NotSaved }));
        // The recovery journal only gains the note that the program was
        // closed without saving.
        auto after = snapshot(folder);
        const QString journal = u".Baza.xml.recovery"_s;
        if (before.contains(journal)) {
            QVERIFY(after.value(journal).startsWith(before.value(journal)));
            QVERIFY(store::RecoveryJournal::read(folder + u'/' + journal).closedWithoutSaving);
            after[journal] = before.value(journal);
        }
        QCOMPARE(after, before);
    }

    // What Yes and No do at each place the register is written. Yes keeps
    // the other program's file beside, byte for byte, under the name the
    // question gives, before it is replaced. Old behaviour caught: Yes
    // destroyed that file without a copy.
    void answerDecides_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("replace");
        QTest::newRow("close, No") << u"close"_s << false;
        QTest::newRow("close, Yes") << u"close"_s << true;
        QTest::newRow("export, No") << u"export"_s << false;
        QTest::newRow("export, Yes") << u"export"_s << true;
        QTest::newRow("erase, No") << u"erase"_s << false;
        QTest::newRow("erase, Yes") << u"erase"_s << true;
    }

    void answerDecides()
    {
        QFETCH(QString, action);
        QFETCH(bool, replace);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } }, { { "Naziv", "Brufen" } } });
        TForm1 *form = fx.start();
        const QString oldState = stateOf(fx.dataFile());
        const QByteArray foreign = foreignRegister(u"Tuđi"_s, 250);
        moveOver(fx.dataFile(), foreign);
        const QString question = replacedText(fx.dataFile(), oldState, stateOf(fx.dataFile()));
        const Answer answer = replace ? Answer::Yes : Answer::No;

        fx.shown.clear();
        QStringList expectedTexts;
        if (action == u"close") {
            fx.answers = { answer, Answer::No };
            QCOMPARE(form->close(), replace);
            expectedTexts << question;
            if (!replace)
                expectedTexts << NotSaved;
        } else if (action == u"export") {
            fx.answers = { answer };
            fx.saveAnswers = { fx.path(u"izvoz.txt"_s) };
            QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
            expectedTexts << question;
            if (replace)
                expectedTexts << u"Baza eksportirana u "_s + native(fx.path(u"izvoz.txt"_s));
            // No ends the export before its dialog.
            QCOMPARE(fx.offeredNames.size(), replace ? 1 : 0);
            QCOMPARE(QFile::exists(fx.path(u"izvoz.txt"_s)), replace);
        } else {
            fx.answers = { Answer::Yes, Answer::Yes, answer };
            QTest::mouseClick(form->BitBtnErase, Qt::LeftButton);
            expectedTexts << u"Praznim baze?"_s << u"Jeste li SIGURNI?\nNakon ovog nema povratka!"_s
                          << question;
            if (replace)
                expectedTexts << u"Baze prezne!"_s;
            QCOMPARE(form->CDSetLijekovi->recordCount(), replace ? 0 : 2);
        }
        const qsizetype asked = expectedTexts.indexOf(question);
        QVERIFY(asked >= 0 && asked < qsizetype(fx.shown.size()));
        const QString keptAs = keptNameIn(fx.shown[size_t(asked)].text, fx.dataFile());
        expectedTexts[asked] = question + replaceTail(keptAs);
        QCOMPARE(fx.texts(), expectedTexts);
        QCOMPARE(fx.shown[size_t(asked)].style, Question);
        QVERIFY(fx.boxes.unexpected.isEmpty());
        QCOMPARE(fx.answers.size(), size_t(action == u"close" && replace ? 1 : 0));
        const QStringList copies
            = QDir(fx.path(u"."_s)).entryList({ u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden);
        if (replace) {
            QCOMPARE(copies, QStringList { QFileInfo(keptAs).fileName() });
            QCOMPARE(readFile(keptAs), foreign);
            QCOMPARE(int(QFileInfo(keptAs).permissions() & 0x7777),
                int(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                    | QFileDevice::WriteUser));
        } else {
            QCOMPARE(copies, QStringList());
        }
        if (!replace) {
            QCOMPARE(readFile(fx.dataFile()), foreign);
        } else if (action == u"erase") {
            QCOMPARE(fx.savedNames(), QStringList());
        } else {
            QCOMPARE(fx.savedNames(), (QStringList { u"Aspirin"_s, u"Brufen"_s }));
        }
    }

    // Once replaced with the user's consent, the file is this program's
    // again: the next save asks nothing.
    void replacedFileIsOwnAfterTheReplace()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        TForm1 *form = fx.start();
        moveOver(fx.dataFile(), foreignRegister(u"Tuđi"_s, 3));
        fx.answers = { Answer::Yes };
        QVERIFY(form->SaveDatabase());
        fx.shown.clear();
        QVERIFY(form->SaveDatabase());
        QVERIFY(form->close());
        QVERIFY(fx.shown.empty());
        QCOMPARE(fx.savedNames(), QStringList { u"Aspirin"_s });
    }

    // The file changes again while the question waits: the user agreed to
    // replace the file named in it, not this one.
    void fileChangedWhileTheQuestionWaitsIsKept()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        TForm1 *form = fx.start();
        moveOver(fx.dataFile(), foreignRegister(u"Tuđi"_s, 3));
        const QByteArray later = foreignRegister(u"Još noviji"_s, 7);
        fx.onMessage = [&](const toolkit::MessageBoxCall &call) {
            if (call.caption == Warning
                && call.text.startsWith(u"Drugi program ili drugi korisnik"_s))
                moveOver(fx.dataFile(), later);
        };
        fx.shown.clear();
        fx.answers = { Answer::Yes, Answer::No };
        QVERIFY(!form->close());
        QCOMPARE(fx.captions(), (QStringList { Warning, u"Greška"_s, Warning }));
        QCOMPARE(fx.shown[1].text,
            u"Datoteka \"%1\" ne može se spremiti: datoteku je u međuvremenu promijenio drugi "
            "program, pa nije zamijenjena. Ništa nije zapisano."_s.arg(native(fx.dataFile())));
        QCOMPARE(readFile(fx.dataFile()), later);
        // Nor is the later file copied under the name that was given for
        // the one the user saw.
        QCOMPARE(QDir(fx.path(u"."_s)).entryList(QDir::Files | QDir::Hidden),
            QStringList { u"Baza.xml"_s });
    }

    // The program's own saves, and changes that leave the content alone,
    // raise no question.
    void noQuestion_data()
    {
        QTest::addColumn<QString>("between");
        QTest::newRow("an export, then the close") << u"export"_s;
        QTest::newRow("permissions changed") << u"chmod"_s;
        QTest::newRow("file removed: written anew") << u"remove"_s;
    }

    void noQuestion()
    {
        QFETCH(QString, between);
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        TForm1 *form = fx.start();
        fx.shown.clear();
        if (between == u"export") {
            fx.saveAnswers = { fx.path(u"izvoz.txt"_s) };
            QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        } else if (between == u"chmod") {
            QVERIFY(QFile::setPermissions(fx.dataFile(),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        } else {
            QVERIFY(QFile::remove(fx.dataFile()));
        }
        QVERIFY(form->close());
        for (const auto &s : fx.shown)
            QVERIFY2(s.caption != Warning, qPrintable(s.text));
        QVERIFY(fx.boxes.unexpected.isEmpty());
        QCOMPARE(fx.savedNames(), QStringList { u"Aspirin"_s });
        QCOMPARE(QDir(fx.path(u"."_s)).entryList({ u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden),
            QStringList());
    }

    // A register that could not be loaded is written by no path, Erase
    // included, and a link's file is replaced only when it is a register
    // this program loaded. Old behaviour caught: Erase (two Yes) replaced
    // a file that was no register, also through a link, and a link leading
    // nowhere made the start create a register where it led.
    void unloadedRegisterIsNeverWritten_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("not a register") << u"not XML"_s;
        QTest::newRow("a link to a file that is not a register") << u"link"_s;
        QTest::newRow("a link leading nowhere") << u"dangling"_s;
    }

    void unloadedRegisterIsNeverWritten()
    {
        QFETCH(QString, what);
        QTemporaryDir elsewhere;
        const QString target = elsewhere.filePath(u"dnevnik.txt"_s);
        FormFixture fx;
        if (what == u"not XML") {
            writeBytes(fx.dataFile(), "nije XML");
        } else {
            if (what == u"link")
                writeBytes(target, "moj dnevnik, nije registar");
            QVERIFY(QFile::link(target, fx.dataFile()));
        }
        const auto before = snapshot(fx.path(u"."_s));
        const auto beforeElsewhere = snapshot(elsewhere.path());

        TForm1 *form = fx.start();
        QCOMPARE(fx.captions(), (QStringList { u"Pozdrav"_s, u"Greška"_s }));
        QVERIFY2(
            fx.shown[1].text.endsWith(u"\n\nRegistar nije otvoren i datoteka se neće mijenjati."_s),
            qPrintable(fx.shown[1].text));
        QVERIFY(!form->CDSetLijekovi->active());

        fx.shown.clear();
        fx.answers = { Answer::Yes, Answer::Yes };
        QTest::mouseClick(form->BitBtnErase, Qt::LeftButton);
        QCOMPARE(fx.captions(), QStringList { u"Greška"_s });
        QCOMPARE(fx.shown[0].text,
            u"Registar nije otvoren jer se datoteka \"%1\" nije mogla učitati.\nNišta nije "
            "promijenjeno."_s.arg(native(fx.dataFile())));
        QVERIFY(form->close());
        QCOMPARE(snapshot(fx.path(u"."_s)), before);
        QCOMPARE(snapshot(elsewhere.path()), beforeElsewhere);
        QCOMPARE(QFileInfo(fx.dataFile()).symLinkTarget(), what == u"not XML" ? QString() : target);
    }

    // Another program's file found at the start where a crash's entries
    // are brought back: the first save keeps it beside, byte for byte,
    // as the recovery question says. Old behaviour caught: the register
    // on disk was written over with no question and no copy.
    void recoveryOverAChangedRegisterKeepsTheOtherFile()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        TForm1 *form = fx.start();
        form->BitBtnAdd->click();
        form->StringField2->setAsString(u"Brufen"_s);
        form->CDSetLijekovi->post();
        fx.form.reset(); // a crash: only the journal has Brufen
        const QByteArray theirs = foreignRegister(u"Tuđi"_s, 21);
        moveOver(fx.dataFile(), theirs);

        fx.shown.clear();
        fx.answers = { Answer::Yes };
        form = fx.start();
        QCOMPARE(fx.captions(), (QStringList { u"Pozdrav"_s, Warning }));
        QCOMPARE(fx.shown[1].text,
            u"Program nije ispravno zatvoren, a registar \"%1\" je u međuvremenu promijenio "
            "drugi program ili drugi korisnik.\nU datoteci na disku sada je 21 zapis, a u "
            "registru kakav je bio kad je program prekinut 2 zapisa.\nBroj nespremljenih "
            "promjena: 1.\nVratiti registar kakav je bio kad je program prekinut? Datoteka koja "
            "je sada na disku neće se izgubiti: prije prvog spremanja sačuvat će se pored "
            "registra pod imenom \"Baza.xml.<datum>-<vrijeme>\"."_s.arg(native(fx.dataFile())));
        QCOMPARE(fx.shown[1].style, Question);
        QCOMPARE(readFile(fx.dataFile()), theirs);

        fx.shown.clear();
        QVERIFY(form->close());
        QVERIFY(fx.shown.empty());
        QCOMPARE(fx.savedNames(), (QStringList { u"Aspirin"_s, u"Brufen"_s }));
        const QStringList copies
            = QDir(fx.path(u"."_s)).entryList({ u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden);
        QCOMPARE(copies.size(), 1);
        QVERIFY2(QRegularExpression(u"^Baza\\.xml\\.\\d{8}-\\d{6}$"_s).match(copies[0]).hasMatch(),
            qPrintable(copies[0]));
        QCOMPARE(readFile(fx.path(copies[0])), theirs);
        QCOMPARE(int(QFileInfo(fx.path(copies[0])).permissions() & 0x7777),
            int(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                | QFileDevice::WriteUser));

        // Kept once: the register is this program's own again.
        form = fx.start();
        form->BitBtnAdd->click();
        form->StringField2->setAsString(u"Čaj"_s);
        QVERIFY(form->close());
        QCOMPARE(QDir(fx.path(u"."_s)).entryList({ u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden),
            copies);
    }

    // A file its mode keeps from this user's writes is not replaced, the
    // register at close nor an export: the "Greška" box says why, nothing
    // is written, the entries stay. Run as an unprivileged user (the
    // superuser ignores modes). Old behaviour caught: both were silently
    // replaced, and the new file kept the mode 0444.
    void readOnlyTargetIsNotReplaced_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("the register at close") << u"register"_s;
        QTest::newRow("an export") << u"export"_s;
    }

    void readOnlyTargetIsNotReplaced()
    {
        QFETCH(QString, target);
        if (::geteuid() == 0) {
            if (!testsupport::canActAsOtherUsers())
                QSKIP("the superuser ignores modes, and setpriv to be another user is missing");
            const testsupport::Run run = testsupport::runAs(61005, 61005, {},
                { u"readOnlyTargetIsNotReplaced:%1"_s.arg(
                    QString::fromUtf8(QTest::currentDataTag())) });
            QVERIFY2(run.exitCode == 0 && run.output.contains(u", 0 failed, 0 skipped"_s),
                qPrintable(run.output));
            return;
        }
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        const QString file = target == u"register" ? fx.dataFile() : fx.path(u"izvoz.txt"_s);
        if (target == u"export")
            writeBytes(file, "staro");
        QVERIFY(QFile::setPermissions(file,
            QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther
                | QFileDevice::ReadUser));
        const QByteArray old = readFile(file);
        TForm1 *form = fx.start();
        form->BitBtnAdd->click();
        form->StringField2->setAsString(u"Brufen"_s);
        form->CDSetLijekovi->post();

        fx.shown.clear();
        const QString refusal
            = u"Datoteka \"%1\" ne može se spremiti: datoteka je samo za "
              "čitanje (nema prava pisanja u nju). Ništa nije zapisano."_s.arg(native(file));
        if (target == u"register") {
            fx.answers = { Answer::No }; // do not close without saving
            QVERIFY(!form->close());
            QCOMPARE(fx.texts(), (QStringList { refusal, NotSaved }));
        } else {
            fx.saveAnswers = { file };
            QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
            QCOMPARE(fx.texts(), QStringList { refusal });
        }
        QCOMPARE(fx.shown[0].caption, u"Greška"_s);
        QCOMPARE(readFile(file), old);
        QCOMPARE(int(QFileInfo(file).permissions() & 0x7777), 0x4444);
        QCOMPARE(form->CDSetLijekovi->recordCount(), 2);
        // No temporary file left, no copy made.
        QCOMPARE(QDir(fx.path(u"."_s))
                     .entryList({ u".*.lijekovi-*"_s, u"Baza.xml.*"_s, u"izvoz.txt.*"_s },
                         QDir::Files | QDir::Hidden),
            QStringList());
    }

    // A name holding bidirectional control characters is shown as it is,
    // those characters written out. Old behaviour caught: U+202E went into
    // the box and turned the rest of the name around on the screen.
    void bidirectionalControlsInANameAreShown()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        TForm1 *form = fx.start();
        const QString name = fx.path(u"racun\u202Etxt.exe"_s);
        fx.shown.clear();
        fx.saveAnswers = { name };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(fx.texts(),
            QStringList { u"Baza eksportirana u "_s + native(fx.path(u"racun<U+202E>txt.exe"_s)) });
        QVERIFY(QFile::exists(name));
    }

    // A save nobody can answer (a signal, the end of the session) never
    // replaces another file: it writes the register beside it, readable by
    // its owner only, under a name nobody else has taken.
    void unattendedSaveWritesBeside()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } }, { { "Naziv", "Brufen" } } });
        TForm1 *form = fx.start();
        const QByteArray foreign = foreignRegister(u"Tuđi"_s, 250);
        moveOver(fx.dataFile(), foreign);
        // The names of this second and the next ones are taken already.
        QStringList taken;
        const QDateTime now = QDateTime::currentDateTime();
        for (int s = 0; s < 3; ++s) {
            const QString base = u"Baza.xml."_s + now.addSecs(s).toString(u"yyyyMMdd-HHmmss"_s);
            taken << base << base + u"-2"_s;
        }
        for (const QString &name : taken)
            writeBytes(fx.path(name), name.toUtf8());
        const auto before = snapshot(fx.path(u"."_s));

        toolkit::setUnattended(true);
        fx.shown.clear();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"is kept; the register is saved"_s));
        QVERIFY(!form->SaveDatabase());
        QVERIFY(fx.shown.empty());

        auto after = snapshot(fx.path(u"."_s));
        QStringList added;
        for (const QString &name : after.keys()) {
            if (!before.contains(name))
                added << name;
            else
                QCOMPARE(after[name], before[name]);
        }
        QCOMPARE(added.size(), 1);
        QVERIFY2(QRegularExpression(u"^Baza\\.xml\\.\\d{8}-\\d{6}(-\\d+)?$"_s)
                     .match(added[0])
                     .hasMatch(),
            qPrintable(added[0]));
        QCOMPARE(int(QFileInfo(fx.path(added[0])).permissions() & 0x7777),
            int(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                | QFileDevice::WriteUser));
        QStringList names;
        for (const store::Record &r : store::loadDataPacketFile(fx.path(added[0])))
            names << r.text(store::fieldIndex(u"Naziv"));
        QCOMPARE(names, (QStringList { u"Aspirin"_s, u"Brufen"_s }));
        QCOMPARE(readFile(fx.dataFile()), foreign);

        // An unchanged file is simply saved.
        toolkit::setUnattended(false);
        FormFixture fx2;
        fx2.writeRegister({ { { "Naziv", "Aspirin" } } });
        TForm1 *form2 = fx2.start();
        toolkit::setUnattended(true);
        QVERIFY(form2->SaveDatabase());
        QCOMPARE(QDir(fx2.path(u"."_s)).entryList(QDir::Files | QDir::Hidden),
            QStringList { u"Baza.xml"_s });
    }
};

QTEST_MAIN(TestRegisterFile)
#include "tst_registerfile.moc"
