#include "platform/ProfileFile.h"

#include "platform/FileNames.h"

#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace ProfileFile {

namespace {

// One line of the file with its own line end ("" for a last line without one)
// and its own encoding, so a rewrite can put every untouched line back byte for
// byte: a Latin-1 comment must not decide how the UTF-8 paths beside it read.
struct Line
{
    QString text;
    QString eol;
    bool latin1 = false; // the line was not valid UTF-8
};

struct Document
{
    QList<Line> lines;
};

enum class Kind
{
    Other,
    Section,
    Key
};

struct Parsed
{
    Kind kind = Kind::Other;
    QString name;           // section or key name, blanks removed
    qsizetype valueAt = -1; // for a key: index just past the "="
};

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

QString trimmed(QStringView s)
{
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && isBlank(s[from]))
        ++from;
    while (to > from && isBlank(s[to - 1]))
        --to;
    return s.sliced(from, to - from).toString();
}

QString withoutTrailingBlanks(const QString &s)
{
    qsizetype to = s.size();
    while (to > 0 && isBlank(s[to - 1]))
        --to;
    return s.left(to);
}

// At most size - 1 characters, the way a fixed buffer with its terminating
// zero cuts them; never leaves half of a surrogate pair behind.
QString cut(const QString &s, int size)
{
    if (size <= 1)
        return {};
    QString out = s.left(size - 1);
    if (out.size() < s.size() && !out.isEmpty() && out.back().isHighSurrogate())
        out.chop(1);
    return out;
}

Parsed parse(const QString &line)
{
    QStringView view(line);
    // A byte-order mark can only stand at the start of the first line.
    if (view.startsWith(u'\uFEFF'))
        view = view.sliced(1);
    const QString text = trimmed(view);
    if (text.isEmpty() || text.startsWith(u';'))
        return {};
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        const qsizetype end = close < 0 ? text.size() : close;
        return {Kind::Section, trimmed(QStringView(text).sliced(1, end - 1)), -1};
    }
    const qsizetype eq = view.indexOf(u'=');
    if (eq < 0)
        return {};
    const qsizetype skipped = line.size() - view.size();
    return {Kind::Key, trimmed(view.left(eq)), skipped + eq + 1};
}

QString valueOf(const QString &line, qsizetype valueAt)
{
    QString value = trimmed(QStringView(line).sliced(valueAt));
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.sliced(1, value.size() - 2);
    return value;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

enum class Load
{
    Ok,
    Missing,   // no such file, or no regular file (a FIFO, a device, a folder)
    Unreadable // there, but a read failed or it is too large to be settings
};

// The file's bytes with plain open/read/close: the transfer pass reads a
// setting for every file, and QFile adds several stat calls to each read.
// Only a regular file is opened, and without blocking, so a FIFO or a device
// under the file's name can neither hang the program nor flood its memory.
Load readWhole(const QString &file, QByteArray &bytes)
{
    const QByteArray path = QFile::encodeName(file);
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Load::Missing : Load::Unreadable;
    if (!S_ISREG(info.st_mode))
        return Load::Missing;
    if (info.st_size > MaxFileSize)
        return Load::Unreadable;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? Load::Missing : Load::Unreadable;
    // The name may have been swapped for something else since the stat.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Load::Missing;
    }
    char buffer[16384];
    Load result = Load::Ok;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            if (bytes.size() > MaxFileSize) { // it grew while being read
                result = Load::Unreadable;
                break;
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result = Load::Unreadable;
            break;
        }
    }
    ::close(fd);
    return result;
}

// Splits text into lines at CR, LF or CRLF.
template <typename Text, typename Add> void splitLines(const Text &text, Add add)
{
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < text.size())
            next +=
                (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
        add(start, end, next);
        start = next;
    }
}

// UTF-8 text, or nothing when bytes are not valid UTF-8. A byte-order mark
// stays a character so the rewrite puts it back.
std::optional<QString> fromUtf8(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return std::nullopt;
    return text;
}

// Reads and splits the file.
Load load(const QString &file, Document &doc)
{
    QByteArray bytes;
    const Load result = readWhole(file, bytes);
    if (result != Load::Ok)
        return result;

    if (const std::optional<QString> text = fromUtf8(bytes)) {
        // The usual case, decided at once for the whole file.
        splitLines(*text, [&](qsizetype start, qsizetype end, qsizetype next) {
            doc.lines.append({text->sliced(start, end - start), text->sliced(end, next - end)});
        });
        return Load::Ok;
    }
    splitLines(bytes, [&](qsizetype start, qsizetype end, qsizetype next) {
        const QByteArrayView line = QByteArrayView(bytes).sliced(start, end - start);
        const QString eol = QString::fromLatin1(bytes.sliced(end, next - end));
        if (const std::optional<QString> text = fromUtf8(line))
            doc.lines.append({*text, eol, false});
        else
            doc.lines.append({QString::fromLatin1(line), eol, true});
    });
    return Load::Ok;
}

