#pragma once

#include <QHash>
#include <QSet>
#include <QStringList>

#include <optional>

// The arguments of one command split into options and positional values.
// Options are long ("--json", "--home DIR" or "--home=DIR"); "--" ends them,
// so that a path starting with a dash can still be given.
class CommandArguments
{
public:
    // flags take no value, valued options take exactly one. Returns nothing
    // and sets error for an unknown option or a missing value.
    static std::optional<CommandArguments> parse(const QStringList& arguments, const QSet<QString>& flags,
                                                 const QSet<QString>& valued, QString* error);

    // For commands that take only flags: as parse, and a positional value is
    // an error too ("лишний аргумент «X»").
    static std::optional<CommandArguments> parseFlagsOnly(const QStringList& arguments, const QSet<QString>& flags,
                                                          QString* error);
    // "--help" or "-h" anywhere before "--".
    static bool asksForHelp(const QStringList& arguments);

    const QStringList& positionals() const { return m_positionals; }
    bool hasFlag(const QString& flag) const { return m_flags.contains(flag); }
    std::optional<QString> value(const QString& option) const;

private:
    QStringList m_positionals;
    QSet<QString> m_flags;
    QHash<QString, QString> m_values;
};
