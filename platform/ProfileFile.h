#pragma once

#include <QString>

// Reader and writer for INI-style profile files with the semantics of the
// Windows private-profile functions, so a file written there reads the same
// here. Every call opens, reads or rewrites, and closes the file: no cache.
namespace ProfileFile {

// The value of key in section, or def (trailing blanks removed) when the
// file, section or key is missing; at most size - 1 characters.
QString read(const QString &file, const QString &section, const QString &key, const QString &def,
             int size);

// Sets key in section to value, creating file and section as needed; every
// other byte of the file stays. Atomic: a failed write leaves the old file.
// Returns false on failure (callers that must stay silent ignore it).
bool write(const QString &file, const QString &section, const QString &key, const QString &value);

} // namespace ProfileFile
