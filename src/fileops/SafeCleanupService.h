#pragma once

#include "platform/TrustedRoots.h"

#include "SafeCleanupCandidate.h"
#include "SafeCleanupResult.h"
#include "platform/FileSystem.h"
#include "scan/HomeLayout.h"
#include "platform/StopRequest.h"

#include <functional>
#include <optional>

// Finds the caches of well-known applications that can go without harm, and
// deletes the ones the user keeps selected. Deletion is permanent (not to the
// Trash), which is why only candidates rated safe when they were listed are
// ever deleted.
//
// A value without state, cheap to copy: the application state hands a copy to
// a worker thread. Every call is synchronous on the calling thread, the
// progress callback of cleanup included; bringing progress to the main
// thread is the caller's business.
class SafeCleanupService
{
public:
    // Receives the step text and the fraction done (0.0 to 1.0).
    using ProgressHandler = std::function<void(const QString& message, double fraction)>;

    // roots: the home and the cache folder, from which every folder on the
    // way to a candidate is opened without following links (see TreeRemover).
    explicit SafeCleanupService(FileSystemPtr fileSystem, TrustedRoots roots = {});

    // The folders of the layout's application table that exist, are rated
    // safe and hold more than 1 MiB, largest first (equal sizes keep table
    // order). Folders that cannot be read, and links, are left out.
    SafeCleanupCandidateList scan(const HomeLayout& layout) const;

    // Deletes the selected candidates in order, each with everything in it,
    // never following a symbolic link out of it. Refuses a candidate whose
    // recorded risk is not safe. Progress: "Очистка <label>…" at i/n before
    // each selected candidate, then "Готово" at 1.0; nothing at all when
    // nothing is selected.
    // stop is asked before each candidate; a candidate once begun is removed completely.
    SafeCleanupResult cleanup(const SafeCleanupCandidateList& candidates, const ProgressHandler& onProgress,
                              const StopRequest& stop = {}) const;

    // Bytes below the folder, at any depth: hidden entries are skipped (and
    // hidden folders not entered), links are counted as themselves and never
    // followed, other file systems mounted inside are not entered, folders
    // add nothing of their own. 0 when the folder cannot be opened.
    qint64 directorySize(const FilePath& folder) const;

private:
    void addCandidate(const FilePath& path, const QString& label, const HomeLayout& layout,
                      SafeCleanupCandidateList* candidates) const;
    // As directorySize, but empty when the folder cannot be opened and read.
    std::optional<qint64> measure(const FilePath& folder) const;
    qint64 sizeBeforeDeletion(const FilePath& path) const;

    FileSystemPtr m_fs;
    TrustedRoots m_roots;
};
