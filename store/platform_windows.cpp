// The store's and the register's calls to Windows, all of them in this one
// file: handles instead of descriptors, FlushFileBuffers for durability,
// MoveFileExW for the atomic replace, the volume's serial number and the
// file index for a file's identity, and access lists instead of modes.

#include "store/platform.h"

#include "store/messagetext.h"

#include <QDir>
#include <QFileInfo>

#include <memory>
#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace store::platform {

namespace {

// ---------------------------------------------------------------- errors

// The errno that a Windows error means, where messagetext has Croatian
// words for it; 0 where it has none.
int errnoOf(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return 0;
    }
}

QString systemText(DWORD error)
{
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    QString text = n > 0 ? QString::fromWCharArray(buffer, int(n)).trimmed()
                         : QStringLiteral("pogreška sustava %1").arg(error);
    LocalFree(buffer);
    // The system's sentences end with a full stop; the messages add their own.
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

Error errorOf(DWORD error)
{
    Error out;
    switch (error) {
    case ERROR_SUCCESS:
        return out;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        out.code = Error::Exists;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
        out.code = Error::Denied;
        break;
    case ERROR_WRITE_PROTECT:
        out.code = Error::ReadOnlyMedium;
        break;
    case ERROR_CANT_RESOLVE_FILENAME:
        out.code = Error::IsLink;
        break;
    default:
        out.code = Error::Other;
        break;
    }
    out.message = systemErrorText(errnoOf(error), systemText(error));
    return out;
}

Error lastError() { return errorOf(GetLastError()); }

void report(Error *error, const Error &what)
{
    if (error)
        *error = what;
}

// Windows' own spelling of a path: backslashes, and the long-path prefix
// so that a deep folder is no reason to fail.
std::wstring native(const QString &path)
{
    QString absolute
        = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (absolute.startsWith(QLatin1String("\\\\")))
        absolute = QLatin1String("\\\\?\\UNC\\") + absolute.mid(2);
    else
        absolute = QLatin1String("\\\\?\\") + absolute;
    return absolute.toStdWString();
}

HANDLE handleOf(qintptr handle) { return reinterpret_cast<HANDLE>(handle); }
qintptr fromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<qintptr>(handle);
}

// Our handles never stand in the way of another program's reads, writes,
// renames or deletes: Windows refuses a rename over a file that is open
// without FILE_SHARE_DELETE.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

qint64 nsOf(LONGLONG fileTime)
{
    // 100-nanosecond ticks since 1601-01-01.
    return (fileTime - 116444736000000000LL) * 100;
}

qint64 nsOf(const FILETIME &t)
{
    return nsOf(LONGLONG((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime));
}

// ------------------------------------------------------------ security

// The user this program runs as, for ownership and for owner-only access.
struct CurrentUser
{
    std::vector<BYTE> sid;

    CurrentUser()
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> buffer(size);
        if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
            const PSID user = reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid;
            sid.assign(static_cast<BYTE *>(user), static_cast<BYTE *>(user) + GetLengthSid(user));
        }
        CloseHandle(token);
    }
    PSID get() const { return sid.empty() ? nullptr : PSID(const_cast<BYTE *>(sid.data())); }
};

const CurrentUser &currentUser()
{
    static const CurrentUser user;
    return user;
}

// Whether an account other than the owner, the system itself and the
// machine's administrators is granted `mask` by the access list.
bool othersGranted(PACL dacl, PSID owner, ACCESS_MASK mask)
{
    // No access list at all: everybody may do anything.
    if (!dacl)
        return true;
    static SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID system = nullptr;
    PSID admins = nullptr;
    AllocateAndInitializeSid(&nt, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0, &system);
    AllocateAndInitializeSid(
        &nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins);
    bool granted = false;
    for (DWORD i = 0; i < dacl->AceCount && !granted; ++i) {
        ACE_HEADER *header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void **>(&header))
            || header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
            continue;
        auto *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header);
        const PSID who = PSID(&ace->SidStart);
        if ((owner && EqualSid(who, owner)) || (system && EqualSid(who, system))
            || (admins && EqualSid(who, admins)))
            continue;
        granted = (ace->Mask & mask) != 0;
    }
    FreeSid(system);
    FreeSid(admins);
    return granted;
}

