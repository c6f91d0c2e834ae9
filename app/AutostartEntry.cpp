#include "app/AutostartEntry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace {

// The string rule of desktop entries: backslash and control characters
// are written as escapes.
QString escapedValue(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            out += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

} // namespace

AutostartEntry::AutostartEntry(const QString &folder, const QString &settingsFile)
    : m_folder(folder), m_settingsFile(QFileInfo(settingsFile).absoluteFilePath())
{
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(m_settingsFile), QCryptographicHash::Sha256)
            .toHex()
            .left(8);
    m_path = m_folder + QStringLiteral("/pallwick-") + QString::fromLatin1(hash) +
             QStringLiteral(".desktop");
}

QString AutostartEntry::defaultFolder()
{
    // As every XDG folder: a relative or empty value counts as unset.
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = !config.isEmpty() && QDir::isAbsolutePath(config)
                             ? config
                             : QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/autostart"));
}

AutostartEntry AutostartEntry::forJob(const QString &settingsFile)
{
    return AutostartEntry(defaultFolder(), settingsFile);
}

QString AutostartEntry::markerLine() const
{
    return QStringLiteral("X-Pallwick-Settings=") + escapedValue(m_settingsFile);
}

bool AutostartEntry::exists() const
{
    QFile file(m_path);
    if (!QFileInfo(m_path).isFile() || QFileInfo(m_path).size() > 65536 ||
        !file.open(QIODevice::ReadOnly))
        return false;
    const QString marker = markerLine();
    while (!file.atEnd())
        if (QString::fromUtf8(file.readLine()).trimmed() == marker)
            return true;
    return false;
}

QString AutostartEntry::execProgram(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool quote =
        std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); });
    QString argument = program;
    if (quote) {
        argument.clear();
        for (QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += c;
        }
        argument = QLatin1Char('"') + argument + QLatin1Char('"');
    }
    return escapedValue(argument).replace(QLatin1Char('%'), QStringLiteral("%%"));
}

FsResult AutostartEntry::write(const QString &program, const QString &icon) const
{
    if (!QDir().mkpath(m_folder))
        return FsResult::failure(EACCES, QStringLiteral("Cannot create ") + m_folder);
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Pallwick Lite\n"
                                        "Comment=Starts the saved job at login\n"
                                        "Exec=") +
                         execProgram(program) + QStringLiteral(" /s\nIcon=") + escapedValue(icon) +
                         QStringLiteral("\nTerminal=false\n") + markerLine() + QLatin1Char('\n');
    // A whole entry or the old one: the session never reads half a file.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        return FsResult::failure(EIO, file.errorString());
    return FsResult::success();
}

FsResult AutostartEntry::remove() const
{
    if (!exists())
        return FsResult::success();
    QFile file(m_path);
    if (!file.remove())
        return FsResult::failure(EACCES, file.errorString());
    return FsResult::success();
}
