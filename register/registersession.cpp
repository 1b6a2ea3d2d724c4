#include "register/registersession.h"

#include "register/registerlock.h"

#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "store/exception.h"
#include "store/journal.h"
#include "store/messagetext.h"
#include "store/safefile.h"
#include "store/schema.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

int fieldNamed(const char16_t *name) { return store::fieldIndex(QStringView(name)); }

} // namespace

RegisterSession::RegisterSession(
    const QString &folder, store::ClientDataSet &table, RegisterDialogue &dialogue)
    : m_paths(folder)
    , m_table(table)
    , m_dialogue(dialogue)
    , m_journal(std::make_unique<store::RecoveryJournal>(m_paths.recoveryFile()))
{
}

RegisterSession::~RegisterSession() = default;

RegisterSession::Access RegisterSession::lock()
{
    // Whatever is older than this was not written by this copy.
    const qint64 started = store::nowNs();
    m_lock = std::make_unique<RegisterLock>(m_paths.folder());
    m_lock->acquire();
    if (!m_lock->permitsStart()) {
        m_dialogue.reportError(QStringLiteral("Registar je već otvoren u drugoj kopiji programa."));
        return Access::Refused;
    }
    const bool locked = m_lock->status() == RegisterLock::Locked;
    if (locked) {
        // No other copy works in this folder now: temporary files of saves
        // that were killed before their rename are left over.
        store::removeStaleTemporaryFiles(m_paths.folder(), started);
    } else {
        m_dialogue.notify(m_lock->problem());
    }
    setRecoveryAllowed(locked);
    return locked ? Access::Locked : Access::Unlocked;
}

QString RegisterSession::journalFile() const { return m_journal->path(); }

void RegisterSession::setRecoveryAllowed(bool allowed)
{
    m_recoveryAllowed = allowed;
    // Another copy may be writing the journal of the register: this one
    // keeps its own, named so that it cannot meet another's.
    const QString journal = m_paths.recoveryFile();
    m_journal = std::make_unique<store::RecoveryJournal>(
        allowed ? journal : store::RecoveryJournal::privateName(journal));
}

bool RegisterSession::dataFileExists() const
{
    const QString &name = m_paths.dataFile();
    return QFileInfo::exists(name) || QFileInfo(name).isSymLink();
}

bool RegisterSession::holdsTypedData(const store::Record &record)
{
    // The four carried-over values are what every new record starts with;
    // anything else was typed.
    const int carried[] = { fieldNamed(u"Ljekarna"), fieldNamed(u"Proizvodjac"),
        fieldNamed(u"Valuta"), fieldNamed(u"Jed_mjere") };
    for (int f = 0; f < store::FieldCount; ++f) {
        if (std::find(std::begin(carried), std::end(carried), f) == std::end(carried)
            && !record.isEmpty(f))
            return true;
    }
    return false;
}

// ------------------------------------------------------ the data file

void RegisterSession::load(const QString &path)
{
    const store::FileIdentity before = store::identifyFile(path);
    // Remembered even when the load fails: Erase may replace that file, and
    // only that one.
    const auto remember = qScopeGuard([&] { m_file.loaded(path, before); });
    // Read whole first: a file that cannot be read leaves the table as it was.
    m_table.assignRecords(store::loadDataPacketFile(path));
}

RegisterSession::FileCheck RegisterSession::checkFile(
    const QString &path, const std::vector<store::Record> &rows)
{
    const RegisterFileGuard::Finding found = m_file.check(path);
    if (found.change == RegisterFileGuard::Change::None) {
        m_file.approve(found.current);
        return FileCheck::MayWrite;
    }
    if (!m_dialogue.attended()) {
        writeBeside(path, rows);
        return FileCheck::WrittenBeside;
    }
    // The file found is not this program's: a Yes replaces it only after
    // keeping it beside, under the name the question gives.
    const QString keepAs = found.current.exists ? RegisterFileGuard::copyPathFor(path) : QString();
    if (!m_dialogue.ask(RegisterDialogue::Question::ReplaceChangedFile, found.question(keepAs)))
        return FileCheck::Kept;
    m_file.approve(found.current, keepAs);
    return FileCheck::MayWrite;
}

