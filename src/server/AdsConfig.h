#pragma once

#include "AdItem.h"

#include <QByteArray>

#include <optional>

// The banner list as the server sends it and as it is cached:
// {"banners": [...], "rotateSeconds": N}, rotateSeconds optional.
struct AdsConfig
{
    AdItemList banners;
    std::optional<qint64> rotateSeconds;

    // Nothing unless the text is one such object with every banner readable
    // and rotateSeconds, when present, a whole number.
    static std::optional<AdsConfig> decode(const QByteArray& json);
    // The built-in list, used when nothing better is known: the maker's own
    // other services.
    static AdsConfig fallback();

    bool operator==(const AdsConfig& other) const = default;
};
