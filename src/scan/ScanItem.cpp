#include "ScanItem.h"

#include "CacheClassifier.h"
#include "HomeLayout.h"

ScanItem ScanItem::make(const FilePath& path, qint64 size, ScanCategory category, bool isDirectory, bool isSelected,
                        std::optional<QString> detail)
{
    ScanItem item;
    item.id = QUuid::createUuid();
    item.path = path;
    item.name = path.fileName();
    item.size = size;
    item.category = category;
    item.isDirectory = isDirectory;
    item.isSelected = isSelected;
    item.detail = std::move(detail);
    return item;
}

bool ScanItem::canAutoCleanup(const HomeLayout& layout) const
{
    if (!ScanCategories::isCleanable(category)) {
        return false;
    }
    const QString standardized = CacheClassifier::standardizePath(path.toString());
    if (standardized.endsWith(QLatin1String("/.Trash"))
        || standardized == CacheClassifier::standardizePath(layout.trash().toString())) {
        return false;
    }
    const QString home = CacheClassifier::standardizePath(layout.home().toString());
    for (const QString& logs : layout.logPlaces()) {
        if (standardized == home + u'/' + logs) {
            return false;
        }
    }
    return CacheRisks::permitsAutoDeletion(CacheClassifier::classify(path.toString(), layout));
}
