#pragma once

#include <QString>

// Reader and writer for INI-style profile files with the semantics of the
// Windows private-profile functions, so a file written there reads the same
// here. Every call opens, reads or rewrites, and closes the file: no cache.
namespace ProfileFile {

// Settings and language files are a few kilobytes; a larger file is taken
// for unreadable (reads give the defaults) and is never rewritten.
constexpr qsizetype MaxFileSize = 1024 * 1024;

// The value of key in section, or def (trailing blanks removed) when the
// file, section or key is missing; at most size - 1 characters. Only a
// regular file is read: a FIFO, a device or a folder counts as missing.
QString read(const QString &file, const QString &section, const QString &key, const QString &def,
             int size);

// As read(), for a value that is a file or folder path: where its line is
// not valid UTF-8, the value keeps the line's bytes in the form of FileNames,
// so the path names the folder whose name those bytes are, and write() puts
// the same bytes back.
QString readPath(const QString &file, const QString &section, const QString &key, int size);

// Sets key in section to value, creating file and section as needed; every
// other byte of the file stays. Atomic where the folder takes a new file: a
// failed write leaves the old file. Where it does not, and for a file with
// several hard links or another owner, the file is rewritten in place. The
// file keeps its permission bits. Returns false on failure (callers that must
// stay silent ignore it), and for anything that is no regular file.
bool write(const QString &file, const QString &section, const QString &key, const QString &value);

} // namespace ProfileFile
