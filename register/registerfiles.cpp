#include "register/registerfiles.h"

#include "register/registerpaths.h"
#include "store/exception.h"
#include "store/messagetext.h"
#include "store/safefile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

QString shown(const QString &path) { return store::shownPath(path); }

QString folderOf(const QString &path) { return QFileInfo(path).absolutePath(); }

QString when(const store::FileIdentity &id)
{
    return QDateTime::fromMSecsSinceEpoch(id.modified / 1000000)
        .toString(QStringLiteral("dd.MM.yyyy. 'u' HH:mm:ss"));
}

// "izmijenjena 10.12.2026. u 14:30:55, veličina 3612 B"
QString stateOf(const store::FileIdentity &id)
{
    return QStringLiteral("izmijenjena %1, veličina %2 B").arg(when(id)).arg(id.size);
}

} // namespace

QString fileTypeName(store::FileIdentity::Type type)
{
    switch (type) {
    case store::FileIdentity::Folder:
        return QStringLiteral("mapa");
    case store::FileIdentity::Fifo:
        return QStringLiteral("imenovana cijev (FIFO)");
    case store::FileIdentity::Device:
        return QStringLiteral("datoteka uređaja");
    case store::FileIdentity::Socket:
        return QStringLiteral("utičnica (socket)");
    case store::FileIdentity::Link:
        return QStringLiteral("simbolička veza");
    case store::FileIdentity::Missing:
    case store::FileIdentity::Regular:
    case store::FileIdentity::Other:
        break;
    }
    return QStringLiteral("posebna datoteka sustava");
}

QString RegisterFileGuard::Finding::question(const QString &keptAs) const
{
    if (!current.exists) {
        return description
            + QStringLiteral("\n\nSpremiti podatke iz ovog prozora u tu mapu?\n"
                             "Ne: ništa se ne zapisuje.");
    }
    return description
        + QStringLiteral("\n\nZamijeniti tu datoteku podacima iz ovog prozora? Ona se neće "
                         "izgubiti: prije zamjene sačuvat će se pod imenom \"%1\".\n"
                         "Ne: ništa se ne zapisuje.")
              .arg(shown(keptAs));
}

void RegisterFileGuard::loaded(const QString &path, const store::FileIdentity &before)
{
    Known known { store::identifyFile(folderOf(path)), before,
        store::stampIsRecent(before, store::nowNs()) };
    const store::FileIdentity after = store::identifyFile(path);
    if (before.regular && after.sameStateAs(before)) {
        // Kept whatever the file's age: a change of the inode's change time
        // alone (a mode changed, or an edit whose modification time was put
        // back) is told apart by the content.
        if (m_known && m_known->file.sameStateAs(before))
            known.file.sha256 = m_known->file.sha256; // the file just written, read back
        else
            known.file.sha256 = store::fileSha256(path);
    }
    // A file that changed during the read keeps the state found before it,
    // so the next check sees the change.
    m_known = known;
    m_approved.reset();
    m_keepAs.clear();
    m_keepFile = false;
}

void RegisterFileGuard::written(const QString &path, const store::FileIdentity &identity)
{
    // Written a moment ago: the stamps cannot vouch for it yet.
    m_known = Known { store::identifyFile(folderOf(path)), identity, true };
    m_approved.reset();
    m_keepAs.clear();
    m_keepFile = false;
}

QString RegisterFileGuard::keepAs(const QString &path) const
{
    if (!m_keepAs.isEmpty())
        return QFileInfo(m_keepAs).fileName();
    if (m_keepFile)
        return QFileInfo(copyPathFor(path)).fileName();
    return {};
}

QString RegisterFileGuard::copyPathFor(const QString &path)
{
    const QString target = store::replacedFilePath(path);
    const QDateTime now = QDateTime::currentDateTime();
    QString name = store::stampedName(target, QLatin1Char('.'), now, 1);
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n)
        name = store::stampedName(target, QLatin1Char('.'), now, n);
    return name;
}

