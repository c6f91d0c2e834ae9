#include "transfer/TransferPass.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "settings/modIniHandler.h"
#include "transfer/ActivityLog.h"
#include "transfer/BackgroundRunner.h"
#include "transfer/DestinationCheck.h"
#include "transfer/EventRounds.h"
#include "transfer/PassHost.h"
#include "transfer/TransferPassInternals.h"
#include "transfer/modSize.h"

#include <QCoreApplication>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <limits>

using namespace transferpass;

TransferPass::TransferPass(PassHost &host, FileSystem &fs, const Clock &clock)
    : m_host(host), m_gate(host.gate()), m_fs(fs), m_clock(clock)
{
}

// Texts are looked up at each use: a language change saved while the pass
// processes events applies to its later lines.
QString TransferPass::msg(MsgId id) const
{
    return m_host.messages()[id];
}

// The stamp shows whole seconds; formatting it costs more than copying a
// small file, so it is formatted once per second of the clock.
QString TransferPass::stamped(const QString &text)
{
    const qint64 second = m_clock.secondsSinceEpoch();
    if (m_stamp.isEmpty() || second != m_stampSecond) {
        m_stamp = logStamp(m_clock);
        m_stampSecond = second;
    }
    return m_stamp + QStringLiteral(" - ") + text;
}

void TransferPass::run()
{
    ActivityLog &log = m_host.log();
    m_host.setBusyPointer(true);
    m_errorFlag = false;
    m_filesAffected = 0;
    m_filesTransferred = 0;
    m_actionName.clear();
    m_source = m_host.sourceFolder();
    m_destination = m_host.destinationFolder();
    m_move = m_host.moveSelected();
    m_sameDrive.reset();
    m_placed.clear();
    m_placedNames.clear();
    m_options.recheck();

    BackgroundRunner runner;
    // The whole list is taken before any file is touched, so files the pass
    // itself creates or moves do not disturb it.
    // No clicks are handled yet: the job controls are not locked until the
    // list is known, and a click now would still act as Start or Stop.
    int leftovers = 0;
    // Two passes over one folder would each treat the files the other has
    // already moved, and an overwrite would delete them. The lock is held
    // from the listing to the pass's last line.
    std::unique_ptr<FolderLock> lock;
    FsResult unlocked;
    m_folderBusy = false;
    const FsValue<QStringList> listing = runner.call(
        [this, &leftovers, &lock, &unlocked] {
            FsValue<std::unique_ptr<FolderLock>> taken = m_fs.lockFolder(m_source);
            if (taken.error == EWOULDBLOCK) {
                m_folderBusy = true;
                return FsValue<QStringList>::of({});
            }
            lock = std::move(taken.value);
            unlocked = taken.status();
            // Temporary files of an interrupted earlier copy only take room.
            leftovers = m_fs.removeLeftoverTemporaries(m_destination).value;
            return m_fs.listPlainFiles(m_source);
        },
        QEventLoop::ExcludeUserInputEvents);
    if (m_folderBusy) {
        m_host.setBusyPointer(false);
        return;
    }
    m_listingFailed = !listing.ok();
    if (m_listingFailed)
        fail(listing.description, QString());
    if (leftovers > 0) // after the error line, which replaces the log's last line
        log.append(stamped(msg(msgInfo) + QStringLiteral(": ") + leftoverText(leftovers)));
    // A folder that cannot be listed makes no pass to speak of.
    if (!unlocked.ok() && !m_listingFailed)
        log.append(
            stamped(msg(msgInfo) + QStringLiteral(": ") + unlockedText(unlocked.description)));
    const QStringList files = takenFiles(listing.ok() ? listing.value : QStringList());
    const int count = static_cast<int>(files.size());

    if (count == 0) {
        if (!m_errorFlag)
            log.append(
                stamped(msg(msgInfo) + QStringLiteral(": ") + msg(msgNoFiles) + QLatin1Char(' ')));
        m_errorFlag = false;
    } else {
        m_host.setBusy(true);
        m_host.enableControls(false, msg(count > 1 ? msgFiles : msgFile), QString::number(count));
        const int treated = treatFiles(files, runner) - m_held;
        if (m_host.cancelRequested()) {
            log.append(msg(msgResult) + QStringLiteral(": ") + m_actionName + QLatin1Char(' ') +
                       QString::number(treated) + QLatin1Char(' ') +
                       msg(treated == 1 ? msgFile : msgFiles));
            m_host.setCancelRequested(false);
        }
        m_host.enableControls(true, QString(), QString());
        m_host.setBusy(false);
    }

    log.selectLast();
    // Unlocking a folder on a network drive may wait for its server.
    runner.run([&lock] { lock.reset(); }, QEventLoop::ExcludeUserInputEvents);
    m_host.setBusyPointer(false);
}

