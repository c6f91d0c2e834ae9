#include "platform/ProfileFile.h"

#include <QFile>
#include <QList>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace ProfileFile {

namespace {

// One line of the file with its own line end ("" for a last line without one),
// so a rewrite can put every untouched line back byte for byte.
struct Line
{
    QString text;
    QString eol;
};

struct Document
{
    QList<Line> lines;
    bool latin1 = false; // the file was not valid UTF-8
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

// The file's bytes with plain open/read/close: the transfer pass reads a
// setting for every file, and QFile adds several stat calls to each read.
bool readWhole(const QString &file, QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[16384];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    return ok;
}

// Reads and splits the file. False when it is missing or cannot be read.
bool load(const QString &file, Document &doc)
{
    QByteArray bytes;
    if (!readWhole(file, bytes))
        return false;

    // Keep a byte-order mark as a character so the rewrite puts it back.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    doc.latin1 = utf8.hasError();
    if (doc.latin1)
        text = QString::fromLatin1(bytes);

    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        qsizetype next = end;
        if (next < text.size())
            next +=
                (text[next] == u'\r' && next + 1 < text.size() && text[next + 1] == u'\n') ? 2 : 1;
        doc.lines.append({text.sliced(start, end - start), text.sliced(end, next - end)});
        start = next;
    }
    return true;
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

bool fitsLatin1(const QString &text)
{
    for (QChar c : text)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

} // namespace

QString read(const QString &file, const QString &section, const QString &key, const QString &def,
             int size)
{
    Document doc;
    if (load(file, doc)) {
        const Location at = locate(doc, section, key);
        if (at.key >= 0)
            return cut(valueOf(doc.lines[at.key].text, at.valueAt), size);
    }
    return cut(withoutTrailingBlanks(def), size);
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

    Document doc;
    if (!load(file, doc) && QFile::exists(file))
        return false; // there but unreadable: rewriting it would lose its content

    const QString eol = lineEndStyle(doc);
    const Location at = locate(doc, section, key);
    if (at.key >= 0) {
        // Keep the key as spelled and the blanks after "=", replace the rest.
        QString &text = doc.lines[at.key].text;
        qsizetype valueStart = at.valueAt;
        while (valueStart < text.size() && isBlank(text[valueStart]))
            ++valueStart;
        text = text.left(valueStart) + value;
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

    QString text;
    for (const Line &line : doc.lines)
        text += line.text + line.eol;
    // A Latin-1 file stays Latin-1 while everything in it fits; otherwise the
    // whole file becomes UTF-8 rather than losing the new characters.
    const QByteArray bytes = doc.latin1 && fitsLatin1(text) ? text.toLatin1() : text.toUtf8();

    // Unbuffered, so a short write (full disk, size limit) shows in write()'s
    // count; a buffered QSaveFile can commit a truncated file without error.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

} // namespace ProfileFile
