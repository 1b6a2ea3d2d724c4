#pragma once

#include "store/fileidentity.h"

#include <QByteArray>
#include <QString>

// What the store asks of the operating system itself, beyond what Qt gives:
// one small interface, implemented once per system in a file of its own
// (platform_posix.cpp), so that the rest of the store reads the same
// everywhere.
namespace store::platform {

// What is at `path` now, following symbolic links; no content hash.
FileIdentity identify(const QString &path);

// The wall clock, in nanoseconds since the epoch.
qint64 nowNs();

// Gives `from` the name `to` only when nothing has that name: never over
// another file, never through a link. False, with errno saying why, when
// the name is taken (EEXIST) or the rename failed.
bool renameNoReplace(const QByteArray &from, const QByteArray &to);

// Hands back to the system the whole pages of `buffer` between the offsets
// `from` and `to`, which will not be read again: their memory may go before
// the buffer does. Returns the offset up to which pages were handed back
// (`from` where the system keeps them).
qsizetype releasePages(const char *buffer, qsizetype from, qsizetype to);

} // namespace store::platform