// The worker takes the files in batches of about one event round's worth; a
// batch of moves to another file system ends with one flush. Where a timer
// can run, the worker goes on from batch to batch without waiting for this
// thread: the timer writes the lines of the finished files, shows the
// progress line of the file in progress, and passes the Overwrite box on to
// the worker, which reads it before each file. A Cancel and a dialog's hold
// reach the worker through the gate at once; the worker ends its batch on
// either, after completing the moves it has staged. Without
// an event loop the worker stops after each batch and the lines are written
// between batches. Returns how many files were treated.
int TransferPass::treatFiles(const QStringList &files, BackgroundRunner &runner)
{
    ActivityLog &log = m_host.log();
    const int count = static_cast<int>(files.size());
    m_files = files;
    m_reports.assign(size_t(count), Report());
    m_written = 0;
    m_held = 0;
    m_progressShown = false;
    m_inProgress = 0;
    m_finished = 0;

    // A Cancel requested through the host's flag alone is passed on at the
    // next round; requestCancel() reaches the worker at once.
    m_gate.clearCancel();
    const auto passOnCancel = [this] {
        if (m_host.cancelRequested())
            m_gate.cancel();
    };

    std::optional<QTimer> rounds;
    if (QCoreApplication::instance()) {
        rounds.emplace();
        rounds->setInterval(EventRounds::IntervalMs);
        QObject::connect(&*rounds, &QTimer::timeout, [this, passOnCancel] {
            passOnCancel();
            m_overwrite = m_host.overwriteTicked();
            writeFinished(true);
        });
    }

    int next = 0;
    while (next < count) {
        log.selectLast();
        m_host.processEvents();
        if (m_host.cancelRequested())
            break;
        // The batch's first file is treated whatever happens now: its
        // progress line is up.
        showProgress(next);
        m_host.processEvents();
        passOnCancel();
        m_overwrite = m_host.overwriteTicked();
        const bool onward = rounds.has_value();
        if (rounds)
            rounds->start();
        // Between batches the worker waits while a dialog holds the pass.
        runner.run([this, next, onward, count] {
            int from = next;
            do
                from = treatBatch(from);
            while (onward && from < count && m_gate.passOpen());
        });
        if (rounds)
            rounds->stop();
        writeFinished(false);
        next = m_written;
    }
    m_files.clear();
    m_reports.clear();
    m_gate.clearCancel(); // the host's flag carries it to the cancel line
    return next;
}

// On the worker: files from first on, until a round's time has passed, a
// Cancel came or a dialog holds the pass; moves staged so far are completed
// either way. Returns the index of the first file not treated.
int TransferPass::treatBatch(int first)
{
    using namespace std::chrono;
    const auto start = steady_clock::now();
    const auto end = start + milliseconds(EventRounds::IntervalMs);
    const auto longEnd = start + milliseconds(WholeFlushBatchMs);
    const int count = static_cast<int>(m_files.size());
    // Both folders stay at hand for the batch, not longer: a folder renamed
    // or replaced is followed from the next batch on.
    const std::unique_ptr<FolderHold> folders = m_fs.holdFolders({m_source, m_destination});
    // Copies, and moves to another file system, wait for one flush of the
    // batch's copies.
    const std::unique_ptr<MoveBatch> batch = m_fs.newMoveBatch();
    m_moveBatch = batch.get();
    // Without a batch nothing waits, so only time and the gate end a round.
    const size_t capacity = batch ? batch->capacity() : std::numeric_limits<size_t>::max();
    m_options.recheck();
    int i = first;
    for (; i < count; ++i) {
        const bool longer = batch && batch->flushesWholeFileSystem();
        if (i > first && (m_gate.closed() || steady_clock::now() >= (longer ? longEnd : end) ||
                          m_deferred.size() >= capacity))
            break;
        m_inProgress.store(i + 1);
        m_current = i;
        m_reports[size_t(i)] = examine(m_files.at(i), m_overwrite.load());
        // A file whose move waits is not finished, nor is any after it.
        if (m_deferred.empty())
            m_finished.store(i + 1, std::memory_order_release);
    }
    if (batch && !m_deferred.empty()) {
        const std::vector<FsResult> results = m_fs.completeMoves(*batch);
        for (size_t k = 0; k < m_deferred.size(); ++k) {
            const Deferred &move = m_deferred[k];
            settle(m_files.at(move.index), move.done, results.at(k), m_reports[size_t(move.index)]);
        }
        m_deferred.clear();
        m_finished.store(i, std::memory_order_release);
    }
    m_moveBatch = nullptr;
    return i;
}