constexpr ACCESS_MASK ReadRights = FILE_READ_DATA | GENERIC_READ | GENERIC_ALL;
constexpr ACCESS_MASK WriteRights
    = FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE | GENERIC_ALL;

// A security descriptor that lets the current user alone at the file: the
// owner is the user, the access list names the user only and inherits
// nothing from the folder.
class OwnerOnly
{
public:
    OwnerOnly()
    {
        LPWSTR sid = nullptr;
        if (!currentUser().get() || !ConvertSidToStringSidW(currentUser().get(), &sid))
            return;
        const std::wstring text = L"O:" + std::wstring(sid) + L"D:P(A;;FA;;;" + sid + L")";
        LocalFree(sid);
        ConvertStringSecurityDescriptorToSecurityDescriptorW(
            text.c_str(), SDDL_REVISION_1, &m_descriptor, nullptr);
    }
    ~OwnerOnly() { LocalFree(m_descriptor); }
    OwnerOnly(const OwnerOnly &) = delete;
    OwnerOnly &operator=(const OwnerOnly &) = delete;

    PSECURITY_DESCRIPTOR descriptor() const { return m_descriptor; }
    PACL dacl() const
    {
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL acl = nullptr;
        if (!m_descriptor || !GetSecurityDescriptorDacl(m_descriptor, &present, &acl, &defaulted))
            return nullptr;
        return present ? acl : nullptr;
    }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
};

// The path of an open file, for the calls that want one.
std::wstring pathOf(HANDLE handle)
{
    std::wstring path(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
    if (n >= path.size()) {
        path.resize(n + 1);
        n = GetFinalPathNameByHandleW(handle, path.data(), DWORD(path.size()), 0);
    }
    path.resize(n < path.size() ? n : 0);
    return path;
}

// ------------------------------------------------------------ identity

FileIdentity identityOf(HANDLE handle, bool link, Error *error)
{
    BY_HANDLE_FILE_INFORMATION info {};
    const DWORD kind = GetFileType(handle);
    FileIdentity id;
    id.exists = true;
    if (kind == FILE_TYPE_PIPE || kind == FILE_TYPE_CHAR) {
        id.type = kind == FILE_TYPE_PIPE ? FileIdentity::Fifo : FileIdentity::Device;
        return id;
    }
    if (!GetFileInformationByHandle(handle, &info)) {
        report(error, lastError());
        return FileIdentity();
    }
    if (link && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        id.type = FileIdentity::Link;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        id.type = FileIdentity::Folder;
    else
        id.type = FileIdentity::Regular;
    id.regular = id.type == FileIdentity::Regular;
    id.device = quint64(info.dwVolumeSerialNumber);
    id.inode = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = qint64((quint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    id.modified = nsOf(info.ftLastWriteTime);
    id.links = quint32(info.nNumberOfLinks);
    // The change time moves with every change to the file, its attributes
    // and its access list included, and nobody can set it back.
    FILE_BASIC_INFO basic {};
    id.changed = GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)
        ? nsOf(basic.ChangeTime.QuadPart)
        : id.modified;

    // Who may do what, as the POSIX bits this program reasons with: the
    // owner may read, and write unless the file is read-only; the group and
    // others bits stand for any other account the access list lets in.
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    quint32 permissions = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0400 : 0600;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr, &dacl, nullptr,
            &descriptor)
        == ERROR_SUCCESS) {
        id.ownedByUser = owner && currentUser().get() && EqualSid(owner, currentUser().get());
        if (othersGranted(dacl, owner, ReadRights))
            permissions |= 044;
        if (othersGranted(dacl, owner, WriteRights)
            && !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
            permissions |= 022;
        LocalFree(descriptor);
    }
    id.permissions = permissions;
    return id;
}

// A handle for looking at what is at `path`: a folder too, and with
// DontFollow the link itself rather than its target.
HANDLE openToLook(const std::wstring &path, Links links)
{
    return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL, ShareAll, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS
            | (links == Links::DontFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
        nullptr);
}

FileIdentity identifyNative(const std::wstring &path, Links links, Error *error)
{
    const HANDLE handle = openToLook(path, links);
    if (handle == INVALID_HANDLE_VALUE) {
        report(error, lastError());
        return FileIdentity();
    }
    const FileIdentity id = identityOf(handle, links == Links::DontFollow, error);
    CloseHandle(handle);
    return id;
}

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? QString(folder + name)
                                             : QString(folder + QLatin1Char('/') + name);
}

// Sets the file's access list: `ownerOnly`, the current user alone; else
// the folder's inherited rights, as a file made there by default has.
Error setAccess(HANDLE handle, bool ownerOnly)
{
    if (ownerOnly) {
        const OwnerOnly security;
        const DWORD result = SetSecurityInfo(handle, SE_FILE_OBJECT,
            DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr,
            security.dacl(), nullptr);
        return errorOf(result);
    }
    // An empty, unprotected list: only what the folder passes on is left.
    // The inheritance is worked out from the path.
    ACL empty {};
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    std::wstring path = pathOf(handle);
    if (path.empty())
        return lastError();
    const DWORD result = SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
        DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, &empty,
        nullptr);
    return errorOf(result);
}

} // namespace

