#pragma once

#include "platform/QuietTime.h"
#include "platform/Result.h"
#include "settings/CachedSetting.h"
#include "settings/ExtraOptions.h"
#include "settings/Messages.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <vector>

class BackgroundRunner;
class Clock;
class FileSystem;
class MoveBatch;
class PassGate;
class PassHost;

// One pass over the source folder: copies or moves every plain file into the
// destination folder and logs each file's outcome. Runs on the UI thread; the
// file-system work of each file (tests, settings, copy, move, delete) runs on a
// worker thread while the UI thread keeps processing events, so a slow or hung
// drive never freezes the window. Never throws; every failure becomes an error
// line.
class TransferPass
{
public:
    TransferPass(PassHost &host, FileSystem &fs, const Clock &clock);

    // DoAction
    void run();

    // After run(): the files that got an error line or were refused for
    // lack of space, and whether the source folder could not be listed.
    int filesAffected() const { return m_filesAffected; }
    bool listingFailed() const { return m_listingFailed; }
    // After run(): another pass held the source folder, so this one did
    // nothing and wrote no line; what to say is the caller's.
    bool folderBusy() const { return m_folderBusy; }
    // After run(): the files moved or copied.
    int filesTransferred() const { return m_filesTransferred; }

private:
    // What became of one file. The worker fills it in; the UI thread then
    // writes the file's log lines from it.
    struct Report
    {
        enum class Outcome
        {
            None,        // failed before a decision: only error lines
            Done,        // transferred
            Overwritten, // transferred over an existing file
            Kept,        // left alone: it exists and is not to be replaced
            Refused,     // no room in the destination
            Held,        // changed too recently: left for a later pass
            PlacedAs,    // transferred under a numbered name
            Identical    // its content is there already
        };
        QStringList errors; // failure descriptions, in the order they came
        Outcome outcome = Outcome::None;
        QString placedAs; // the numbered name, for PlacedAs
    };

    // What the destination check answered for one file.
    enum class Verdict
    {
        Transfer,
        Refuse,
        Failed
    };

    int treatFiles(const QStringList &files, BackgroundRunner &runner);
    int treatBatch(int first);
    void writeFinished(bool showCurrent);
    void showProgress(int index);
    void writeOutcome(const QString &name, const Report &report);
    // All file-system work for one file; runs on the worker thread and
    // touches neither the host nor the log.
    Report examine(const QString &name, bool overwrite);
    Verdict checkDestination(const QString &sourcePath, Report &report);
    Verdict checkDestination(std::optional<qint64> size, Report &report);
    void treatExisting(const QString &name, bool overwrite, Report &report);
    bool place(const QString &name, const QuietTime &quiet, Report::Outcome done, Report &report);
    bool stillBeingWritten(const QString &name, const QuietTime &quiet, Report &report);
    bool heldFirst(const QString &name, const QuietTime &quiet, Report &report);
    void placeNumbered(const QString &name, Report &report);
    bool alreadyThere(const QString &name, const QString &existing, Report &report);
    bool toTrash(const QString &name, Report &report);
    QStringList takenFiles(const QStringList &files);
    void nameTaken(const QString &name, bool numbering, Report &report);
    void settle(const QString &name, Report::Outcome done, const FsResult &moved, Report &report);
    bool collidesWithPlaced(const QString &name, Report &report);
    static QString foldedName(const QString &name);
    static QString leftoverText(int count);
    static QString unlockedText(const QString &reason);
    bool onSameDrive();
    // The one failure handler: the error line replaces the last line.
    void fail(const QString &description, const QString &name);
    // Writes the outcome line unless the file already has its error line.
    void outcome(const QString &line);

    QString msg(MsgId id) const;
    QString stamped(const QString &text);

    PassHost &m_host;
    PassGate &m_gate; // the host's; the worker reads it before each file
    FileSystem &m_fs;
    const Clock &m_clock;

    // Read once per pass.
    QString m_source;
    QString m_destination;
    bool m_move = false;
    std::optional<bool> m_sameDrive; // looked up by the worker when first needed
    // Moves of the current batch that wait for its flush (worker only).
    struct Deferred
    {
        int index;
        Report::Outcome done;
    };
    // A batch whose copies wait for one flush of a whole file system runs
    // this long: tens of batches a second would each pay a journal commit.
    static constexpr int WholeFlushBatchMs = 250;
    MoveBatch *m_moveBatch = nullptr;
    std::vector<Deferred> m_deferred;
    int m_current = 0; // index of the file examine() works on

    // Files this pass put in the destination, by case-folded name; touched by
    // the worker only.
    QHash<QString, QString> m_placed;
    std::vector<QString> m_placedNames; // placed, not yet in m_placed

    // The files of the pass and what became of them. The worker fills in a
    // report, then counts it finished; the UI thread writes its lines.
    QStringList m_files;
    std::vector<Report> m_reports;
    std::atomic<int> m_inProgress{0}; // 1 + index of the file the worker is on
    std::atomic<int> m_finished{0};
    std::atomic<bool> m_overwrite{false}; // the box, as last read on the calling thread
    int m_written = 0;                    // files whose lines are written
    bool m_progressShown = false;         // for file m_written

    QString m_actionName; // empty until the first file is treated
    bool m_errorFlag = false;
    int m_filesAffected = 0;
    int m_filesTransferred = 0;
    int m_held = 0; // files written as still being written
    bool m_listingFailed = false;
    bool m_folderBusy = false;

    QString m_stamp;
    qint64 m_stampSecond = 0;

    // Read for every file, on the worker.
    CachedExtraOptions m_options;
    ExtraOptions::NameTaken m_nameTaken = ExtraOptions::NameTaken::Keep; // of the current file
    // Read for every file that needs the destination check, on the worker.
    CachedSetting m_checkSetting{QStringLiteral("Options"), QStringLiteral("CheckDestination"),
                                 QStringLiteral("0")};
};
