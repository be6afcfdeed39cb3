#pragma once

#include "ScanCategory.h"
#include "base/FilePath.h"

#include <QList>
#include <QMetaType>
#include <QUuid>

#include <optional>

class HomeLayout;

// One result row. Rows are identified by id: two rows of the same path are
// different rows. The path keeps the file's exact native bytes so that later
// operations reach the real file even when its name is not valid UTF-8.
struct ScanItem
{
    QUuid id;
    FilePath path;
    QString name;
    qint64 size = 0;
    ScanCategory category = ScanCategory::largeFolders;
    bool isDirectory = false;
    bool isSelected = false;
    std::optional<QString> detail;

    static ScanItem make(const FilePath& path, qint64 size, ScanCategory category, bool isDirectory, bool isSelected,
                         std::optional<QString> detail);

    // Whether the cleanup may delete this row without asking: a cleanable
    // category, not the Trash, not a log place of the layout, and rated safe.
    bool canAutoCleanup(const HomeLayout& layout) const;

    bool operator==(const ScanItem& other) const = default;
};

using ScanItemList = QList<ScanItem>;

Q_DECLARE_METATYPE(ScanItem)
