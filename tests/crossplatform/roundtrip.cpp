// Opens the register in a folder as the program does (the lock, Baza.xml
// loaded through the session), saves it back through the session's own
// save and, when asked, writes the text export: the same files the program
// writes, without its window, so that what one system's build writes can be
// compared byte for byte with another's and read back by it.
//
// usage: lijekovi-roundtrip FOLDER [EXPORT-FILE]
// Prints the number of records; exit status 1, with the reason, when the
// register cannot be opened, loaded or saved.

#include "export/textexport.h"
#include "register/registersession.h"
#include "store/clientdataset.h"
#include "store/exception.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <cstdio>

namespace {

// Nobody is there to answer: every question gets its safe answer, and
// anything shown to a user ends the run as a failure.
class Unattended : public RegisterDialogue
{
public:
    bool attended() const override { return false; }
    bool ask(Question, const QString &text) override
    {
        std::fprintf(stderr, "asked, answered No: %s\n", qPrintable(text));
        return false;
    }
    void reportError(const QString &message) override { fail(message); }
    void notify(const QString &message) override { fail(message); }
    void reportJournalFailure(const QString &message) override { fail(message); }

    bool failed = false;

private:
    void fail(const QString &message)
    {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        failed = true;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: lijekovi-roundtrip FOLDER [EXPORT-FILE]\n");
        return 2;
    }
    const QString folder = QDir(args.at(1)).absolutePath();
    store::ClientDataSet table;
    table.open();
    Unattended dialogue;
    try {
        RegisterSession session(folder, table, dialogue);
        if (session.lock() != RegisterSession::Access::Locked)
            return 1;
        if (session.dataFileExists())
            session.load(session.paths().dataFile());
        const RegisterSession::SaveResult saved = session.save();
        if (!saved.saved() || dialogue.failed)
            return 1;
        if (args.size() == 3)
            textexport::saveLines(args.at(2), textexport::buildLines(table));
    } catch (const store::Exception &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(table.recordCount()));
    return 0;
}
