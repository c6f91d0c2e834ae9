#pragma once

#include "platform/Result.h"
#include "settings/Messages.h"

#include <QString>

#include <optional>

class BackgroundRunner;
class Clock;
class FileSystem;
class PassHost;

// One pass over the source folder: copies or moves every plain file into the
// destination folder and logs each file's outcome. Runs on the UI thread; each
// copy, move or delete runs on a worker thread while the UI thread keeps
// processing events. Never throws; every failure becomes an error line.
class TransferPass
{
public:
    TransferPass(PassHost &host, FileSystem &fs, const Clock &clock);

    // DoAction
    void run();

private:
    // What the destination check answered for one file.
    enum class Verdict
    {
        Transfer,
        Refuse,
        Failed
    };

    void treatFile(const QString &name, BackgroundRunner &runner);
    Verdict checkDestination(const QString &sourcePath, const QString &name);
    bool onSameDrive();
    FsResult transfer(const QString &sourcePath, const QString &destPath, BackgroundRunner &runner);
    // The one failure handler: the error line replaces the last line.
    void fail(const QString &description, const QString &name);
    // Writes the outcome line unless the file already has its error line.
    void outcome(const QString &line);

    QString msg(MsgId id) const;
    QString stamped(const QString &text);

    PassHost &m_host;
    FileSystem &m_fs;
    const Clock &m_clock;

    // Read once per pass.
    QString m_source;
    QString m_destination;
    bool m_move = false;
    std::optional<bool> m_sameDrive; // looked up when first needed

    QString m_actionName; // empty until the first file is treated
    bool m_errorFlag = false;

    QString m_stamp;
    qint64 m_stampSecond = 0;
};
