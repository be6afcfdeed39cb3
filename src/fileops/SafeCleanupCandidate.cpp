#include "SafeCleanupCandidate.h"

#include <QHashFunctions>

size_t qHash(const SafeCleanupCandidate& candidate, size_t seed) noexcept
{
    return qHashMulti(seed, candidate.id, candidate.path, candidate.label, candidate.size, int(candidate.risk),
                      candidate.isSelected);
}
