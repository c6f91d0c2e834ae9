// The rules of the optional settings: quiet time, name patterns, a name
// already taken (numbered names, identical files) and the trash.
#include "transfer/TransferPass.h"

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "transfer/ActivityLog.h"
#include "transfer/NamePatterns.h"
#include "transfer/NumberedName.h"
#include "transfer/PassHost.h"
#include "transfer/TransferPassInternals.h"

using namespace transferpass;

// The name was free when tested and taken when the file was to get it: the
// file stays where it is, as for a file that was there before, or goes under
// a numbered name when that is asked for.
void TransferPass::nameTaken(const QString &name, bool numbering, Report &report)
{
    // A folder of that name is no file to keep: the file cannot go there.
    if (m_fs.folderExists(joinPath(m_destination, name)))
        report.errors << FsResult::fromErrno(EISDIR).description;
    else if (numbering && m_nameTaken != ExtraOptions::NameTaken::Keep)
        placeNumbered(name, report);
    else if (!collidesWithPlaced(name, report))
        report.outcome = Report::Outcome::Kept;
}

// True, with report replaced by the held file's outcome or by the error of
// reading its times, when the quiet time holds the file: as if it had been
// asked before anything else.
bool TransferPass::heldFirst(const QString &name, const QuietTime &quiet, Report &report)
{
    Report held;
    if (!quiet.isOn() || !stillBeingWritten(name, quiet, held))
        return false;
    report = held;
    return true;
}

// True (with the outcome or an error line) when the quiet time holds the
// file, or its times cannot be read.
bool TransferPass::stillBeingWritten(const QString &name, const QuietTime &quiet, Report &report)
{
    const FsValue<qint64> changed = m_fs.lastChangeNs(joinPath(m_source, name));
    if (!changed.ok()) {
        report.errors << changed.description;
        return true;
    }
    if (!quiet.holds(changed.value))
        return false;
    report.outcome = Report::Outcome::Held;
    return true;
}

// Both files stay: the file goes under the first free "name (N).ext". Never
// replaces: a name taken meanwhile moves on to the next number.
void TransferPass::placeNumbered(const QString &name, Report &report)
{
    const bool compare = m_nameTaken == ExtraOptions::NameTaken::SkipIdentical;
    const QString source = joinPath(m_source, name);
    if (compare && alreadyThere(name, name, report))
        return;
    // A new name takes new room, whatever the check said of the old one.
    Verdict verdict = Verdict::Transfer;
    if (m_move) {
        report.errors.clear();
        verdict = checkDestination(source, report);
    }
    for (int n = 1; n <= LastNumber && verdict == Verdict::Transfer; ++n) {
        const QString candidate = numberedName(name, n);
        const QString path = joinPath(m_destination, candidate);
        const FsValue<bool> exists = m_fs.fileExists(path);
        if (!exists.ok()) {
            report.errors << exists.description;
            return;
        }
        if (exists.value) {
            if (compare && alreadyThere(name, candidate, report))
                return;
            continue;
        }
        // Without a batch: a move that waited for the batch's flush could
        // find this name taken only when it is too late to try the next.
        const FsResult placed =
            m_move ? m_fs.moveFile(source, path) : m_fs.copyFile(source, path, [&](qint64 size) {
                verdict = checkDestination(size, report);
                return verdict == Verdict::Transfer;
            });
        if (placed.error == FileSystem::NotAdmitted)
            break;
        if (placed.error == EEXIST) // a folder, or taken meanwhile
            continue;
        if (!placed.ok()) {
            report.errors << placed.description;
            return;
        }
        m_placedNames.push_back(candidate);
        report.outcome = Report::Outcome::PlacedAs;
        report.placedAs = candidate;
        return;
    }
    if (verdict == Verdict::Refuse)
        report.outcome = Report::Outcome::Refused;
    else if (verdict == Verdict::Transfer)
        report.errors
            << text("t69", "no free name up to \"%1\"").arg(numberedName(name, LastNumber));
}

// True (with the outcome or an error line) when the destination's file
// existing holds the source's bytes: a move then deletes its source, a copy
// does nothing.
bool TransferPass::alreadyThere(const QString &name, const QString &existing, Report &report)
{
    const QString source = joinPath(m_source, name), copy = joinPath(m_destination, existing);
    if (m_move) {
        const FsResult removed = m_fs.deleteDuplicate(source, copy);
        if (removed.error == FileSystem::Different)
            return false;
        if (!removed.ok()) {
            report.errors << removed.description;
            return true;
        }
    } else {
        const FsValue<bool> same = m_fs.sameContent(source, copy);
        if (!same.ok()) {
            report.errors << same.description;
            return true;
        }
        if (!same.value)
            return false;
    }
    report.outcome = Report::Outcome::Identical;
    return true;
}

// Before an overwrite: the old file is linked into the trash, unless it
// holds the source's bytes already (with Copy every pass replaces the same
// files, and the trash would fill with copies of them). False, with the
// error line, when it cannot go there: then it is not replaced.
bool TransferPass::toTrash(const QString &name, Report &report)
{
    const QString destPath = joinPath(m_destination, name);
    const FsValue<bool> same = m_fs.sameContent(joinPath(m_source, name), destPath);
    if (same.ok() && same.value)
        return true;
    const FsResult linked = m_fs.linkToTrash(destPath, m_clock.secondsSinceEpoch());
    if (linked.ok())
        return true;
    report.errors << text("t72", "the old file cannot go to the trash (%1), so it is not replaced")
                         .arg(linked.description);
    return false;
}

// The listed files the name patterns take. A malformed Include takes none:
// ignoring it could widen a narrow list to every file.
QStringList TransferPass::takenFiles(const QStringList &files)
{
    const ExtraOptions &options = m_options.value();
    const NameFilter filter(options.include, options.exclude);
    const auto quoted = [](const QStringList &patterns) {
        return QLatin1Char('"') + patterns.join(QStringLiteral("\", \"")) + QLatin1Char('"');
    };
    if (!filter.include().malformed().isEmpty()) {
        // Added, not in place of the last line as fail() does: that line is
        // no placeholder but another pass's.
        m_host.log().append(stamped(msg(msgError) + QStringLiteral(": ") +
                                    text("t70", "malformed Include pattern, no file taken: %1")
                                        .arg(quoted(filter.include().malformed())) +
                                    QStringLiteral(" - ")));
        m_errorFlag = true;
        m_host.problemLogged();
        return {};
    }
    if (!filter.exclude().malformed().isEmpty())
        m_host.log().append(stamped(msg(msgInfo) + QStringLiteral(": ") +
                                    text("t71", "malformed Exclude pattern ignored: %1")
                                        .arg(quoted(filter.exclude().malformed()))));
    if (!filter.filters())
        return files;
    QStringList taken;
    for (const QString &name : files)
        if (filter.takes(name))
            taken << name;
    return taken;
}