FileIdentity identify(const QString &path, Links links, Error *error)
{
    return identifyNative(native(path), links, error);
}

QString followLinks(const QString &path, Error *error)
{
    QString current = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(current);
        if (!info.isSymLink() && !info.isJunction())
            return current;
        const QString next = info.symLinkTarget();
        if (next.isEmpty()) {
            report(error, errorOf(ERROR_CANT_RESOLVE_FILENAME));
            return QString();
        }
        current = QDir::fromNativeSeparators(next);
    }
    report(error, errorOf(ERROR_CANT_RESOLVE_FILENAME));
    return QString();
}

// ------------------------------------------------------------------ File

File::~File() { closeQuietly(); }

void File::closeQuietly()
{
    if (m_handle != Invalid)
        CloseHandle(handleOf(m_handle));
    m_handle = Invalid;
}

File File::createNew(const QString &path, Error *error)
{
    // Owner-only from its first moment: no other account ever sees a byte
    // of it, whatever the folder passes on. CREATE_NEW refuses any name
    // that is taken, a link included, and is never followed through one.
    const OwnerOnly security;
    SECURITY_ATTRIBUTES attributes { sizeof attributes, security.descriptor(), FALSE };
    const HANDLE handle
        = CreateFileW(native(path).c_str(), GENERIC_READ | GENERIC_WRITE | WRITE_DAC, ShareAll,
            security.descriptor() ? &attributes : nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        report(error, lastError());
    return File(fromHandle(handle));
}

File File::openForReading(const QString &path, Error *error, Links links)
{
    const HANDLE handle = CreateFileW(native(path).c_str(), GENERIC_READ, ShareAll, nullptr,
        OPEN_EXISTING, links == Links::DontFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        report(error, lastError());
        return File();
    }
    if (links == Links::DontFollow) {
        FILE_ATTRIBUTE_TAG_INFO tag {};
        if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)
            && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            CloseHandle(handle);
            report(error, errorOf(ERROR_CANT_RESOLVE_FILENAME));
            return File();
        }
    }
    return File(fromHandle(handle));
}

Error File::write(QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(left, 1 << 30));
        if (!WriteFile(handleOf(m_handle), p, chunk, &written, nullptr))
            return lastError();
        if (written == 0)
            return errorOf(ERROR_DISK_FULL);
        p += written;
        left -= written;
    }
    return Error();
}

