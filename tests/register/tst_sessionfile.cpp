// The register's file changed behind the session's back: a file moved over
// it, a write into it, the folder renamed and a new one made. No save
// writes over such a file unasked, and a save nobody can answer puts the
// register beside it instead.
#include "tests/register/sessionfixture.h"

#include "store/fileidentity.h"
#include "store/journal.h"

#include "tests/support/registerfiletexts.h"
#include "tests/support/systemfiles.h"
#include "tests/support/users.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

using namespace Qt::StringLiterals;

using namespace testsupport;

namespace {

const QString NewFolderTail
    = u"\n\nSpremiti podatke iz ovog prozora u tu mapu?\nNe: ništa se ne zapisuje."_s;

// The question a save asks: what was found, then the question itself,
// which names the copy to be kept of a file found.
QString questionFor(const QString &description, const QString &file, const QString &asked)
{
    return description
        + (QFileInfo::exists(file) ? replaceTail(keptNameIn(asked, file)) : NewFolderTail);
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
    std::vector<store::Record> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(entry(u"%1 %2"_s.arg(prefix).arg(i + 1)));
    return store::serializeDataPacket(rows);
}

// The mode a kept copy and a register written beside get: the owner's only.
// (fileMode() reads it from the access list on Windows.)
constexpr uint OwnerOnly = 0600;

} // namespace

class TestSessionFile : public QObject
{
    Q_OBJECT

private slots:
    // Each change is found before the write, named in a question whose
    // answer No writes nothing.
    void changeIsFoundBeforeTheWrite_data()
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

