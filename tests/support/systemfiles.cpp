#include "tests/support/systemfiles.h"

#include "store/platform.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>
#else
#include <QCoreApplication>
#include <QDir>

#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#endif

namespace testsupport {

#ifdef Q_OS_UNIX

namespace {
QByteArray native(const QString &path) { return QFile::encodeName(path); }
} // namespace

bool runsUnderWine() { return false; }

bool isSuperuser() { return ::geteuid() == 0; }

bool makeFifo(const QString &path) { return ::mkfifo(native(path).constData(), 0600) == 0; }

bool makeNullDevice(const QString &path)
{
    return isSuperuser() && ::mknod(native(path).constData(), S_IFCHR | 0600, makedev(1, 3)) == 0;
}

bool renameOver(const QString &from, const QString &to)
{
    return ::rename(native(from).constData(), native(to).constData()) == 0;
}

bool ownedByThisUser(const QString &path)
{
    struct stat st
    {
    };
    return ::lstat(native(path).constData(), &st) == 0 && st.st_uid == ::geteuid();
}

bool makeHardLink(const QString &from, const QString &to)
{
    return ::link(native(from).constData(), native(to).constData()) == 0;
}

bool setFileMode(const QString &path, uint mode)
{
    return ::chmod(native(path).constData(), mode_t(mode)) == 0;
}

uint fileMode(const QString &path)
{
    struct stat st
    {
    };
    if (::lstat(native(path).constData(), &st) != 0)
        return 0;
    return uint(st.st_mode & 07777);
}

bool setAge(const QString &path, qint64 seconds)
{
    const timeval times[2] = { { time(nullptr) - seconds, 0 }, { time(nullptr) - seconds, 0 } };
    return ::lutimes(native(path).constData(), times) == 0;
}

bool setModifiedNs(const QString &path, qint64 ns)
{
    const timespec times[2]
        = { { 0, UTIME_OMIT }, { time_t(ns / 1000000000), long(ns % 1000000000) } };
    return ::utimensat(AT_FDCWD, native(path).constData(), times, 0) == 0;
}

QString missingText(const QString &path)
{
    Q_UNUSED(path);
    return QString::fromLocal8Bit(std::strerror(ENOENT));
}

bool processExists(qint64 pid) { return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH; }

RunningProcess::RunningProcess() = default;
RunningProcess::~RunningProcess() = default;
qint64 RunningProcess::id() const { return qint64(::getppid()); }

PermissiveUmask::PermissiveUmask()
    : m_old(uint(::umask(0)))
    , m_set(true)
{
}

void PermissiveUmask::restore()
{
    if (m_set)
        ::umask(mode_t(m_old));
    m_set = false;
}

qint64 endedProcessId()
{
    QProcess p;
    p.start(QStandardPaths::findExecutable(QStringLiteral("true")), QStringList());
    if (!p.waitForStarted())
        return 0;
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

FileStamp stampOf(const QString &path)
{
    struct stat st
    {
    };
    FileStamp stamp;
    if (::lstat(native(path).constData(), &st) != 0)
        return stamp;
    stamp.exists = true;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.mode = uint(st.st_mode);
    stamp.rdev = quint64(st.st_rdev);
    return stamp;
}

#else // Windows

namespace {

std::wstring native(const QString &path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path)).toStdWString();
}

FILETIME fileTimeOfNs(qint64 ns)
{
    // 100-nanosecond ticks since 1601-01-01.
    const quint64 ticks = quint64(ns / 100 + 116444736000000000LL);
    return FILETIME { DWORD(ticks & 0xffffffffu), DWORD(ticks >> 32) };
}

bool setTimes(const QString &path, const FILETIME *accessed, const FILETIME *modified)
{
    const HANDLE handle = CreateFileW(native(path).c_str(), FILE_WRITE_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool set = SetFileTime(handle, nullptr, accessed, modified);
    CloseHandle(handle);
    return set;
}

} // namespace

bool runsUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool isSuperuser() { return false; }

bool makeFifo(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

bool makeNullDevice(const QString &path)
{
    Q_UNUSED(path);
    return false;
}

bool renameOver(const QString &from, const QString &to)
{
    return MoveFileExW(native(from).c_str(), native(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool ownedByThisUser(const QString &path)
{
    return store::platform::identify(path, store::platform::Links::DontFollow).ownedByUser;
}

bool makeHardLink(const QString &from, const QString &to)
{
    return CreateHardLinkW(native(to).c_str(), native(from).c_str(), nullptr);
}

bool setFileMode(const QString &path, uint mode)
{
    // The owner alone, and everybody (the group folded in) as the mode's
    // group and others bits say.
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    LPWSTR user = nullptr;
    const bool known = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)
        && ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid, &user);
    CloseHandle(token);
    if (!known)
        return false;
    std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(user) + L")";
    LocalFree(user);
    if (mode & 022)
        sddl += L"(A;;FRFW;;;WD)";
    else if (mode & 044)
        sddl += L"(A;;FR;;;WD)";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::wstring name = native(path);
    const DWORD set = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
        nullptr);
    LocalFree(descriptor);
    if (set != ERROR_SUCCESS)
        return false;
    const DWORD attributes = GetFileAttributesW(native(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD wanted = (mode & 0200) ? (attributes & ~DWORD(FILE_ATTRIBUTE_READONLY))
                                       : (attributes | FILE_ATTRIBUTE_READONLY);
    return wanted == attributes
        || SetFileAttributesW(native(path).c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted);
}

uint fileMode(const QString &path)
{
    return store::platform::identify(path, store::platform::Links::DontFollow).permissions;
}

bool setAge(const QString &path, qint64 seconds)
{
    const FILETIME then = fileTimeOfNs(store::platform::nowNs() - seconds * 1000000000LL);
    return setTimes(path, &then, &then);
}

bool setModifiedNs(const QString &path, qint64 ns)
{
    const FILETIME then = fileTimeOfNs(ns);
    return setTimes(path, nullptr, &then);
}

QString missingText(const QString &path)
{
    const DWORD error = GetFileAttributesW(native(path).c_str()) == INVALID_FILE_ATTRIBUTES
        ? GetLastError()
        : DWORD(ERROR_SUCCESS);
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    QString text = QString::fromWCharArray(buffer, int(n)).trimmed();
    LocalFree(buffer);
    // A message ends the sentence itself.
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

bool processExists(qint64 pid)
{
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool runs = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

RunningProcess::RunningProcess()
    : m_child(std::make_unique<QProcess>())
{
    // It reads its commands from the pipe this process holds open.
    m_child->start(QStringLiteral("cmd.exe"), { QStringLiteral("/q"), QStringLiteral("/k") });
    m_child->waitForStarted();
}

RunningProcess::~RunningProcess()
{
    m_child->kill();
    m_child->waitForFinished();
}

qint64 RunningProcess::id() const { return m_child->processId(); }

PermissiveUmask::PermissiveUmask() = default;
void PermissiveUmask::restore() { }

qint64 endedProcessId()
{
    // This test program again, asked only for its list of functions.
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), { QStringLiteral("-functions") });
    if (!p.waitForStarted())
        return 0;
    const qint64 pid = p.processId();
    p.waitForFinished();
    return pid;
}

FileStamp stampOf(const QString &path)
{
    const store::FileIdentity id
        = store::platform::identify(path, store::platform::Links::DontFollow);
    FileStamp stamp;
    stamp.exists = id.exists;
    stamp.device = id.device;
    stamp.inode = id.inode;
    stamp.mode = (uint(id.type) << 16) | id.permissions;
    return stamp;
}

#endif

} // namespace testsupport