qint64 File::read(char *buffer, qint64 size, Error *error)
{
    DWORD got = 0;
    const DWORD chunk = DWORD(std::min<qint64>(size, 1 << 30));
    if (!ReadFile(handleOf(m_handle), buffer, chunk, &got, nullptr)) {
        // The writing end of a pipe closed: the end, as on POSIX.
        if (GetLastError() == ERROR_BROKEN_PIPE)
            return 0;
        report(error, lastError());
        return -1;
    }
    return qint64(got);
}

// Windows has one call for both: the data and the metadata it needs.
Error File::syncData() { return sync(); }

Error File::sync() { return FlushFileBuffers(handleOf(m_handle)) ? Error() : lastError(); }

FileIdentity File::identity(Error *error) const
{
    return identityOf(handleOf(m_handle), false, error);
}

Error File::setPermissions(QFileDevice::Permissions permissions)
{
    const bool others = permissions
        & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
            | QFileDevice::WriteOther);
    const Error access = setAccess(handleOf(m_handle), !others);
    if (access)
        return access;
    // Without the owner's write right the file is read-only, as Explorer
    // shows it.
    FILE_BASIC_INFO basic {};
    if (!GetFileInformationByHandleEx(handleOf(m_handle), FileBasicInfo, &basic, sizeof basic))
        return lastError();
    const bool readOnly = !(permissions & (QFileDevice::WriteOwner | QFileDevice::WriteUser));
    const DWORD wanted = readOnly ? (basic.FileAttributes | FILE_ATTRIBUTE_READONLY)
                                  : (basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (wanted == basic.FileAttributes)
        return Error();
    basic.FileAttributes = wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted;
    return SetFileInformationByHandle(handleOf(m_handle), FileBasicInfo, &basic, sizeof basic)
        ? Error()
        : lastError();
}

Error File::setDefaultPermissions() { return setAccess(handleOf(m_handle), false); }

Error File::takeOverAttributes(const FileIdentity &old)
{
    // The file it replaces let other accounts in (the folder's rights, in a
    // shared folder): so does the new one. One kept to its owner stays so.
    return setAccess(handleOf(m_handle), old.ownerOnly());
}

bool File::tryLock()
{
    // An exclusive lock between our own opens, held until the handle is
    // closed, as flock() holds one on POSIX. It covers one byte far beyond
    // any content: Windows keeps every other handle from reading a locked
    // range, and the lock file's content must stay readable to all.
    constexpr DWORD LockOffsetHigh = 0x40000000; // 2^62
    const HANDLE handle = handleOf(m_handle);
    OVERLAPPED at {};
    at.OffsetHigh = LockOffsetHigh;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return false;
    // A copy that holds the file open for writing is alive (Qt's lock file
    // is held so, with no lock of this kind): it is the only thing that
    // keeps a second open that shares reading only from succeeding. Opened
    // by its path again (the path of this very handle).
    const std::wstring path = pathOf(handle);
    const HANDLE probe = path.empty() ? INVALID_HANDLE_VALUE
                                      : CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        UnlockFileEx(handle, 0, 1, 0, &at);
        return false;
    }
    CloseHandle(probe);
    return true;
}

Error File::close()
{
    const HANDLE handle = handleOf(m_handle);
    m_handle = Invalid;
    if (handle != INVALID_HANDLE_VALUE && !CloseHandle(handle))
        return lastError();
    return Error();
}

// ---------------------------------------------------------------- Folder

Folder::~Folder()
{
    if (m_handle != File::Invalid)
        CloseHandle(handleOf(m_handle));
}