    void changeIsFoundBeforeTheWrite()
    {
        QFETCH(QString, change);
        Register reg;
        store::saveDataPacketFile(reg.dataFile(), { entry(u"Aspirin"_s), entry(u"Brufen"_s) });
        if (change == u"old, same stamps") {
            QVERIFY(testsupport::setAge(reg.dataFile(), 3600));
        }
        reg.open();
        reg.add(entry(u"Čaj"_s));

        const QString folder = QDir::cleanPath(reg.dir.path());
        const QString file = reg.dataFile();
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
            QVERIFY(testsupport::setModifiedNs(file, before.modified));
            const store::FileIdentity after = store::identifyFile(file);
            QVERIFY(after.sameFileAs(before) && after.size == before.size
                && after.modified == before.modified);
            expected = contentText(file);
        } else {
#ifndef Q_OS_UNIX
            QSKIP("Windows renames no folder while a file in it is open, and the register's "
                  "lock file is");
#endif
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

        reg.dialogue.answers = { false }; // keep the file
        QCOMPARE(reg.session->save().outcome, Outcome::FileKept);
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::ReplaceChangedFile) });
        QCOMPARE(reg.dialogue.questions[0], questionFor(expected, file, reg.dialogue.questions[0]));
        QCOMPARE(snapshot(folder), before);
        if (!renamed.isEmpty()) {
            QCOMPARE(snapshot(renamed), beforeRenamed);
            QCOMPARE(readFile(renamed + u"/Baza.xml"_s), ours);
        }
        QCOMPARE(reg.table.recordCount(), 3);

        // Asked again at the next save, and closing without saving leaves
        // every file as it was.
        reg.dialogue.clear();
        reg.dialogue.answers = { false };
        QCOMPARE(reg.session->save().outcome, Outcome::FileKept);
        QCOMPARE(reg.dialogue.questions,
            QStringList { questionFor(expected, file, reg.dialogue.questions.value(0)) });
        reg.session->closedWithoutSaving();
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

    // Once replaced with the user's consent, the file is this program's
    // again: the next save asks nothing.
    void replacedFileIsOwnAfterTheReplace()
    {
        Register reg({ entry(u"Aspirin"_s) });
        moveOver(reg.dataFile(), foreignRegister(u"Tuđi"_s, 3));
        reg.dialogue.answers = { true };
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::ReplaceChangedFile) });
        reg.dialogue.clear();
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QVERIFY(reg.dialogue.asked.isEmpty());
        QCOMPARE(reg.onDisk(), QStringList { u"Aspirin"_s });
    }

    // The file changes again while the question waits: the user agreed to
    // replace the file named in it, not this one.
    void fileChangedWhileTheQuestionWaitsIsKept()
    {
        Register reg({ entry(u"Aspirin"_s) });
        moveOver(reg.dataFile(), foreignRegister(u"Tuđi"_s, 3));
        const QByteArray later = foreignRegister(u"Još noviji"_s, 7);
        reg.dialogue.onAsk = [&](Question question, const QString &) {
            if (question == Question::ReplaceChangedFile)
                moveOver(reg.dataFile(), later);
        };
        reg.dialogue.answers = { true };
        QCOMPARE(reg.session->save().outcome, Outcome::Failed);
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::ReplaceChangedFile) });
        QCOMPARE(reg.dialogue.errors,
            QStringList { u"Datoteka \"%1\" ne može se spremiti: datoteku je u međuvremenu "
                          "promijenio drugi program, pa nije zamijenjena. Ništa nije "
                          "zapisano."_s.arg(native(reg.dataFile())) });
        QCOMPARE(readFile(reg.dataFile()), later);
        // Nor is the later file copied under the name that was given for
        // the one the user saw.
        QCOMPARE(QDir(reg.dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList { u"Baza.xml"_s });
    }

    // The session's own saves, and changes that leave the content alone,
    // raise no question.
    void noQuestion_data()
    {
        QTest::addColumn<QString>("between");
        QTest::newRow("a save, then another") << u"save"_s;
        QTest::newRow("permissions changed") << u"chmod"_s;
        QTest::newRow("file removed: written anew") << u"remove"_s;
    }

    void noQuestion()
    {
        QFETCH(QString, between);
        Register reg({ entry(u"Aspirin"_s) });
        if (between == u"save") {
            QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        } else if (between == u"chmod") {
            QVERIFY(QFile::setPermissions(reg.dataFile(),
                QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        } else {
            QVERIFY(QFile::remove(reg.dataFile()));
        }
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QVERIFY(reg.dialogue.asked.isEmpty());
        QVERIFY(reg.dialogue.errors.isEmpty());
        QCOMPARE(reg.onDisk(), QStringList { u"Aspirin"_s });
        QCOMPARE(QDir(reg.dir.path()).entryList({ u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden),
            QStringList());
    }

    // Another program's file found at the start where a crash's entries
    // are brought back: the first save keeps it beside, byte for byte,
    // as the recovery question says. Old behaviour caught: the register
    // on disk was written over with no question and no copy.
    void recoveryOverAChangedRegisterKeepsTheOtherFile()
    {
        Register reg({ entry(u"Aspirin"_s) });
        reg.add(entry(u"Brufen"_s));
        reg.quit(); // a crash: only the journal has Brufen
        const QByteArray theirs = foreignRegister(u"Tuđi"_s, 21);
        moveOver(reg.dataFile(), theirs);

        reg.reopen({ true });
        QCOMPARE(reg.dialogue.asked, QList<int> { int(Question::RecoverOverChanged) });
        QCOMPARE(reg.dialogue.questions,
            QStringList {
                u"Program nije ispravno zatvoren, a registar \"%1\" je u međuvremenu promijenio "
                "drugi program ili drugi korisnik.\nU datoteci na disku sada je 21 zapis, a u "
                "registru kakav je bio kad je program prekinut 2 zapisa.\nBroj nespremljenih "
                "promjena: 1.\nVratiti registar kakav je bio kad je program prekinut? Datoteka "
                "koja je sada na disku neće se izgubiti: prije prvog spremanja sačuvat će se "
                "pored registra pod imenom \"Baza.xml.<datum>-<vrijeme>\"."_s.arg(
                    native(reg.dataFile())) });
        QCOMPARE(readFile(reg.dataFile()), theirs);

        reg.dialogue.clear();
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QVERIFY(reg.dialogue.asked.isEmpty());
        QCOMPARE(reg.onDisk(), (QStringList { u"Aspirin"_s, u"Brufen"_s }));
        const QStringList copies
            = QDir(reg.dir.path()).entryList({ u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden);
        QCOMPARE(copies.size(), 1);
        QVERIFY2(QRegularExpression(u"^Baza\\.xml\\.\\d{8}-\\d{6}$"_s).match(copies[0]).hasMatch(),
            qPrintable(copies[0]));
        QCOMPARE(readFile(reg.path(copies[0])), theirs);
        QCOMPARE(testsupport::fileMode(reg.path(copies[0])), OwnerOnly);

        // Kept once: the register is this program's own again.
        reg.reopen();
        reg.add(entry(u"Čaj"_s));
        QCOMPARE(reg.session->save().outcome, Outcome::Saved);
        QCOMPARE(QDir(reg.dir.path()).entryList({ u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden),
            copies);
    }

    // A register file its mode keeps from this user's writes is not
    // replaced: the error says why, nothing is written, the entries stay.
    // Run as an unprivileged user (the superuser ignores modes). Old
    // behaviour caught: it was silently replaced, and the new file kept
    // the mode 0444.
    void readOnlyRegisterIsNotReplaced()
    {
        if (testsupport::isSuperuser()) {
            if (!testsupport::canActAsOtherUsers())
                QSKIP("the superuser ignores modes, and setpriv to be another user is missing");
            const testsupport::Run run
                = testsupport::runAs(61005, 61005, {}, { u"readOnlyRegisterIsNotReplaced"_s });
            QVERIFY2(run.exitCode == 0 && run.output.contains(u", 0 failed, 0 skipped"_s),
                qPrintable(run.output));
            return;
        }
        Register reg;
        store::saveDataPacketFile(reg.dataFile(), { entry(u"Aspirin"_s) });
        QVERIFY(QFile::setPermissions(reg.dataFile(),
            QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther
                | QFileDevice::ReadUser));
        const QByteArray old = readFile(reg.dataFile());
        reg.open();
        reg.add(entry(u"Brufen"_s));

        QCOMPARE(reg.session->save().outcome, Outcome::Failed);
        QCOMPARE(reg.dialogue.errors,
            QStringList { u"Datoteka \"%1\" ne može se spremiti: datoteka je samo za "
                          "čitanje (nema prava pisanja u nju). Ništa nije zapisano."_s.arg(
                              native(reg.dataFile())) });
        QCOMPARE(readFile(reg.dataFile()), old);
        QCOMPARE(int(QFileInfo(reg.dataFile()).permissions() & 0x7777), 0x4444);
        QCOMPARE(reg.table.recordCount(), 2);
        // No temporary file left, no copy made.
        QCOMPARE(
            QDir(reg.dir.path())
                .entryList({ u".*.lijekovi-*"_s, u"Baza.xml.*"_s }, QDir::Files | QDir::Hidden),
            QStringList());
    }

    // A save nobody can answer (a signal, the end of the session) never
    // replaces another file: it writes the register beside it, readable by
    // its owner only, under a name nobody else has taken.
    void unattendedSaveWritesBeside()
    {
        Register reg({ entry(u"Aspirin"_s), entry(u"Brufen"_s) });
        const QByteArray foreign = foreignRegister(u"Tuđi"_s, 250);
        moveOver(reg.dataFile(), foreign);
        // The names of this second and the next ones are taken already.
        QStringList taken;
        const QDateTime now = QDateTime::currentDateTime();
        for (int s = 0; s < 3; ++s) {
            const QString base = u"Baza.xml."_s + now.addSecs(s).toString(u"yyyyMMdd-HHmmss"_s);
            taken << base << base + u"-2"_s;
        }
        for (const QString &name : taken)
            writeBytes(reg.path(name), name.toUtf8());
        const auto before = snapshot(reg.dir.path());

        reg.dialogue.present = false;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"is kept; the register is saved"_s));
        QCOMPARE(reg.session->save().outcome, Outcome::SavedBeside);
        QVERIFY(reg.dialogue.asked.isEmpty());
        QVERIFY(reg.dialogue.errors.isEmpty());
        QVERIFY(reg.dialogue.notices.isEmpty());

        auto after = snapshot(reg.dir.path());
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
        QCOMPARE(testsupport::fileMode(reg.path(added[0])), OwnerOnly);
        QCOMPARE(names(store::loadDataPacketFile(reg.path(added[0]))),
            (QStringList { u"Aspirin"_s, u"Brufen"_s }));
        QCOMPARE(readFile(reg.dataFile()), foreign);

        // An unchanged file is simply saved.
        Register unchanged({ entry(u"Aspirin"_s) });
        unchanged.dialogue.present = false;
        QCOMPARE(unchanged.session->save().outcome, Outcome::Saved);
        QCOMPARE(QDir(unchanged.dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList { u"Baza.xml"_s });
    }
};

QTEST_GUILESS_MAIN(TestSessionFile)
#include "tst_sessionfile.moc"
