#pragma once

// How one post of a small record to the maker's server ended.
struct PostOutcome
{
    enum class Kind {
        delivered, // HTTP status 200…299
        rateLimited, // status 429, or the host is still in its back-off
        failed, // any other status, a transport failure, a bad address
    };

    Kind kind = Kind::failed;
    // Seconds, for rateLimited.
    double retryAfter = 0;

    static PostOutcome delivered() { return {Kind::delivered, 0}; }
    static PostOutcome rateLimited(double seconds) { return {Kind::rateLimited, seconds}; }
    static PostOutcome failed() { return {Kind::failed, 0}; }

    bool isDelivered() const { return kind == Kind::delivered; }
    bool operator==(const PostOutcome& other) const = default;
};