Folder Folder::open(const QString &path, Error *error)
{
    Folder folder;
    folder.m_path = QDir::fromNativeSeparators(path);
    // Held without FILE_SHARE_DELETE: nobody renames or removes the folder
    // while a file is written in it, so every name below is in this folder.
    const HANDLE handle = CreateFileW(native(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
        nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        report(error, lastError());
    folder.m_handle = fromHandle(handle);
    return folder;
}

File Folder::createNew(const QString &name, Error *error) const
{
    return File::createNew(joined(m_path, name), error);
}

File Folder::openForReading(const QString &name, Error *error) const
{
    return File::openForReading(joined(m_path, name), error, Links::DontFollow);
}

FileIdentity Folder::identify(const QString &name, Links links) const
{
    return identifyNative(native(joined(m_path, name)), links, nullptr);
}

Error Folder::checkWritable(const QString &name) const
{
    const std::wstring path = native(joined(m_path, name));
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return lastError();
    // The read-only attribute is the user's own "do not change this".
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return errorOf(ERROR_ACCESS_DENIED);
    DWORD flags = 0;
    if (GetVolumeInformationByHandleW(
            handleOf(m_handle), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)
        && (flags & FILE_READ_ONLY_VOLUME))
        return errorOf(ERROR_WRITE_PROTECT);
    // What the access list says: an open for writing that another program's
    // sharing refuses is no answer about rights, and no refusal here.
    const HANDLE handle
        = CreateFileW(path.c_str(), FILE_WRITE_DATA, ShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION ? Error() : errorOf(error);
    }
    CloseHandle(handle);
    return Error();
}

QStringList Folder::names() const
{
    return QDir(m_path).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
}

qsizetype Folder::maxNameBytes() const
{
    DWORD longest = 0;
    if (GetVolumeInformationByHandleW(
            handleOf(m_handle), nullptr, 0, nullptr, &longest, nullptr, nullptr, 0)
        && longest > 0)
        return qsizetype(longest);
    return 255;
}

Error Folder::rename(const QString &from, const QString &to) const
{
    return platform::rename(joined(m_path, from), joined(m_path, to));
}

Error Folder::renameNoReplace(const QString &from, const QString &to) const
{
    return platform::renameNoReplace(joined(m_path, from), joined(m_path, to));
}

Error Folder::remove(const QString &name) const { return platform::remove(joined(m_path, name)); }

// MOVEFILE_WRITE_THROUGH returns only once the rename is on disk: there is
// no folder to sync afterwards.
Error Folder::sync() const { return Error(); }

// ------------------------------------------------------------ by path

Error syncFolder(const QString &path)
{
    // Nothing to sync (MOVEFILE_WRITE_THROUGH did it), but a folder that is
    // not there is an error, as everywhere else.
    const DWORD attributes = GetFileAttributesW(native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return errorOf(ERROR_PATH_NOT_FOUND);
    return Error();
}

Error rename(const QString &from, const QString &to)
{
    return MoveFileExW(native(from).c_str(), native(to).c_str(),
               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
        ? Error()
        : lastError();
}

Error renameNoReplace(const QString &from, const QString &to)
{
    return MoveFileExW(native(from).c_str(), native(to).c_str(), MOVEFILE_WRITE_THROUGH)
        ? Error()
        : lastError();
}

Error remove(const QString &path)
{
    return DeleteFileW(native(path).c_str()) ? Error() : lastError();
}

// Windows gives a new file the folder's inherited rights: a colleague who
// may work in a shared folder may take the lock over already.
void shareWithFolderGroup(const QString &file) { Q_UNUSED(file); }

QString lockHostName()
{
    // Qt writes the computer's name, not its DNS name: up to fifteen
    // characters, in capitals.
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? QString::fromWCharArray(name, int(size)) : QString();
}

qint64 processId() { return qint64(GetCurrentProcessId()); }

bool processRuns(qint64 pid)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        // Refused: it lives, under another user.
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

qint64 nowNs()
{
    FILETIME now {};
    GetSystemTimePreciseAsFileTime(&now);
    return nsOf(now);
}

// The pages stay: Windows has no call that hands back part of a heap block
// without risking what the heap keeps beside it.
qsizetype releasePages(const char *buffer, qsizetype from, qsizetype to)
{
    Q_UNUSED(buffer);
    Q_UNUSED(to);
    return from;
}

} // namespace store::platform
