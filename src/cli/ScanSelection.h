#pragma once

#include "CommandResult.h"
#include "scan/ScanCategory.h"

#include <QStringList>

#include <optional>

class CliSession;
class CommandCall;
class Console;

// The rows a move, Trash or cleanup command acts on: one category scanned
// afresh, keeping the scanner's own selection, or selecting exactly the rows
// named after --only. Read from "CATEGORY [--only NAME…] [--json]".
class ScanSelection
{
public:
    // Help lines shared by the commands that take a selection.
    static QString details();
    // The category names, for the messages about a wrong one.
    static QString categoryList();
    // Nothing, with the message in error, for a usage error.
    static std::optional<ScanSelection> parse(const CommandCall& call, QString* error);

    ScanCategory category() const { return m_category; }
    QString categoryName() const;
    bool json() const { return m_json; }
    // Empty: keep the scanner's selection.
    const QStringList& names() const { return m_names; }

    // Scans the category and selects the rows. Nothing when the rows are
    // ready; otherwise the result the command ends with (the scan refused,
    // or a named row that the scan did not find).
    std::optional<CommandResult> apply(CliSession& session, Console& console) const;

private:
    ScanCategory m_category = ScanCategory::largeFolders;
    QStringList m_names;
    bool m_json = false;
};