void RegisterSession::write(const QString &path, const std::vector<store::Record> &rows)
{
    // The write itself checks once more, just before its rename, that the
    // file there is the one approved.
    store::ReplaceCheck check(path, store::ReplaceCheck::ReplaceExpected, m_file.expected());
    check.keepReplacedAs(m_file.keepAs(path));
    store::saveDataPacketFile(path, rows, &check);
    if (check.written())
        m_file.written(path, *check.written());
}

void RegisterSession::writeBeside(const QString &path, const std::vector<store::Record> &rows)
{
    // Nobody can say whether the file found may go: it stays, and the
    // register is kept next to it under a new name.
    const QDateTime now = QDateTime::currentDateTime();
    const QString base = store::stampedName(path, QLatin1Char('.'), now, 1);
    for (int n = 1; n <= store::NameTries; ++n) {
        const QString name = store::stampedName(path, QLatin1Char('.'), now, n);
        store::ReplaceCheck check(name, store::ReplaceCheck::CreateOnly);
        try {
            store::saveDataPacketFile(name, rows, &check);
            qWarning("%ls was changed by another program and is kept; the register is saved "
                     "beside it as %ls.",
                qUtf16Printable(QDir::toNativeSeparators(path)),
                qUtf16Printable(QDir::toNativeSeparators(name)));
            return;
        } catch (const store::Exception &) {
            if (!check.nameTaken())
                throw;
        }
    }
    throw store::Exception(QStringLiteral("Datoteka \"%1\" ne može se spremiti: sva su imena "
                                          "za kopiju pored nje zauzeta.")
                               .arg(store::shownPath(base)));
}

RegisterSession::SaveResult RegisterSession::save()
{
    const int naziv = fieldNamed(u"Naziv");
    const auto typedButNameless = [naziv](const store::Record &record) {
        return record.isEmpty(naziv) && holdsTypedData(record);
    };
    const auto &records = m_table.records();
    const auto firstTyped = std::find_if(records.begin(), records.end(), typedButNameless);
    const int typed = int(std::count_if(firstTyped, records.end(), typedButNameless));
    std::vector<store::Record> keptForRecovery;
    if (typed > 0 && !m_dialogue.attended()) {
        // Nobody can be asked whether these may go: they are left out of
        // the file and stay in the journal, so the next start offers them.
        std::copy_if(
            firstTyped, records.end(), std::back_inserter(keptForRecovery), typedButNameless);
        m_table.deleteWhere([naziv, typedButNameless](const store::Record &record) {
            return record.isEmpty(naziv) && !typedButNameless(record);
        });
    } else if (typed > 0) {
        // Said plainly: what is wrong, which entry it is, and what each
        // answer does; No is the default and loses nothing.
        const int firstRow = int(firstTyped - records.begin());
        const QString patient = firstTyped->text(fieldNamed(u"Pacijent")).trimmed();
        const QString first = patient.isEmpty()
            ? QStringLiteral("redak %1").arg(firstRow + 1)
            : QStringLiteral("redak %1, pacijent „%2“").arg(firstRow + 1).arg(patient);
        const QString question
            = QStringLiteral("Bez naziva lijeka, a s drugim upisanim podacima: %1 (prvi: %2).\n"
                             "Zapis bez naziva lijeka ne može se spremiti.\n"
                             "Da: ti se zapisi brišu, a ostali se spremaju.\n"
                             "Ne: ništa se ne briše ni ne sprema, a kursor ide u naziv lijeka "
                             "prvoga od njih.\nObrisati ih?")
                  .arg(store::entryCount(typed), first);
        if (!m_dialogue.ask(RegisterDialogue::Question::PurgeNameless, question))
            return { SaveOutcome::NamelessKept, firstRow };
    }
    if (keptForRecovery.empty())
        purgeUnnamed();

    std::vector<store::Record> rows;
    try {
        if (m_table.state() == store::ClientDataSet::Edit)
            m_table.post();
        if (keptForRecovery.empty()) {
            rows = m_table.records();
        } else {
            std::copy_if(records.begin(), records.end(), std::back_inserter(rows),
                [naziv](const store::Record &record) { return !record.isEmpty(naziv); });
        }
        const QString &path = m_paths.dataFile();
        switch (checkFile(path, rows)) {
        case FileCheck::MayWrite:
            break;
        case FileCheck::Kept:
            return { SaveOutcome::FileKept };
        case FileCheck::WrittenBeside:
            return { SaveOutcome::SavedBeside };
        }
        write(path, rows);
    } catch (const store::Exception &e) {
        m_dialogue.reportError(e.message());
        return { SaveOutcome::Failed };
    }
    saved(rows);
    return { SaveOutcome::Saved };
}