// Where section and key stand: the first matching section header, and in
// that section the first matching key and the last key line of any name.
struct Location
{
    qsizetype section = -1;
    qsizetype key = -1;
    qsizetype lastKey = -1;
    qsizetype valueAt = -1;
};

Location locate(const Document &doc, const QString &section, const QString &key)
{
    Location at;
    const QString wantedSection = trimmed(section);
    const QString wantedKey = trimmed(key);
    for (qsizetype i = 0; i < doc.lines.size(); ++i) {
        const Parsed p = parse(doc.lines[i].text);
        if (p.kind == Kind::Section) {
            if (at.section >= 0)
                break; // the first section of that name wins
            if (sameName(p.name, wantedSection))
                at.section = i;
        } else if (p.kind == Kind::Key && at.section >= 0) {
            at.lastKey = i;
            if (at.key < 0 && sameName(p.name, wantedKey)) {
                at.key = i;
                at.valueAt = p.valueAt;
            }
        }
    }
    return at;
}

QString lineEndStyle(const Document &doc)
{
    for (const Line &line : doc.lines)
        if (!line.eol.isEmpty())
            return line.eol;
    return QStringLiteral("\n");
}

QByteArray encoded(const Document &doc)
{
    QByteArray bytes;
    for (const Line &line : doc.lines)
        // A path read from a line that is not UTF-8 carries its bytes escaped.
        bytes += (line.latin1 ? line.text.toLatin1() : FileNames::encode(line.text)) +
                 line.eol.toLatin1();
    return bytes;
}

bool writeAll(int fd, const QByteArray &bytes, off_t at)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, bytes.size() - done, at + done);
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return false;
    }
    return true;
}

// Rewrites the file through its own inode: for a folder that is not
// writable, and for a file with other hard links, which a rename would
// split. Room is claimed before the first byte changes, so a full disk or a
// size limit leaves the old content; a failure after that puts it back.
bool writeInPlace(const QByteArray &path, const QByteArray &oldBytes, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info = {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok && bytes.size() > oldBytes.size()) {
        ok = ::ftruncate(fd, bytes.size()) == 0;
        const int reserved = ok ? ::posix_fallocate(fd, 0, bytes.size()) : 0;
        // A file system that cannot reserve room still gets the write.
        ok = ok && (reserved == 0 || reserved == EOPNOTSUPP || reserved == EINVAL);
        if (!ok) [[maybe_unused]]
            const int restored = ::ftruncate(fd, oldBytes.size());
    }
    if (ok) {
        ok = writeAll(fd, bytes, 0) && ::ftruncate(fd, bytes.size()) == 0 && ::fsync(fd) == 0;
        if (!ok && writeAll(fd, oldBytes, 0)) [[maybe_unused]]
            const int restored = ::ftruncate(fd, oldBytes.size());
    }
    return ::close(fd) == 0 && ok;
}

// A hidden file beside the target (".Pallwick.ini-<random>.new", a name no
// cleanup of the transfer's temporary files matches), created with the usual
// permissions (0666 less the umask), or -1.
int createTemporary(const QByteArray &folder, const QByteArray &baseName, QByteArray &name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/." + baseName + '-' +
               QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".new";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

enum class Replace
{
    Done,
    Failed,
    NoRoom // the folder takes no new file: write in place instead
};

// Writes a complete new file beside the target and renames it over it, so a
// crash leaves either the old or the new file. An existing file keeps its
// permission bits and, where the owner can be set, its owner.
Replace replaceAtomically(const QByteArray &path, const struct stat *existing,
                          const QByteArray &bytes)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? "/" : path.left(slash);
    QByteArray temporary;
    const int fd = createTemporary(folder, path.sliced(slash + 1), temporary);
    if (fd < 0)
        return errno == EACCES || errno == EPERM || errno == EROFS ? Replace::NoRoom
                                                                   : Replace::Failed;
    bool ok = writeAll(fd, bytes, 0);
    if (ok && existing) {
        ok = ::fchmod(fd, existing->st_mode & 07777) == 0;
        if (ok && (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid()) &&
            ::fchown(fd, existing->st_uid, existing->st_gid) != 0) {
            // Another user's file stays theirs: change it where it is.
            ::close(fd);
            ::unlink(temporary.constData());
            return Replace::NoRoom;
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), path.constData()) == 0;
    if (!ok)
        ::unlink(temporary.constData());
    return ok ? Replace::Done : Replace::Failed;
}

