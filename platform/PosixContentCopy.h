#pragma once

#include "platform/Result.h"

#include <sys/stat.h>

namespace posixfs {

// Copies the first size bytes of in to out, skipping holes so that a sparse
// file stays sparse and costs no time or space for its empty ranges.
FsResult copyContent(int in, int out, const struct stat &source);

} // namespace posixfs
