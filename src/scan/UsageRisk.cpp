#include "UsageRisk.h"

#include "CacheClassifier.h"

std::optional<CacheRisk> UsageRisk::verdict(const QString& path, const HomeLayout& layout)
{
    const CacheRisk risk = CacheClassifier::classify(path, layout);
    if (risk != CacheRisk::forbidden || CacheClassifier::isProtectedLocation(path, layout)) {
        return risk;
    }
    // Inside a cache area the classifier forbids some entries (single crash
    // reports): those keep their verdict.
    const QString standard = CacheClassifier::standardizePath(path);
    const QString parent = standard.left(std::max<qsizetype>(0, standard.lastIndexOf(QLatin1Char('/'))));
    if (!parent.isEmpty() && CacheClassifier::classify(parent, layout) != CacheRisk::forbidden) {
        return risk;
    }
    return std::nullopt;
}
