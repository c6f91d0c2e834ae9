#pragma once

#include "platform/FileStamp.h"

#include <QString>

#include <optional>

// The optional settings of the Extra options dialog, all in [Options] of the
// settings file. Each is off while its key is absent, so a settings file
// without them gives exactly the plain job.
struct ExtraOptions
{
    int quietSeconds = 0; // QuietSeconds: files changed this recently wait
    QString include;      // Include: fnmatch patterns separated by ';'
    QString exclude;      // Exclude: likewise
    // NameTaken: what becomes of a file whose name is taken while Overwrite
    // is off.
    enum class NameTaken
    {
        Keep = 0,         // it stays in the source
        Number = 1,       // placed as "name (1).ext"
        SkipIdentical = 2 // likewise, unless its content is already there
    };
    NameTaken nameTaken = NameTaken::Keep;
    bool replaceToTrash = false; // ReplaceToTrash: Overwrite keeps the old file in the trash
    bool logFile = false;        // LogFile: the activity log file

    bool operator==(const ExtraOptions &) const = default;

    // The longest pattern list read, in characters.
    static constexpr int PatternListSize = 4096;

    static ExtraOptions read();
    // Writes the values that differ from before; keys it need not write stay
    // as they are (absent stays absent).
    void write(const ExtraOptions &before) const;

    // The setting texts as the file holds them, parsed.
    static int quietSecondsFrom(const QString &text);
    static NameTaken nameTakenFrom(const QString &text);
    // Counts the saves through write(), from any thread.
    static int savedGeneration();
};

// ExtraOptions for the pass. A save through write() applies to the very next
// file; an edit of the file by other means is seen at the next recheck (the
// pass rechecks at each batch of files, so the file is not examined anew
// for every small file).
class CachedExtraOptions
{
public:
    const ExtraOptions &value();
    // Reads the file again when it changed since it was last read.
    void recheck();

private:
    void read();

    std::optional<FileStamp> m_stamp;
    int m_generation = -1;
    ExtraOptions m_value;
};
