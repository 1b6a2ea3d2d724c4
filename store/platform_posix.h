#pragma once

// The POSIX side of the store's files, for the POSIX code alone.

#include "store/fileidentity.h"

#include <sys/stat.h>

namespace store {

// The type of a file from its st_mode.
FileIdentity::Type typeOf(unsigned mode);
// What a stat() or fstat() found; no content hash.
FileIdentity identityOf(const struct stat &st);

} // namespace store
