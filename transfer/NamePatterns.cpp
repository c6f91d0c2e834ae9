#include "transfer/NamePatterns.h"

#include "platform/FileNames.h"

#include <fnmatch.h>

namespace {
// The end of the bracket expression that starts at open, or -1 when it is
// not closed or names an unknown character class.
qsizetype bracketEnd(const QString &pattern, qsizetype open)
{
    static const QStringList Classes = {"alnum", "alpha", "blank", "cntrl", "digit", "graph",
                                        "lower", "print", "punct", "space", "upper", "xdigit"};
    qsizetype i = open + 1;
    if (i < pattern.size() && (pattern[i] == QLatin1Char('!') || pattern[i] == QLatin1Char('^')))
        ++i;
    if (i < pattern.size() && pattern[i] == QLatin1Char(']')) // a leading ']' is itself
        ++i;
    for (; i < pattern.size(); ++i) {
        if (pattern[i] == QLatin1Char(']'))
            return i;
        if (pattern.mid(i, 2) == QLatin1String("[:")) {
            const qsizetype close = pattern.indexOf(QLatin1String(":]"), i + 2);
            if (close < 0 || !Classes.contains(pattern.mid(i + 2, close - i - 2)))
                return -1;
            i = close + 1;
        }
    }
    return -1;
}
} // namespace

NamePatterns::NamePatterns(const QString &list)
{
    for (const QString &entry : list.split(QLatin1Char(';'))) {
        const QString pattern = entry.trimmed();
        if (pattern.isEmpty())
            continue;
        if (isMalformed(pattern)) {
            m_malformed << pattern;
            continue;
        }
        const auto literal = [](QStringView text) {
            for (const QChar c : text)
                if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('[') ||
                    c == QLatin1Char('\\'))
                    return false;
            return true;
        };
        using Kind = Pattern::Kind;
        const QStringView view(pattern);
        if (literal(view))
            m_patterns.push_back({Kind::Exact, pattern, {}});
        else if (pattern.startsWith(QLatin1Char('*')) && literal(view.mid(1)))
            m_patterns.push_back({Kind::Suffix, pattern.mid(1), {}});
        else if (pattern.endsWith(QLatin1Char('*')) && literal(view.chopped(1)))
            m_patterns.push_back({Kind::Prefix, pattern.chopped(1), {}});
        else
            m_patterns.push_back({Kind::Full, {}, FileNames::encode(pattern)});
        m_anyFull = m_anyFull || m_patterns.back().kind == Kind::Full;
    }
}

bool NamePatterns::isMalformed(const QString &pattern)
{
    if (pattern.contains(QLatin1Char('/')))
        return true;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == QLatin1Char('\\')) {
            if (++i == pattern.size())
                return true;
        } else if (pattern[i] == QLatin1Char('[')) {
            i = bracketEnd(pattern, i);
            if (i < 0)
                return true;
        }
    }
    return false;
}

bool NamePatterns::matches(const QString &name) const
{
    const QByteArray bytes = m_anyFull ? FileNames::encode(name) : QByteArray();
    for (const Pattern &pattern : m_patterns) {
        switch (pattern.kind) {
        case Pattern::Kind::Suffix:
            if (name.endsWith(pattern.text))
                return true;
            break;
        case Pattern::Kind::Prefix:
            if (name.startsWith(pattern.text))
                return true;
            break;
        case Pattern::Kind::Exact:
            if (name == pattern.text)
                return true;
            break;
        case Pattern::Kind::Full:
            if (::fnmatch(pattern.bytes.constData(), bytes.constData(), 0) == 0)
                return true;
            break;
        }
    }
    return false;
}
