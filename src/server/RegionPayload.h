#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The region server's answer. Every key may be missing (null counts as
// missing) and other keys are ignored; a value of the wrong type makes the
// whole answer undecodable.
struct RegionPayload
{
    // "country_code", or "country" when that is missing.
    std::optional<QString> countryCode;
    std::optional<QString> clientRegion;
    std::optional<bool> vpnSuspected;
    std::optional<bool> blocked;

    // Nothing unless the text is one JSON object of this shape.
    static std::optional<RegionPayload> decode(const QByteArray& json);

    bool operator==(const RegionPayload& other) const = default;
};