void RegisterSession::purgeUnnamed()
{
    // One pass over the table rather than a delete per record: the register
    // may hold thousands of nameless entries.
    const int naziv = fieldNamed(u"Naziv");
    m_table.deleteWhere([naziv](const store::Record &record) { return record.isEmpty(naziv); });
}

// ------------------------------------------------------ the journal

QString RegisterSession::setAside(const QString &path) const
{
    return store::RecoveryJournal::setAside(path, m_paths.recoveryFile());
}

void RegisterSession::offerRecovery()
{
    std::vector<store::Record> loaded = m_table.records();
    // Nobody is there to answer (the program is being ended): every journal
    // stays as it is for the next start.
    if (!m_dialogue.attended())
        return;
    // Without the lock another copy may be writing any of them.
    if (m_recoveryAllowed) {
        for (const QString &file : store::RecoveryJournal::leftBehind(m_paths.recoveryFile())) {
            if (!offerRecoveryFrom(file, loaded))
                return;
        }
    }
    m_journal->setBase(std::move(loaded));
    m_journalling = true;
}

// False when the start must look at no further journal: one was recovered,
// or nobody answered.
bool RegisterSession::offerRecoveryFrom(
    const QString &file, const std::vector<store::Record> &loaded)
{
    const QString shown = store::shownPath(file);
    const QString registerShown = QStringLiteral("\nRegistar \"%1\" nije mijenjan.")
                                      .arg(store::shownPath(m_paths.dataFile()));
    std::optional<store::Recovery> recovery;
    try {
        recovery = store::RecoveryJournal::read(file);
    } catch (const store::Exception &e) {
        // Kept for whoever wants to look; it never stops the start.
        const QString aside = setAside(file);
        m_dialogue.reportError(e.message() + QStringLiteral("\n\n")
            + (aside.isEmpty() ? QStringLiteral("Datoteka je ostavljena kako jest.")
                               : QStringLiteral("Datoteka je premještena u \"%1\".")
                                     .arg(store::shownPath(aside)))
            + registerShown);
        return true;
    }
    const bool damaged = !recovery->damage.isEmpty();
    if (recovery->changes == 0 && !damaged) {
        QFile::remove(file);
        return true;
    }
    if (recovery->changes == 0) {
        // Damaged before its first change: nothing to offer, all of it kept.
        const QString aside = setAside(file);
        m_dialogue.reportError(QStringLiteral("Datoteka za oporavak \"%1\" nije ispravna: %2.\n\n")
                                   .arg(shown, recovery->damage)
            + (aside.isEmpty() ? QStringLiteral("Datoteka je ostavljena kako jest.")
                               : QStringLiteral("Datoteka je premještena u \"%1\".")
                                     .arg(store::shownPath(aside)))
            + registerShown);
        return true;
    }

    const bool closed = recovery->closedWithoutSaving;
    const QString opening = closed ? QStringLiteral("Program je zatvoren bez spremanja")
                                   : QStringLiteral("Program nije ispravno zatvoren");
    const QString count = damaged
        ? QStringLiteral("Datoteka za oporavak \"%1\" oštećena je (%2) i nije pročitana do "
                         "kraja.\nBroj pročitanih promjena: %3.\n")
              .arg(shown, recovery->damage)
              .arg(recovery->changes)
        : QStringLiteral("Broj nespremljenih promjena: %1.\n").arg(recovery->changes);
    QString question;
    auto kind = RegisterDialogue::Question::Recover;
    if (recovery->base == loaded) {
        question = opening + QStringLiteral(".\n") + count + QStringLiteral("Vratiti ih?");
    } else {
        // Never apply changes to a file they were not made on without the
        // user's word; leaving both alone is the default.
        const QString when = closed ? QStringLiteral("zatvoren") : QStringLiteral("prekinut");
        question = opening
            + QStringLiteral(", a registar \"%1\" je u međuvremenu promijenio drugi program ili "
                             "drugi korisnik.\nU datoteci na disku sada je %2, a u registru "
                             "kakav je bio kad je program %3 %4.\n")
                  .arg(store::shownPath(m_paths.dataFile()),
                      store::entryCount(qsizetype(loaded.size())), when,
                      store::entryCount(qsizetype(recovery->rows.size())))
            + count
            + QStringLiteral("Vratiti registar kakav je bio kad je program %1? Datoteka koja je "
                             "sada na disku neće se izgubiti: prije prvog spremanja sačuvat će "
                             "se pored registra pod imenom \"%2.<datum>-<vrijeme>\".")
                  .arg(when, RegisterPaths::dataFileName());
        kind = RegisterDialogue::Question::RecoverOverChanged;
    }
    const bool yes = m_dialogue.ask(kind, question);
    // A question nobody answered (a signal ended the program meanwhile)
    // changes nothing: the next start asks again.
    if (!m_dialogue.attended())
        return false;
    if (yes) {
        // The file on disk is not the one the journal began from: the first
        // save keeps it beside before replacing it.
        if (recovery->base != loaded)
            m_file.keepBeforeReplacing();
        // A damaged journal is kept whole: what could not be read is there.
        const QString aside = damaged ? setAside(file) : QString();
        m_journal->setBase(loaded);
        if (!damaged)
            m_journal->adopt(file, *recovery);
        m_journalling = true;
        // Rewrites the journal from the file's records and the recovered
        // ones, replacing the one read in one atomic step.
        m_table.assignRecords(std::move(recovery->rows));
        m_table.last();
        if (damaged) {
            m_dialogue.notify(aside.isEmpty()
                    ? QStringLiteral("Pročitane promjene su vraćene. Ostatak je ostao u datoteci "
                                     "\"%1\".")
                          .arg(shown)
                    : QStringLiteral("Pročitane promjene su vraćene. Ostatak je sačuvan u "
                                     "datoteci \"%1\".")
                          .arg(store::shownPath(aside)));
        }
        return false;
    }
    const QString aside = setAside(file);
    m_dialogue.notify(aside.isEmpty()
            ? QStringLiteral("Nespremljene promjene nisu vraćene i ostaju u datoteci \"%1\".")
                  .arg(shown)
            : QStringLiteral("Nespremljene promjene nisu vraćene. Sačuvane su u datoteci \"%1\".")
                  .arg(store::shownPath(aside)));
    return true;
}

