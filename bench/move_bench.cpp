// Move benchmark: FileMover carrying a tree of 20,000 files (about 1 GiB)
// from the temporary folder to /dev/shm, another file system, so that it
// copies, flushes, verifies and removes, against mv of an identical tree in
// the same run. Each repetition builds both trees afresh and alternates which
// contender goes first, so that load from other work on the machine hits them
// alike; medians of the wall times are reported, and of the processor times,
// which other work on a shared machine disturbs far less. A profiled pass then
// shows where the mover's time goes, primitive by primitive and phase by phase.
//
// Exits non-zero only when a move went wrong, not when the goal is missed.

#include "MoveBenchTree.h"
#include "TimingFileSystem.h"

#include "fileops/FileMover.h"
#include "platform/PlatformFileSystem.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
constexpr qint64 gibibyte = 1024 * mebibyte;

double seconds(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double cpuSeconds(int who)
{
    struct rusage usage;
    if (::getrusage(who, &usage) != 0) {
        return 0;
    }
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Processor time of this thread and of the children waited for: the mover
// runs on this thread, mv in a child.
double cpuNow()
{
    return cpuSeconds(RUSAGE_THREAD) + cpuSeconds(RUSAGE_CHILDREN);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

int run(const std::vector<QByteArray>& arguments)
{
    std::vector<char*> argv;
    for (const QByteArray& a : arguments) {
        argv.push_back(const_cast<char*>(a.constData()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool removeTree(const QByteArray& path)
{
    return run({"rm", "-rf", "--one-file-system", path}) == 0;
}

qint64 availableBytes(const QByteArray& path)
{
    struct statvfs st;
    if (::statvfs(path.constData(), &st) != 0) {
        return 0;
    }
    return qint64(st.f_bavail) * qint64(st.f_frsize);
}

// /dev/shm lives in memory: what it can hold is bounded by free memory too.
qint64 memoryAvailable()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : meminfo.readAll().split('\n')) {
        if (line.startsWith("MemAvailable:")) {
            return line.mid(13).trimmed().split(' ').first().toLongLong() * 1024;
        }
    }
    return 0;
}

bool sameFileSystem(const QByteArray& a, const QByteArray& b)
{
    struct stat sa;
    struct stat sb;
    return ::stat(a.constData(), &sa) == 0 && ::stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly)) {
        return "?";
    }
    return file.readAll().split(' ').mid(0, 3).join(' ');
}

// "some avg10=…" of /proc/pressure/io: how much tasks waited for the disk lately.
QByteArray ioPressure()
{
    QFile file(QStringLiteral("/proc/pressure/io"));
    if (!file.open(QIODevice::ReadOnly)) {
        return "?";
    }
    const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
    return fields.size() > 1 ? fields.at(1) : QByteArray("?");
}

struct Setup
{
    QByteArray sourceParent;
    QByteArray targetParent;
    MoveBenchTree tree;
};

// Checks that the tree arrived whole and the source is gone.
bool arrived(const Setup& setup, const QByteArray& source, const QByteArray& target, const char* who)
{
    qint64 files = 0;
    qint64 bytes = 0;
    qint64 links = 0;
    if (::access(source.constData(), F_OK) == 0) {
        std::printf("FAILED: %s left the source %s\n", who, source.constData());
        return false;
    }
    if (!MoveBenchTree::count(target, &files, &bytes, &links) || files != setup.tree.fileCount()
        || bytes != setup.tree.totalBytes() || links != setup.tree.linkCount()) {
        std::printf("FAILED: %s: %lld files, %lld bytes, %lld links at the target; expected %d, %lld, %d\n", who,
                    static_cast<long long>(files), static_cast<long long>(bytes), static_cast<long long>(links),
                    setup.tree.fileCount(), static_cast<long long>(setup.tree.totalBytes()), setup.tree.linkCount());
        return false;
    }
    return true;
}

struct Timing
{
    double wall = -1;
    double cpu = 0;
    bool ok() const { return wall >= 0; }
};

// One timed move of a freshly built tree; not ok on failure.
Timing timedMove(const Setup& setup, const char* who,
                 const std::function<bool(const QByteArray& source, const QByteArray& targetFolder)>& move)
{
    const QByteArray source = setup.sourceParent + "/tree";
    const QByteArray targetFolder = setup.targetParent + "/archive";
    QString error;
    if (!setup.tree.build(source, &error)) {
        std::printf("FAILED: building the tree: %s\n", qPrintable(error));
        return {};
    }
    if (::mkdir(targetFolder.constData(), 0755) != 0) {
        std::printf("FAILED: mkdir %s\n", targetFolder.constData());
        return {};
    }
    const double cpuBefore = cpuNow();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = move(source, targetFolder);
    const double elapsed = seconds(std::chrono::steady_clock::now() - start);
    const double cpu = cpuNow() - cpuBefore;
    const bool whole = ok && arrived(setup, source, targetFolder + "/tree", who);
    if (!ok) {
        std::printf("FAILED: %s reported a failure\n", who);
    }
    removeTree(source);
    removeTree(targetFolder);
    return whole ? Timing{elapsed, cpu} : Timing{};
}

ScanItemList itemsFor(const QByteArray& source, const MoveBenchTree& tree)
{
    return {ScanItem::make(FilePath(source), tree.totalBytes(), ScanCategory::largeFolders, true, true, std::nullopt)};
}

bool moveWithMover(const FileSystemPtr& fileSystem, const MoveBenchTree& tree, const QByteArray& source,
                   const QByteArray& targetFolder)
{
    const FileMover mover(fileSystem, std::make_shared<SystemClock>());
    const MoveResult result = mover.moveNow(itemsFor(source, tree), FilePath(targetFolder), {});
    for (const QString& message : result.errors) {
        std::printf("  mover: %s\n", qPrintable(message));
    }
    return result.moved == 1 && result.failed == 0;
}

bool moveWithMv(const QByteArray& source, const QByteArray& targetFolder)
{
    return run({"mv", source, targetFolder + "/"}) == 0;
}

void profile(const Setup& setup)
{
    const auto timing = std::make_shared<TimingFileSystem>(std::make_shared<PlatformFileSystem>());
    const Timing timed = timedMove(setup, "profiled mover", [&](const QByteArray& source, const QByteArray& target) {
        timing->begin();
        const bool ok = moveWithMover(timing, setup.tree, source, target);
        timing->finish();
        return ok;
    });
    if (!timed.ok()) {
        return;
    }
    const double elapsed = timed.wall;
    std::printf("\nWhere the mover's time goes (one more run through a timing file system, %.3f s):\n", elapsed);
    std::printf("  by phase:\n");
    for (int phase = 0; phase < TimingFileSystem::phaseCount; ++phase) {
        const double s = double(timing->phaseNanoseconds(phase)) / 1e9;
        std::printf("    %-28s %8.3f s  %5.1f%%\n", TimingFileSystem::phaseName(phase), s, 100.0 * s / elapsed);
    }
    std::printf("  by primitive (time inside the call; the rest is the mover's own work):\n");
    double inside = 0;
    for (int p = 0; p < TimingFileSystem::primitiveCount; ++p) {
        const TimingFileSystem::Tally& tally = timing->primitive(p);
        if (tally.calls == 0) {
            continue;
        }
        const double s = double(tally.nanoseconds) / 1e9;
        inside += s;
        std::printf("    %-22s %8lld calls %8.3f s  %5.1f%%\n", TimingFileSystem::primitiveName(p),
                    static_cast<long long>(tally.calls.load()), s, 100.0 * s / elapsed);
    }
    std::printf("    %-22s %14s %8.3f s  %5.1f%%\n", "outside the calls", "", elapsed - inside,
                100.0 * (elapsed - inside) / elapsed);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("FileMover across volumes against mv"));
    parser.addHelpOption();
    const QCommandLineOption repsOption(QStringLiteral("reps"), QStringLiteral("Timed runs of each (at least 3)."),
                                        QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption filesOption(QStringLiteral("files"), QStringLiteral("Files in the tree."),
                                         QStringLiteral("n"), QStringLiteral("20000"));
    const QCommandLineOption mibOption(QStringLiteral("mib"), QStringLiteral("Bytes in the tree, in MiB."),
                                       QStringLiteral("n"), QStringLiteral("1024"));
    const QCommandLineOption fromOption(QStringLiteral("from"), QStringLiteral("Folder the trees are built in."),
                                        QStringLiteral("dir"), QDir::tempPath());
    const QCommandLineOption toOption(QStringLiteral("to"), QStringLiteral("Folder on another file system."),
                                      QStringLiteral("dir"), QStringLiteral("/dev/shm"));
    const QCommandLineOption noProfileOption(QStringLiteral("no-profile"), QStringLiteral("Skip the profiled pass."));
    parser.addOptions({repsOption, filesOption, mibOption, fromOption, toOption, noProfileOption});
    parser.process(app);

    const int reps = std::max(3, parser.value(repsOption).toInt());
    int files = std::max(1, parser.value(filesOption).toInt());
    qint64 bytes = std::max<qint64>(1, parser.value(mibOption).toLongLong()) * mebibyte;
    const QByteArray from = QFile::encodeName(parser.value(fromOption));
    const QByteArray to = QFile::encodeName(parser.value(toOption));

    if (sameFileSystem(from, to)) {
        std::printf("%s and %s are on the same file system: a move there is a rename, not a copy. Nothing to "
                    "measure.\n",
                    from.constData(), to.constData());
        return 0;
    }
    // One tree at a time on each side, plus room for small files rounded up to
    // whole pages and blocks.
    const qint64 needed = bytes + qint64(files) * 4096 + 64 * mebibyte;
    const qint64 room = std::min({availableBytes(from), availableBytes(to), memoryAvailable() / 2});
    if (room < needed) {
        const double scale = double(room - 64 * mebibyte) / double(needed - 64 * mebibyte);
        if (scale < 0.01) {
            std::printf("Not enough free space for even a hundredth of the tree (%lld MiB free). Nothing measured.\n",
                        static_cast<long long>(room / mebibyte));
            return 0;
        }
        files = std::max(1, int(files * scale));
        bytes = std::max<qint64>(1, qint64(double(bytes) * scale));
        std::printf("NOTE: only %lld MiB free on %s, %s or in memory: the tree is scaled down to %d files, %lld MiB.\n",
                    static_cast<long long>(room / mebibyte), from.constData(), to.constData(), files,
                    static_cast<long long>(bytes / mebibyte));
    }

    QByteArray sourceParent = from + "/brisko-move-bench-XXXXXX";
    QByteArray targetParent = to + "/brisko-move-bench-XXXXXX";
    if (!::mkdtemp(sourceParent.data()) || !::mkdtemp(targetParent.data())) {
        std::printf("FAILED: cannot make the work folders\n");
        return 1;
    }
    const Setup setup{sourceParent, targetParent, MoveBenchTree(files, bytes)};
    struct statfs fromFs;
    struct statfs toFs;
    ::statfs(from.constData(), &fromFs);
    ::statfs(to.constData(), &toFs);
    std::printf("move_bench: %d files, %.2f GiB (%s), from %s (fs 0x%lx) to %s (fs 0x%lx), %d runs of each; load "
                "average %s\n",
                setup.tree.fileCount(), double(setup.tree.totalBytes()) / double(gibibyte),
                qPrintable(setup.tree.sizeSummary()), from.constData(), static_cast<unsigned long>(fromFs.f_type),
                to.constData(), static_cast<unsigned long>(toFs.f_type), reps, loadAverage().constData());
    std::printf("Trees are built and flushed to disk before each run; the source is read from the page cache.\n");

    const auto mover = [&](const QByteArray& source, const QByteArray& target) {
        return moveWithMover(std::make_shared<PlatformFileSystem>(), setup.tree, source, target);
    };
    std::vector<double> moverTimes;
    std::vector<double> mvTimes;
    std::vector<double> ratios;
    std::vector<double> moverCpu;
    std::vector<double> mvCpu;
    bool failed = false;
    for (int rep = 0; rep < reps && !failed; ++rep) {
        Timing moverTiming;
        Timing mvTiming;
        // Alternate who goes first: the first one of a pair meets a fresher page cache.
        if (rep % 2 == 0) {
            moverTiming = timedMove(setup, "FileMover", mover);
            mvTiming = moverTiming.ok() ? timedMove(setup, "mv", moveWithMv) : Timing{};
        } else {
            mvTiming = timedMove(setup, "mv", moveWithMv);
            moverTiming = mvTiming.ok() ? timedMove(setup, "FileMover", mover) : Timing{};
        }
        if (!moverTiming.ok() || !mvTiming.ok()) {
            failed = true;
            break;
        }
        moverTimes.push_back(moverTiming.wall);
        mvTimes.push_back(mvTiming.wall);
        ratios.push_back(moverTiming.wall / mvTiming.wall);
        moverCpu.push_back(moverTiming.cpu);
        mvCpu.push_back(mvTiming.cpu);
        std::printf("run %d: FileMover %.3f s (processor %.3f s), mv %.3f s (processor %.3f s), ratio %.3f; io "
                    "pressure %s\n",
                    rep + 1, moverTiming.wall, moverTiming.cpu, mvTiming.wall, mvTiming.cpu,
                    moverTiming.wall / mvTiming.wall, ioPressure().constData());
        std::fflush(stdout);
    }
    if (!failed) {
        const double moverMedian = median(moverTimes);
        const double mvMedian = median(mvTimes);
        std::printf("median: FileMover %.3f s (%.0f MiB/s), mv %.3f s (%.0f MiB/s); median of the per-run ratios "
                    "%.3f\n",
                    moverMedian, double(setup.tree.totalBytes()) / double(mebibyte) / moverMedian, mvMedian,
                    double(setup.tree.totalBytes()) / double(mebibyte) / mvMedian, median(ratios));
        std::printf("processor time, median: FileMover %.3f s, mv %.3f s, ratio %.2f\n", median(moverCpu),
                    median(mvCpu), median(moverCpu) / median(mvCpu));
        const auto [fastest, slowest] = std::minmax_element(mvTimes.begin(), mvTimes.end());
        if (*slowest > 2 * *fastest) {
            std::printf("NOTE: the same mv took from %.1f to %.1f s: other work on the machine contends for the "
                        "source disk, whose unlinks dominate both moves. The processor times are the steadier "
                        "comparison of the work each one does.\n",
                        *fastest, *slowest);
        }
        std::printf("move / mv: %.2f (goal <= 1.1)\n", moverMedian / mvMedian);
        std::printf("load average now %s\n", loadAverage().constData());
        std::fflush(stdout);
        if (!parser.isSet(noProfileOption)) {
            profile(setup);
        }
    }
    removeTree(sourceParent);
    removeTree(targetParent);
    return failed ? 1 : 0;
}