// Where a write must go: a link to the settings file is followed, so the
// link stays a link.
QByteArray writeTarget(const QString &file)
{
    const QByteArray path = QFile::encodeName(file);
    char resolved[PATH_MAX];
    struct stat info = {};
    if (::lstat(path.constData(), &info) == 0 && S_ISLNK(info.st_mode) &&
        ::realpath(path.constData(), resolved))
        return QByteArray(resolved);
    return path;
}

} // namespace

QString read(const QString &file, const QString &section, const QString &key, const QString &def,
             int size)
{
    Document doc;
    if (load(file, doc) == Load::Ok) {
        const Location at = locate(doc, section, key);
        if (at.key >= 0)
            return cut(valueOf(doc.lines[at.key].text, at.valueAt), size);
    }
    return cut(withoutTrailingBlanks(def), size);
}

QString readPath(const QString &file, const QString &section, const QString &key, int size)
{
    Document doc;
    if (load(file, doc) == Load::Ok) {
        const Location at = locate(doc, section, key);
        if (at.key >= 0) {
            const Line &line = doc.lines[at.key];
            const QString value = valueOf(line.text, at.valueAt);
            // The Latin-1 reading holds every byte as it was.
            return cut(line.latin1 ? FileNames::decode(value.toLatin1()) : value, size);
        }
    }
    return {};
}

bool write(const QString &file, const QString &section, const QString &key,
           const QString &plainValue)
{
    // A line break would start a line of its own: refuse rather than let a
    // folder name write keys into the file.
    if (plainValue.contains(u'\n') || plainValue.contains(u'\r'))
        return false;
    // The reader drops blanks around a value and one pair of quotes around it;
    // a value that needs either kept is written inside quotes.
    const bool quote = !plainValue.isEmpty() &&
                       (isBlank(plainValue.front()) || isBlank(plainValue.back()) ||
                        (plainValue.size() >= 2 && plainValue.front() == plainValue.back() &&
                         (plainValue.front() == u'"' || plainValue.front() == u'\'')));
    const QString value = quote ? u'"' + plainValue + u'"' : plainValue;

    const QByteArray path = writeTarget(file);
    struct stat existing = {};
    const bool exists = ::lstat(path.constData(), &existing) == 0;
    // Only a regular file is rewritten: never a FIFO, a device or a folder
    // that stands under the settings file's name.
    if (exists && !S_ISREG(existing.st_mode))
        return false;
    Document doc;
    if (exists && load(QFile::decodeName(path), doc) != Load::Ok)
        return false; // unreadable or too large: rewriting it would lose its content
    const QByteArray oldBytes = encoded(doc);

    const QString eol = lineEndStyle(doc);
    const Location at = locate(doc, section, key);
    if (at.key >= 0) {
        // Keep the key as spelled and the blanks after "=", replace the rest.
        Line &line = doc.lines[at.key];
        qsizetype valueStart = at.valueAt;
        while (valueStart < line.text.size() && isBlank(line.text[valueStart]))
            ++valueStart;
        const QString text = line.text.left(valueStart) + value;
        // An unchanged line keeps its bytes, whatever its encoding.
        if (text != line.text)
            line = {text, line.eol, false};
    } else if (at.section >= 0) {
        const qsizetype after = at.lastKey >= 0 ? at.lastKey : at.section;
        Line &prev = doc.lines[after];
        // The new line takes over the line end of the one it follows, so a
        // file that ended without one still does.
        const Line added{key + u'=' + value, prev.eol};
        if (prev.eol.isEmpty())
            prev.eol = eol;
        doc.lines.insert(after + 1, added);
    } else {
        if (!doc.lines.isEmpty() && doc.lines.back().eol.isEmpty())
            doc.lines.back().eol = eol;
        doc.lines.append({u'[' + section + u']', eol});
        doc.lines.append({key + u'=' + value, eol});
    }

    const QByteArray bytes = encoded(doc);
    if (exists && bytes == oldBytes)
        return true;
    // A file with several names keeps them all.
    if (exists && existing.st_nlink > 1)
        return writeInPlace(path, oldBytes, bytes);
    switch (replaceAtomically(path, exists ? &existing : nullptr, bytes)) {
    case Replace::Done:
        return true;
    case Replace::NoRoom:
        return exists && writeInPlace(path, oldBytes, bytes);
    case Replace::Failed:
        break;
    }
    return false;
}

} // namespace ProfileFile
