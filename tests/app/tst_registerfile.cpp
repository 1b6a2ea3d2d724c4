// The register's file changed behind the program's back, as the window
// meets it: the question at a close, an export and Erase, and what each
// answer does there; a register that could not be loaded; the export's own
// target. The session's rules for such a file are tested in tests/register.
#include "tests/app/formfixture.h"

#include "store/fileidentity.h"
#include "toolkit/bitbtn.h"

#include "tests/support/registerfiletexts.h"
#include "tests/support/systemfiles.h"
#include "tests/support/users.h"

#include <QDateTime>
#include <QRegularExpression>

using Answer = toolkit::MessageBoxAnswer;

using namespace Qt::StringLiterals;

using namespace testsupport;

namespace {

const QString Warning = u"Pažnja!"_s;
const QString NotSaved
    = u"Podaci nisu spremljeni.\nDa: program se zatvara bez spremanja.\nNe: program ostaje otvoren.\nZatvoriti program bez spremanja?"_s;
constexpr toolkit::MessageBoxStyle Question = toolkit::MessageBoxStyle::YesNoDefaultNo;

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

} // namespace

class TestRegisterFile : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { toolkit::setUnattended(false); }

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
            // The copy holds patient data too: the owner's only.
            QCOMPARE(testsupport::fileMode(keptAs) & 0777, 0600u);
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

    // An export saves the register first: the close that follows finds
    // the file the program wrote itself and asks nothing. (The session's
    // own rules for changes that are none: tests/register.)
    void exportThenCloseAsksNothing()
    {
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        TForm1 *form = fx.start();
        fx.shown.clear();
        fx.saveAnswers = { fx.path(u"izvoz.txt"_s) };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
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
        if (what != u"not XML")
            LIJEKOVI_POSIX_ONLY("symbolic links");
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

    // An export over a file its mode keeps from this user's writes: the
    // "Greška" box says why, nothing is written, the entries stay. Run as
    // an unprivileged user (the superuser ignores modes). Old behaviour
    // caught: it was silently replaced, and the new file kept the mode
    // 0444. (The register's own file: tests/register.)
    void readOnlyExportIsNotReplaced()
    {
        if (testsupport::isSuperuser()) {
            if (!testsupport::canActAsOtherUsers())
                QSKIP("the superuser ignores modes, and setpriv to be another user is missing");
            const testsupport::Run run
                = testsupport::runAs(61005, 61005, {}, { u"readOnlyExportIsNotReplaced"_s });
            QVERIFY2(run.exitCode == 0 && run.output.contains(u", 0 failed, 0 skipped"_s),
                qPrintable(run.output));
            return;
        }
        FormFixture fx;
        fx.writeRegister({ { { "Naziv", "Aspirin" } } });
        const QString file = fx.path(u"izvoz.txt"_s);
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
        fx.saveAnswers = { file };
        QTest::mouseClick(form->BitBtnExport, Qt::LeftButton);
        QCOMPARE(fx.texts(), QStringList { refusal });
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
};

QTEST_MAIN(TestRegisterFile)
#include "tst_registerfile.moc"