// Writes the lines of the files the worker has finished, in order; from the
// timer also the progress line of the file it works on.
void TransferPass::writeFinished(bool showCurrent)
{
    const int finished = m_finished.load(std::memory_order_acquire);
    while (m_written < finished) {
        if (!m_progressShown)
            showProgress(m_written);
        writeOutcome(m_files.at(m_written), m_reports[size_t(m_written)]);
        m_progressShown = false;
        ++m_written;
    }
    if (showCurrent && !m_progressShown && m_written < m_inProgress.load()) {
        showProgress(m_written);
        m_host.log().selectLast();
    }
}

// The placeholder, at once replaced by the file's progress line.
void TransferPass::showProgress(int index)
{
    ActivityLog &log = m_host.log();
    m_actionName = msg(m_move ? msgMoved : msgCopied);
    log.append(QStringLiteral("Do Action"));
    log.selectLast();
    log.removeLast();
    log.append(msg(m_move ? msgMoving : msgCopying) + QStringLiteral(": ") + m_files.at(index));
    log.selectLast();
    m_progressShown = true;
}

void TransferPass::writeOutcome(const QString &name, const Report &report)
{
    if (!report.errors.isEmpty() || report.outcome == Report::Outcome::Refused)
        ++m_filesAffected;
    // Texts are taken now: a language saved during the transfer applies.
    for (const QString &description : report.errors)
        fail(description, name);
    if (report.outcome == Report::Outcome::Done || report.outcome == Report::Outcome::Overwritten ||
        report.outcome == Report::Outcome::PlacedAs)
        ++m_filesTransferred;
    const QString done = msg(m_move ? msgMoved : msgCopied);
    const QString notDone = msg(m_move ? msgNotMoved : msgNotCopied);
    switch (report.outcome) {
    case Report::Outcome::None:
        m_errorFlag = false;
        break;
    case Report::Outcome::Done:
        outcome(stamped(done + QStringLiteral(": ") + name));
        break;
    case Report::Outcome::Overwritten:
        outcome(stamped(done + QStringLiteral(" (") + msg(msgOverwritten) + QStringLiteral("): ") +
                        name));
        break;
    case Report::Outcome::Kept:
        outcome(stamped(notDone + QStringLiteral(" (") + msg(msgFileExists) +
                        QStringLiteral("): ") + name));
        break;
    case Report::Outcome::Refused:
        m_host.problemLogged();
        outcome(stamped(notDone + QStringLiteral(" - ") + msg(msgNoSpace) + QStringLiteral(": ") +
                        name));
        break;
    case Report::Outcome::Held:
        ++m_held;
        outcome(stamped(notDone + QStringLiteral(" (") + text("t66", "still being written") +
                        QStringLiteral("): ") + name));
        break;
    case Report::Outcome::PlacedAs:
        outcome(stamped(done + QLatin1Char(' ') + text("t67", "as \"%1\"").arg(report.placedAs) +
                        QStringLiteral(": ") + name));
        break;
    case Report::Outcome::Identical:
        outcome(stamped(text("t68", "Already in the destination (identical file)") +
                        QStringLiteral(": ") + name));
        break;
    }
}

