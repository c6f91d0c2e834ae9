#pragma once

#include "platform/FileSystem.h"
#include "platform/PosixInternals.h"

#include <QByteArray>

#include <optional>

#include <sys/stat.h>

namespace posixfs {

// Makes a rename or link inside folder durable.
FsResult syncFolder(const QByteArray &folder);

// True for the names of the temporary files a copy writes where it cannot
// write an unnamed one.
bool isTemporaryName(const char *name);

// rename() that never replaces an existing destination.
int renameNoReplace(const QByteArray &fromPath, const QByteArray &toPath);

// Failures of placing a finished copy that say nothing about the copy or the
// name, only that this file system cannot name an unnamed file.
bool namingUnsupported(int error);

// A copy on its way into the destination folder. It has no name at all
// (O_TMPFILE) where the file system allows, so a killed program leaves
// nothing behind; elsewhere it is a hidden named file, locked while it is
// written, so the leftover cleanup can tell it from an abandoned one. It gets
// its final name only when complete, and only if that name is free.
class StagedFile
{
public:
    StagedFile() = default;
    StagedFile(const StagedFile &) = delete;
    StagedFile &operator=(const StagedFile &) = delete;
    ~StagedFile();

    // A file that is to get mode in the end; modeSet() tells whether it has
    // it already.
    FsResult create(const QByteArray &folder, bool unnamed, mode_t mode);

    int fd() const { return m_fd.get(); }
    bool unnamed() const { return m_tempPath.isEmpty(); }
    bool modeSet() const { return m_modeSet; }

    // Gives the complete file its final name, never replacing one: EEXIST
    // when destination is taken.
    FsResult place(const QByteArray &destination);
    // Puts the complete file in the place of the entry named destination (or
    // gives it that name) in one rename: the name holds the old file or this
    // one at every moment. On failure the old file stays untouched.
    FsResult replace(const QByteArray &destination);

private:
    FsResult link(const QByteArray &destination);

    Fd m_fd{-1};
    QByteArray m_tempPath;
    bool m_modeSet = false;
};

// How far a staged copy is pushed to disk before stageCopy returns.
enum class Flush
{
    None,
    Wait // it is on disk
};

// A complete copy of source in staged, with the source's modification time
// and permission bits, flushed as asked. On success copied holds the state
// the source was copied in. A source the quiet time holds is not copied:
// StillChanging, decided on the status the copy reads anyway.
FsResult stageCopy(const QByteArray &source, const QByteArray &folder, bool unnamed,
                   StagedFile &staged, struct stat &copied, Flush flush,
                   const FileSystem::Admission &admit = {}, const QuietTime &quiet = {});

} // namespace posixfs
