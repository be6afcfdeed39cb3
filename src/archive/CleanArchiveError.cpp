#include "CleanArchiveError.h"

QString CleanArchiveErrors::description(CleanArchiveError error)
{
    switch (error) {
    case CleanArchiveError::compressionFailed:
        return QStringLiteral("Не удалось создать tar.zst (проверьте /usr/bin/tar).");
    case CleanArchiveError::extractionFailed:
        return QStringLiteral("Не удалось распаковать archive.tar.zst.");
    case CleanArchiveError::integrityFailed:
        return QStringLiteral("SHA256 архива не совпадает с manifest.");
    }
    return {};
}