TransferPass::Report TransferPass::examine(const QString &name, bool overwrite)
{
    Report report;
    const ExtraOptions &options = m_options.value();
    // With Copy the source stays: numbering alone would add another copy of
    // the same file at every pass.
    m_nameTaken = options.nameTaken == ExtraOptions::NameTaken::Number && !m_move
                      ? ExtraOptions::NameTaken::SkipIdentical
                      : options.nameTaken;
    // The copy or move of a file asks the quiet time of the source's status,
    // which it reads anyway; only where none is tried is it asked on its own.
    const QuietTime quiet(m_clock, options.quietSeconds);
    const QString destPath = joinPath(m_destination, name);
    if (m_move) {
        // A move learns from the rename itself whether the name is taken, so
        // the existence test is asked only where no rename was tried.
        const Verdict verdict = checkDestination(joinPath(m_source, name), report);
        if (verdict != Verdict::Transfer && heldFirst(name, quiet, report))
            return report;
        if (verdict == Verdict::Transfer && place(name, quiet, Report::Outcome::Done, report))
            return report;
        const FsValue<bool> exists =
            verdict == Verdict::Transfer ? FsValue<bool>::of(true) : m_fs.fileExists(destPath);
        if (!exists.ok()) {
            report.errors << exists.description;
            return report;
        }
        if (!exists.value) {
            if (verdict == Verdict::Refuse)
                report.outcome = Report::Outcome::Refused;
            return report;
        }
        report.errors.clear(); // the check has no say over a file that is there
        treatExisting(name, overwrite, report);
        return report;
    }

    // A failed test is never answered with a guess: the file keeps its error
    // line and stays as it is.
    const FsValue<bool> exists = m_fs.fileExists(destPath);
    if ((!exists.ok() || exists.value) && heldFirst(name, quiet, report))
        return report;
    if (!exists.ok()) {
        report.errors << exists.description;
        return report;
    }
    if (exists.value) {
        treatExisting(name, overwrite, report);
        return report;
    }
    // The copy measures its source anyway: the check runs on that size,
    // before anything is written.
    Verdict verdict = Verdict::Transfer;
    const FsResult copied = m_fs.copyUnlessChanging(
        joinPath(m_source, name), destPath, quiet,
        [&](qint64 size) {
            verdict = checkDestination(size, report);
            return verdict == Verdict::Transfer;
        },
        m_moveBatch);
    if (copied.error == FileSystem::StillChanging) {
        report.outcome = Report::Outcome::Held;
        return report;
    }
    if (copied.error == FileSystem::NotAdmitted) {
        if (verdict == Verdict::Refuse)
            report.outcome = Report::Outcome::Refused;
        return report;
    }
    if (copied.error == FileSystem::Deferred) {
        m_deferred.push_back({m_current, Report::Outcome::Done});
        return report;
    }
    settle(name, Report::Outcome::Done, copied, report);
    return report;
}

// A file whose name the destination holds: kept, or replaced when overwriting.
void TransferPass::treatExisting(const QString &name, bool overwrite, Report &report)
{
    const QString sourcePath = joinPath(m_source, name);
    const QString destPath = joinPath(m_destination, name);
    if (!overwrite && m_nameTaken != ExtraOptions::NameTaken::Keep) {
        if (m_fs.sameFile(sourcePath, destPath))
            report.outcome = Report::Outcome::Kept;
        else
            placeNumbered(name, report);
        return;
    }
    if (collidesWithPlaced(name, report))
        return;
    // Both folder texts may name one folder (a link, a doubled or trailing
    // separator): deleting the "destination" would destroy the source.
    if (!overwrite || m_fs.sameFile(sourcePath, destPath)) {
        report.outcome = Report::Outcome::Kept;
        return;
    }
    // A folder that ignores case finds "Photo.JPG" for "photo.jpg"; that
    // other file is never deleted in its place.
    const FsValue<bool> exact = m_fs.nameExistsExactly(destPath);
    if (!exact.ok()) {
        report.errors << exact.description;
        return;
    }
    if (!exact.value) {
        report.outcome = Report::Outcome::Kept;
        return;
    }
    // The old file goes into the trash as a second name of it, so its own
    // name never stands empty.
    if (m_options.value().replaceToTrash && !toTrash(name, report))
        return;
    // One step: the old file stays under its name until the complete new
    // one takes its place, and stays for good when anything fails.
    settle(name, Report::Outcome::Overwritten, m_fs.replaceFile(sourcePath, destPath, m_move),
           report);
}

// Copies or moves one file; false, with nothing done, when the name is taken.
// Neither ever replaces a file: a name taken meanwhile (another program, or
// this pass on a folder that ignores case) leaves the source as it is.
bool TransferPass::place(const QString &name, const QuietTime &quiet, Report::Outcome done,
                         Report &report)
{
    const QString source = joinPath(m_source, name), destination = joinPath(m_destination, name);
    const FsResult moved =
        m_move ? m_fs.moveUnlessChanging(source, destination, quiet, m_moveBatch)
               : m_fs.copyUnlessChanging(source, destination, quiet, {}, m_moveBatch);
    if (moved.error == FileSystem::StillChanging) {
        report = Report(); // a held file gets its line alone, as if asked first
        report.outcome = Report::Outcome::Held;
        return true;
    }
    if (moved.error == FileSystem::Deferred) {
        m_deferred.push_back({m_current, done});
        return true;
    }
    if (moved.error == EEXIST)
        return false;
    settle(name, done, moved, report);
    return true;
}

