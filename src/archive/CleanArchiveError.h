#pragma once

#include <QString>

// Why packing or unpacking a clean archive failed.
enum class CleanArchiveError {
    compressionFailed,
    extractionFailed,
    integrityFailed,
};

namespace CleanArchiveErrors {
// The user-facing text.
QString description(CleanArchiveError error);
} // namespace CleanArchiveErrors
