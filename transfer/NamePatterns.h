#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// A list of fnmatch(3) patterns separated by ';', as the Include and Exclude
// settings hold them, matched case-sensitively against a bare file name.
// Blanks around a pattern and empty entries are ignored.
class NamePatterns
{
public:
    NamePatterns() = default;
    explicit NamePatterns(const QString &list);

    bool isEmpty() const { return m_patterns.empty(); }
    // Patterns that can never do what they seem to say: an unclosed "[", an
    // unknown "[:class:]", a "\" at the end, or a "/" (no file name holds one).
    // They take no part in matching.
    const QStringList &malformed() const { return m_malformed; }
    // name as the listing gives it.
    bool matches(const QString &name) const;

    static bool isMalformed(const QString &pattern);

private:
    // Most patterns are "*.ext" or "prefix*": those are compared as text,
    // which costs a small part of an fnmatch() of the name's bytes.
    struct Pattern
    {
        enum class Kind
        {
            Suffix,
            Prefix,
            Exact,
            Full
        };
        Kind kind;
        QString text;     // the literal part for Suffix, Prefix and Exact
        QByteArray bytes; // the whole pattern, for Full
    };
    std::vector<Pattern> m_patterns;
    bool m_anyFull = false;
    QStringList m_malformed;
};

// Which files a pass takes: those that match some Include (an empty Include
// takes every file) and no Exclude.
class NameFilter
{
public:
    NameFilter(const QString &include, const QString &exclude)
        : m_include(include), m_exclude(exclude)
    {
    }

    // False when nothing is to be left out: then no name need be looked at.
    bool filters() const { return !m_include.isEmpty() || !m_exclude.isEmpty(); }
    bool takes(const QString &name) const
    {
        return (m_include.isEmpty() || m_include.matches(name)) && !m_exclude.matches(name);
    }
    const NamePatterns &include() const { return m_include; }
    const NamePatterns &exclude() const { return m_exclude; }

private:
    NamePatterns m_include;
    NamePatterns m_exclude;
};