RegisterFileGuard::Finding RegisterFileGuard::check(const QString &path) const
{
    Finding f;
    f.current = store::identifyFile(path);
    if (m_known && m_known->folder.exists) {
        const QString folder = folderOf(path);
        const store::FileIdentity now = store::identifyFile(folder);
        // A folder that is gone altogether is left to the write, which says so.
        if (now.exists && !now.sameFileAs(m_known->folder)) {
            f.change = Change::FolderReplaced;
            f.description
                = QStringLiteral("Mapa \"%1\" nije više ona iz koje je registar učitan: "
                                 "preimenovana je ili premještena, a pod njezinim je imenom "
                                 "sada druga mapa.\n")
                      .arg(shown(folder));
            f.description += f.current.exists
                ? QStringLiteral("U njoj već postoji datoteka \"%1\" koju ovaj program nije "
                                 "zapisao (%2).")
                      .arg(QFileInfo(path).fileName(), stateOf(f.current))
                : QStringLiteral("U njoj nema datoteke \"%1\".").arg(QFileInfo(path).fileName());
            return f;
        }
    }
    // No file: the write creates it. Not a regular file: the write refuses it
    // with its own reason.
    if (!f.current.regular)
        return f;
    const QString file = shown(QFileInfo(path).absoluteFilePath());
    if (!m_known || !m_known->file.exists) {
        f.change = Change::Appeared;
        f.description = QStringLiteral("Drugi program ili drugi korisnik napravio je datoteku "
                                       "registra \"%1\" dok je ovaj program radio (%2).")
                            .arg(file, stateOf(f.current));
        return f;
    }
    const store::FileIdentity &known = m_known->file;
    if (!f.current.sameFileAs(known)) {
        f.change = Change::Replaced;
        f.description = QStringLiteral("Drugi program ili drugi korisnik zamijenio je datoteku "
                                       "registra \"%1\" drugom datotekom: to više nije ona "
                                       "koju je ovaj program učitao ili zadnji put spremio.\n"
                                       "Bila je %2.\nSada je %3.")
                            .arg(file, stateOf(known), stateOf(f.current));
        return f;
    }
    if (f.current.size != known.size || f.current.modified != known.modified) {
        f.change = Change::Modified;
        f.description = QStringLiteral("Drugi program ili drugi korisnik promijenio je datoteku "
                                       "registra \"%1\" otkako ju je ovaj program učitao ili "
                                       "zadnji put spremio.\nBila je %2.\nSada je %3.")
                            .arg(file, stateOf(known), stateOf(f.current));
        return f;
    }
    // The same stamps, but taken so soon after a write that another write
    // within the same clock tick would have kept them, or the inode changed
    // since (an edit whose modification time was put back, or only a new
    // mode): the content decides.
    const bool stampsVouch = f.current.changed == known.changed && !m_known->stampsTooClose;
    if (!stampsVouch && !known.sha256.isEmpty() && store::fileSha256(path) != known.sha256) {
        f.change = Change::Modified;
        f.description = QStringLiteral("Drugi program ili drugi korisnik promijenio je datoteku "
                                       "registra \"%1\" otkako ju je ovaj program učitao ili "
                                       "zadnji put spremio: veličina i vrijeme izmjene su isti, "
                                       "ali sadržaj nije.")
                            .arg(file);
    }
    return f;
}

store::FileIdentity RegisterFileGuard::expected() const
{
    if (m_approved)
        return *m_approved;
    return m_known ? m_known->file : store::FileIdentity();
}

void checkExportTarget(const QString &target, const QStringList &registerFolders)
{
    // What the export would write: a link is followed, as the save does.
    const QString written = store::replacedFilePath(target);
    const store::FileIdentity id = store::identifyFile(written);
    if (id.exists && !id.regular) {
        throw store::Exception(
            QStringLiteral("Izvoz se ne može spremiti u \"%1\": to nije obična datoteka, nego %2.\n"
                           "Ništa nije zapisano. Odaberite ime obične datoteke.")
                .arg(shown(target), fileTypeName(id.type)));
    }

    const QString name = QFileInfo(written).fileName();
    const store::FileIdentity folder = store::identifyFile(folderOf(written));
    for (const QString &registerFolder : registerFolders) {
        const store::FileIdentity home = store::identifyFile(registerFolder);
        bool own = RegisterPaths::isRegisterFileName(name) && folder.sameFileAs(home);
        bool isRegister = own && RegisterPaths::isDataFileName(name);
        // Hard links and links from elsewhere reach the same files.
        if (!own && id.exists) {
            const QStringList names = QDir(registerFolder)
                                          .entryList(RegisterPaths::registerFileNamePatterns(),
                                              QDir::Files | QDir::Hidden | QDir::System);
            for (const QString &n : names) {
                if (store::identifyFile(QDir(registerFolder).filePath(n)).sameFileAs(id)) {
                    own = true;
                    isRegister = n == RegisterPaths::dataFileName();
                    break;
                }
            }
        }
        if (own) {
            throw store::Exception(
                QStringLiteral("Izvoz se ne može spremiti u \"%1\": %2\n"
                               "Ništa nije zapisano. Odaberite drugo ime ili drugu mapu.")
                    .arg(shown(target),
                        isRegister ? QStringLiteral("to je sam registar, datoteka \"%1\".")
                                         .arg(RegisterPaths::dataFileName())
                                   : QStringLiteral("to je pomoćna datoteka registra "
                                                    "(zaključavanje, podaci za oporavak ili "
                                                    "spremljena kopija).")));
        }
    }
}
