#include "settings/ExtraOptions.h"

#include "settings/modGlobal.h"
#include "settings/modIniHandler.h"

#include <atomic>

namespace {
std::atomic<int> generation{0};
const QString Section = QStringLiteral("Options");

QString readKey(const char *key, int size = 256)
{
    return ReadIni(Section, QLatin1String(key), QString(), size);
}
} // namespace

// A whole number of seconds up to 31 days; anything else means off rather
// than a guess.
int ExtraOptions::quietSecondsFrom(const QString &text)
{
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok);
    return ok && seconds > 0 && seconds <= 31 * 24 * 3600 ? seconds : 0;
}

ExtraOptions::NameTaken ExtraOptions::nameTakenFrom(const QString &text)
{
    const QString value = text.trimmed();
    if (value == QLatin1String("1"))
        return NameTaken::Number;
    if (value == QLatin1String("2"))
        return NameTaken::SkipIdentical;
    return NameTaken::Keep;
}

ExtraOptions ExtraOptions::read()
{
    ExtraOptions options;
    options.quietSeconds = quietSecondsFrom(readKey("QuietSeconds"));
    // Pattern lists may be long; they are read whole, never cut short.
    options.include = readKey("Include", PatternListSize + 1);
    options.exclude = readKey("Exclude", PatternListSize + 1);
    options.nameTaken = nameTakenFrom(readKey("NameTaken"));
    options.replaceToTrash = readKey("ReplaceToTrash").trimmed() == QLatin1String("1");
    options.logFile = readKey("LogFile") == QLatin1String("1");
    return options;
}

void ExtraOptions::write(const ExtraOptions &before) const
{
    const auto put = [](const char *key, const QString &value) {
        WriteIni(Section, QLatin1String(key), value);
    };
    const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    if (quietSeconds != before.quietSeconds)
        put("QuietSeconds", QString::number(quietSeconds));
    if (include != before.include)
        put("Include", include);
    if (exclude != before.exclude)
        put("Exclude", exclude);
    if (nameTaken != before.nameTaken)
        put("NameTaken", QString::number(int(nameTaken)));
    if (replaceToTrash != before.replaceToTrash)
        put("ReplaceToTrash", flag(replaceToTrash));
    if (logFile != before.logFile)
        put("LogFile", flag(logFile));
    generation.fetch_add(1);
}

int ExtraOptions::savedGeneration()
{
    return generation.load();
}

const ExtraOptions &CachedExtraOptions::value()
{
    if (m_generation != ExtraOptions::savedGeneration())
        read();
    return m_value;
}

void CachedExtraOptions::recheck()
{
    const std::optional<FileStamp> stamp = FileStamp::of(modGlobal::IniFile);
    if (!stamp || !m_stamp || *stamp != *m_stamp)
        read();
}

void CachedExtraOptions::read()
{
    m_generation = ExtraOptions::savedGeneration();
    const std::optional<FileStamp> stamp = FileStamp::of(modGlobal::IniFile);
    m_value = ExtraOptions::read();
    // As CachedSetting: a file changed a moment ago is read again next time.
    m_stamp = stamp && stamp->settled() ? stamp : std::nullopt;
}
