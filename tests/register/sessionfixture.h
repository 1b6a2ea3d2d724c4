#pragma once

#include "register/registersession.h"

#include "store/clientdataset.h"
#include "store/datapacket.h"
#include "store/schema.h"

#include "tests/support/files.h"

#include <QDir>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

#include <deque>
#include <functional>
#include <memory>

using Question = RegisterDialogue::Question;
using Outcome = RegisterSession::SaveOutcome;
using testsupport::readFile;

// Answers the session's questions from a list, as the test says, and
// keeps what it was asked and told.
class Answers : public RegisterDialogue
{
public:
    bool present = true;
    std::deque<bool> answers;
    QList<int> asked; // the questions, as numbers
    QStringList questions;
    QStringList errors;
    QStringList notices;
    // Called with each question before it is answered: what happens while
    // a box waits.
    std::function<void(Question, const QString &)> onAsk;

    bool attended() const override { return present; }
    bool ask(Question question, const QString &text) override
    {
        asked << int(question);
        questions << text;
        if (onAsk)
            onAsk(question, text);
        if (answers.empty()) {
            qWarning("unexpected question: %ls", qUtf16Printable(text));
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void reportError(const QString &message) override { errors << message; }
    void notify(const QString &message) override { notices << message; }
    void reportJournalFailure(const QString &message) override { errors << message; }

    void clear()
    {
        asked.clear();
        questions.clear();
        errors.clear();
        notices.clear();
    }
};

inline store::Record entry(const QString &naziv, const QString &pacijent = QString())
{
    store::Record r;
    if (!naziv.isEmpty())
        r.setText(store::fieldIndex(u"Naziv"), naziv);
    if (!pacijent.isEmpty())
        r.setText(store::fieldIndex(u"Pacijent"), pacijent);
    return r;
}

inline QStringList names(const std::vector<store::Record> &rows)
{
    QStringList out;
    for (const store::Record &r : rows)
        out << r.text(store::fieldIndex(u"Naziv"));
    return out;
}

using testsupport::snapshot;

// A register in a folder of its own, opened as the window opens it: the
// table follows into the journal, the current folder is the register's.
struct Register
{
    QTemporaryDir dir;
    QString oldDir = QDir::currentPath();
    store::ClientDataSet table;
    Answers dialogue;
    std::unique_ptr<RegisterSession> session;

    explicit Register(const std::vector<store::Record> &onDisk)
    {
        QDir::setCurrent(dir.path());
        store::saveDataPacketFile(dataFile(), onDisk);
        open();
    }
    // Only a folder: the test puts in it what the start is to find.
    Register() { QDir::setCurrent(dir.path()); }
    ~Register()
    {
        quit();
        QDir::setCurrent(oldDir);
    }
    // The program ends without a save (killed, or closed without saving).
    void quit()
    {
        table.afterChange = nullptr;
        session.reset();
        table.close();
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    QString dataFile() const { return path(RegisterPaths::dataFileName()); }
    QString journal() const { return path(RegisterPaths::recoveryFileName()); }
    // Opens the register as a start does; `recoveryAllowed` false as a copy
    // that could not have the lock.
    void open(bool recoveryAllowed = true)
    {
        session = std::make_unique<RegisterSession>(dir.path(), table, dialogue);
        session->setRecoveryAllowed(recoveryAllowed);
        table.afterChange = [this](const store::TableChange &c) { session->recordChange(c); };
        table.createDataSet();
        session->load(session->paths().dataFile());
        session->offerRecovery();
    }
    // Another start after a crash or a close, with a fresh dialogue.
    void reopen(std::deque<bool> answers = {}, bool recoveryAllowed = true)
    {
        quit();
        dialogue.clear();
        dialogue.answers = std::move(answers);
        open(recoveryAllowed);
    }
    void add(const store::Record &r)
    {
        table.last();
        table.insert();
        for (int f = 0; f < store::FieldCount; ++f) {
            if (store::textSlot(f) >= 0)
                table.fields(f)->setAsString(r.text(f));
        }
        table.post();
    }
    QStringList onDisk() const { return names(store::loadDataPacketFile(dataFile())); }
    QStringList besideFiles() const
    {
        return QDir(dir.path())
            .entryList({ RegisterPaths::dataFileName() + "." + "2*" }, QDir::Files | QDir::Hidden);
    }
    // The journals in the folder: the register's, those set aside and
    // those of copies without the lock.
    QStringList journals() const
    {
        return QDir(dir.path())
            .entryList({ RegisterPaths::recoveryFileName() + "*" },
                QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    // The journals set aside, under a name with their time.
    QStringList keptAside() const
    {
        QStringList kept;
        for (const QString &name : journals()) {
            if (name.startsWith(RegisterPaths::recoveryFileName() + "-"))
                kept << name;
        }
        return kept;
    }
};