void RegisterSession::recordChange(const store::TableChange &change)
{
    if (!m_journalling)
        return;
    try {
        m_journal->record(change, m_table.records());
        m_journalFailureShown = false;
    } catch (const store::Exception &e) {
        journalFailed(e.message());
    }
}

void RegisterSession::recordTyping(const store::Record *typed)
{
    if (!m_journalling)
        return;
    try {
        const auto state = m_table.state();
        const auto &rows = m_table.records();
        if (state == store::ClientDataSet::Insert && typed && holdsTypedData(*typed)) {
            m_journal->recordDraft(-1, *typed, rows);
        } else if (state == store::ClientDataSet::Edit && typed
            && *typed != rows[size_t(m_table.currentRow())]) {
            m_journal->recordDraft(m_table.currentRow(), *typed, rows);
        } else {
            m_journal->clearDraft(rows);
        }
        m_journalFailureShown = false;
    } catch (const store::Exception &e) {
        journalFailed(e.message());
    }
}

bool RegisterSession::hasDraft() const { return m_journal->hasDraft(); }

void RegisterSession::journalFailed(const QString &message)
{
    // Shown once until the journal works again.
    if (m_journalFailureShown)
        return;
    m_journalFailureShown = true;
    m_dialogue.reportJournalFailure(message
        + QStringLiteral("\n\nUpisani podaci još su u programu. Ako se program sada sruši, "
                         "promjene od zadnjeg spremanja bit će izgubljene."));
}

void RegisterSession::saved(const std::vector<store::Record> &saved)
{
    if (!m_journalling)
        return;
    m_journal->discard();
    m_journal->setBase(saved);
    if (m_table.records() != saved) {
        // What the file was not given (nameless records nobody could be
        // asked about) stays in a new journal.
        recordChange({ store::TableChange::Reset, -1, nullptr, {}, &m_table.records() });
    }
}

void RegisterSession::closedWithoutSaving()
{
    // The entries stay in the journal (the save failed: they may exist
    // nowhere else), but the next start is told this was no crash.
    if (!m_journalling)
        return;
    try {
        m_journal->markClosedWithoutSaving(m_table.records());
    } catch (const store::Exception &e) {
        qWarning("%ls", qUtf16Printable(e.message()));
    }
}