void TransferPass::settle(const QString &name, Report::Outcome done, const FsResult &moved,
                          Report &report)
{
    if (moved.error == EEXIST) {
        nameTaken(name, done == Report::Outcome::Done, report);
        return;
    }
    if (!moved.ok())
        report.errors << moved.description;
    else
        m_placedNames.push_back(name);
    report.outcome = done;
}

QString TransferPass::foldedName(const QString &name)
{
    return name.normalized(QString::NormalizationForm_C).toCaseFolded();
}

// True (with the file's error line) when the destination entry for name is a
// file this pass placed under another spelling of the name: the destination
// does not tell the two apart, so the second file stays where it is.
bool TransferPass::collidesWithPlaced(const QString &name, Report &report)
{
    // The names are folded only now: most passes never ask.
    for (const QString &placedName : m_placedNames)
        m_placed.insert(foldedName(placedName), placedName);
    m_placedNames.clear();
    const auto placed = m_placed.constFind(foldedName(name));
    if (placed == m_placed.cend() || *placed == name ||
        !m_fs.sameFile(joinPath(m_destination, name), joinPath(m_destination, *placed)))
        return false;
    report.errors << QStringLiteral("the destination folder does not tell this name apart from "
                                    "\"%1\", which this pass has just put there")
                         .arg(*placed);
    return true;
}

TransferPass::Verdict TransferPass::checkDestination(const QString &sourcePath, Report &report)
{
    // Only a move cares whether both folders share a drive. An undeterminable
    // drive ("") is never taken for the same drive: the size rule then guards
    // the move.
    if (m_move && onSameDrive())
        return checkDestination(std::nullopt, report);
    const FsValue<qint64> length = m_fs.fileLength(sourcePath);
    if (!length.ok()) {
        report.errors << length.description;
        return Verdict::Failed;
    }
    return checkDestination(length.value, report);
}

// The size rule for a file of size bytes; the space rule without a size.
TransferPass::Verdict TransferPass::checkDestination(std::optional<qint64> size, Report &report)
{
    const QString setting = m_checkSetting.value();
    const std::optional<double> value = DestinationCheck::settingValue(setting);
    if (!value) {
        // Logged, then checked as if the setting were 0.
        report.errors << QStringLiteral("CheckDestination is not a number: \"%1\"").arg(setting);
    } else if (*value != 0) {
        return Verdict::Transfer;
    }

    const qint64 free = GetDriveFreeSpace(m_fs, m_destination);
    if (free < 0) {
        report.errors
            << QStringLiteral("Free space of \"%1\" cannot be determined").arg(m_destination);
        return Verdict::Failed;
    }
    const bool allowed = size ? DestinationCheck::sizeRuleAllows(*size, free)
                              : DestinationCheck::spaceRuleAllows(free);
    return allowed ? Verdict::Transfer : Verdict::Refuse;
}

// The folder texts are fixed for the pass, so their drives are looked up
// once, when the first file needs them.
bool TransferPass::onSameDrive()
{
    if (!m_sameDrive) {
        const QString destDrive = m_fs.driveName(m_destination);
        m_sameDrive = !destDrive.isEmpty() && destDrive == m_fs.driveName(m_source);
    }
    return *m_sameDrive;
}

QString TransferPass::leftoverText(int count)
{
    QString text = languageText(QStringLiteral("t53"));
    if (text.isEmpty())
        text = QStringLiteral("%1 temporary file(s) of an interrupted copy removed");
    return text.arg(count);
}

QString TransferPass::unlockedText(const QString &reason)
{
    QString text = languageText(QStringLiteral("t55"));
    if (text.isEmpty())
        text = QStringLiteral("The source folder cannot be locked against other passes (%1); "
                              "this pass runs without the lock");
    return text.arg(reason);
}

void TransferPass::fail(const QString &description, const QString &name)
{
    ActivityLog &log = m_host.log();
    log.removeLast();
    log.append(
        stamped(msg(msgError) + QStringLiteral(": ") + description + QStringLiteral(" - ") + name));
    m_errorFlag = true;
    m_host.problemLogged();
}

void TransferPass::outcome(const QString &line)
{
    if (!m_errorFlag) {
        m_host.log().removeLast();
        m_host.log().append(line);
    }
    m_errorFlag = false;
}
