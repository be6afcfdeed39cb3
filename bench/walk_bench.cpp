// Walker benchmark: directorySize against du, the sequential walk against
// find, the walker's memory on trees of different sizes, and how long the
// main event loop goes unanswered while a scan walks the same tree.
//
// Timings run on a warm cache, interleaved (one round of every contender per
// repetition) so that load from other work on the machine hits them alike;
// medians are reported. Exits non-zero only when a result is wrong, not when
// a goal is missed.

#include "AllocationCounter.h"
#include "BenchSupport.h"
#include "SyntheticTree.h"

#include "app/AppEnvironment.h"
#include "app/AppState.h"
#include "app/DiscardingSinks.h"
#include "model/AppSettings.h"
#include "platform/PlatformFileSystem.h"
#include "platform/PlatformVolumeSource.h"
#include "platform/PlatformWorkspace.h"
#include "platform/SettingsDefaultsStore.h"
#include "scan/DirectoryWalker.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using BenchSupport::loadAverage;
using BenchSupport::median;
using BenchSupport::runQuietly;
using BenchSupport::statusKb;

bool g_failed = false;

void fail(const char* what)
{
    std::printf("FAILED: %s\n", what);
    std::fflush(stdout);
    g_failed = true;
}

double cpuMs(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Busy time of the whole machine in milliseconds, from /proc/stat.
double machineBusyMs()
{
    QFile file(QStringLiteral("/proc/stat"));
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = file.readLine().simplified().split(' ');
    double busy = 0;
    // cpu user nice system idle iowait irq softirq steal ...
    for (qsizetype i = 1; i < fields.size() && i <= 8; ++i) {
        if (i != 4 && i != 5) {
            busy += fields[i].toDouble();
        }
    }
    return busy * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

bool resetPeakRss()
{
    // Writing 5 resets VmHWM to the current resident size.
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

double timeMs(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// One contender of the timing rounds.
struct Contender
{
    QByteArray name;
    std::function<void()> run;
    int cpuSource; // RUSAGE_SELF or RUSAGE_CHILDREN
    std::vector<double> wallMs;
    std::vector<double> cpuMs;
};

void timeRounds(std::vector<Contender>& contenders, int repetitions)
{
    for (Contender& c : contenders) {
        c.run(); // warm-up, untimed
    }
    for (int r = 0; r < repetitions; ++r) {
        for (Contender& c : contenders) {
            const double cpuBefore = cpuMs(c.cpuSource);
            c.wallMs.push_back(timeMs(c.run));
            c.cpuMs.push_back(cpuMs(c.cpuSource) - cpuBefore);
        }
    }
}

// Ratio of the medians, and the median of the per-round ratios: the rounds
// are interleaved, so the second one holds up better when the load changes
// during the run. The processor-time ratio hardly depends on the load at all:
// it is the work done per walk, which threads can only spread, not lessen.
void printRatio(const char* label, const Contender& ours, const Contender& theirs, double goal)
{
    const double theirMedian = median(theirs.wallMs);
    const double ratio = theirMedian > 0 ? median(ours.wallMs) / theirMedian : 0;
    std::vector<double> perRound;
    for (size_t i = 0; i < ours.wallMs.size() && i < theirs.wallMs.size(); ++i) {
        perRound.push_back(theirs.wallMs[i] > 0 ? ours.wallMs[i] / theirs.wallMs[i] : 0);
    }
    const double theirCpu = median(theirs.cpuMs);
    std::printf("%-40s %5.2f (goal <= %.1f) %-7s  per-round median %.2f, cpu time ratio %.2f\n", label, ratio, goal,
                ratio <= goal ? "met" : "NOT met", median(perRound), theirCpu > 0 ? median(ours.cpuMs) / theirCpu : 0);
}

AppSettings benchSettings(const QByteArray& home)
{
    return AppSettings::defaults(QString::fromLocal8Bit(home));
}

void checkCorrectness(const SyntheticTree& tree, const AppSettings& settings)
{
    const FilePath root(tree.root());
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const DirectoryWalker walker(fs, 1);

    qint64 visits = 0;
    qint64 plainSum = 0;
    // FNV-1a over every (path below the root, isDirectory) in handler order:
    // equal digests mean the same entries in the same order.
    quint64 digest = 1469598103934665603ULL;
    walker.walkSync(root, settings, 0, SyntheticTree::walkDepth, WalkExclusionMode::standard, [&](const WalkEntry& e) {
        ++visits;
        if (!e.isDirectory) {
            plainSum += walker.fileSize(FilePath(e.path));
        }
        for (qsizetype i = tree.root().size(); i < e.path.size(); ++i) {
            const char ch = e.path[i];
            digest = (digest ^ quint8(ch)) * 1099511628211ULL;
        }
        digest = (digest ^ (e.isDirectory ? 1u : 2u)) * 1099511628211ULL;
    });
    std::printf("walk visits %lld (expected %lld), order digest %016llx\n", visits,
                qint64(tree.expectedWalkVisits()), static_cast<unsigned long long>(digest));
    if (visits != tree.expectedWalkVisits()) {
        fail("the walk did not visit the expected entries");
    }

    std::printf("plain sequential sum of file sizes: %lld bytes\n", plainSum);
    std::vector<int> counts{1, 2, 3, 4, 8, DirectoryWalker::defaultSizingThreads()};
    for (int threads : counts) {
        const qint64 total = DirectoryWalker(fs, threads)
                                 .directorySize(root, settings, SyntheticTree::walkDepth, WalkExclusionMode::standard);
        std::printf("  directorySize, %d thread(s): %lld %s\n", threads, total, total == plainSum ? "equal" : "DIFFERENT");
        if (total != plainSum) {
            fail("directorySize differs from the plain sum");
        }
    }
    // Shallower limits share the depth rule between the two code paths.
    for (int depth : {0, 1, 3, 6}) {
        qint64 sum = 0;
        walker.walkSync(root, settings, 0, depth, WalkExclusionMode::standard, [&](const WalkEntry& e) {
            if (!e.isDirectory) {
                sum += walker.fileSize(e);
            }
        });
        const qint64 total = DirectoryWalker(fs, 4).directorySize(root, settings, depth, WalkExclusionMode::standard);
        std::printf("  depth %d: plain %lld, directorySize %lld %s\n", depth, sum, total, sum == total ? "equal" : "DIFFERENT");
        if (sum != total) {
            fail("directorySize differs from the plain sum at a shallower depth");
        }
    }
}

void benchTimings(const SyntheticTree& tree, const AppSettings& settings, int repetitions)
{
    const FilePath root(tree.root());
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const int defaultThreads = DirectoryWalker::defaultSizingThreads();
    const std::vector<int> threadCounts{1, 2, 4, 8};

    QProcess duReport;
    duReport.start(QStringLiteral("du"), {QStringLiteral("-s"), QStringLiteral("-B1"), QString::fromLocal8Bit(tree.root())});
    duReport.waitForFinished(-1);
    std::printf("du -s -B1 reports %s bytes (it also counts folders, hidden entries and node_modules)\n",
                duReport.readAllStandardOutput().split('\t').value(0).constData());

    std::vector<Contender> contenders;
    contenders.push_back({"du -s -B1", [&] {
                              if (!runQuietly({"du", "-s", "-B1", tree.root()})) {
                                  fail("du failed");
                              }
                          },
                          RUSAGE_CHILDREN, {}, {}});
    contenders.push_back({"find -maxdepth 10 -not -path", [&] {
                              if (!runQuietly({"find", tree.root(), "-maxdepth", "10", "-not", "-path", "*/.*"})) {
                                  fail("find failed");
                              }
                          },
                          RUSAGE_CHILDREN, {}, {}});
    std::map<int, DirectoryWalker> walkers;
    for (int threads : threadCounts) {
        walkers.emplace(threads, DirectoryWalker(fs, threads));
    }
    const DirectoryWalker defaultWalker(fs);
    contenders.push_back({"directorySize default (" + QByteArray::number(defaultThreads) + " threads)", [&] {
                              defaultWalker.directorySize(root, settings, SyntheticTree::walkDepth,
                                                          WalkExclusionMode::standard);
                          },
                          RUSAGE_SELF, {}, {}});
    for (int threads : threadCounts) {
        const DirectoryWalker& walker = walkers.at(threads);
        contenders.push_back({"directorySize " + QByteArray::number(threads) + " thread(s)", [&walker, &root, &settings] {
                                  walker.directorySize(root, settings, SyntheticTree::walkDepth,
                                                       WalkExclusionMode::standard);
                              },
                              RUSAGE_SELF, {}, {}});
    }
    qint64 counted = 0;
    contenders.push_back({"walkSync, counting handler", [&] {
                              qint64 n = 0;
                              defaultWalker.walkSync(root, settings, 0, SyntheticTree::walkDepth,
                                                     WalkExclusionMode::standard, [&n](const WalkEntry&) { ++n; });
                              counted = n;
                          },
                          RUSAGE_SELF, {}, {}});

    const double ourCpuBefore = cpuMs(RUSAGE_SELF) + cpuMs(RUSAGE_CHILDREN);
    const double machineBefore = machineBusyMs();
    QElapsedTimer phase;
    phase.start();
    timeRounds(contenders, repetitions);
    const double phaseMs = double(phase.elapsed());
    const double ours = cpuMs(RUSAGE_SELF) + cpuMs(RUSAGE_CHILDREN) - ourCpuBefore;
    const double others = machineBusyMs() - machineBefore - ours;
    if (counted != tree.expectedWalkVisits()) {
        fail("the timed walk visited another number of entries");
    }

    std::printf("\nTimings, %d repetitions after one warm-up each (median wall ms, median cpu ms):\n", repetitions);
    for (const Contender& c : contenders) {
        const auto [lo, hi] = std::minmax_element(c.wallMs.begin(), c.wallMs.end());
        std::printf("  %-36s %8.1f ms  (cpu %7.1f ms, min %.1f, max %.1f)\n", c.name.constData(), median(c.wallMs),
                    median(c.cpuMs), *lo, *hi);
    }
    const double otherCores = phaseMs > 0 ? std::max(0.0, others) / phaseMs : 0.0;
    std::printf("Other work on the machine during the timings: %.2f cores busy on average; load average now %s\n",
                otherCores, loadAverage().constData());
    if (otherCores > 0.5) {
        std::printf("(with cores taken by other work, parallel sizing cannot show its speed-up: a busy process in\n"
                    " another session gets as much processor time as all of this one's threads together)\n");
    }

    const Contender& du = contenders[0];
    std::printf("\n");
    printRatio(("directorySize / du (default, " + QByteArray::number(defaultThreads) + " threads):").constData(),
               contenders[2], du, 0.6);
    for (size_t i = 0; i < threadCounts.size(); ++i) {
        printRatio(("  with " + QByteArray::number(threadCounts[i]) + " thread(s):").constData(), contenders[3 + i], du,
                   0.6);
    }
    printRatio("walkSync / find:", contenders.back(), contenders[1], 1.0);
}

void measureMemory(const SyntheticTree& tree, const AppSettings& settings)
{
    const FilePath root(tree.root());
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const auto measure = [](const char* label, const std::function<void()>& work) {
        resetPeakRss();
        const qint64 rssBefore = statusKb("VmRSS");
        AllocationCounter::start();
        work();
        const AllocationCounter::Figures heap = AllocationCounter::stop();
        const qint64 hwm = statusKb("VmHWM");
        if (AllocationCounter::isAvailable()) {
            std::printf("    %-26s heap peak %8.1f KiB, %7lld allocations, retained %lld B; RSS peak %+lld KiB\n", label,
                        double(heap.peakBytes) / 1024.0, heap.allocations, heap.retainedBytes, hwm - rssBefore);
        } else {
            std::printf("    %-26s RSS peak %+lld KiB\n", label, hwm - rssBefore);
        }
    };
    std::printf("  tree of %lld entries (%lld visited):\n", tree.createdEntries(), tree.expectedWalkVisits());
    for (int threads : {1, 2, DirectoryWalker::defaultSizingThreads(), 8}) {
        const DirectoryWalker walker(fs, threads);
        // Warm the tree into the cache and start the sizing threads first.
        walker.directorySize(root, settings, SyntheticTree::walkDepth, WalkExclusionMode::standard);
        measure(("directorySize, " + QByteArray::number(threads) + " thread(s)").constData(), [&] {
            walker.directorySize(root, settings, SyntheticTree::walkDepth, WalkExclusionMode::standard);
        });
    }
    const DirectoryWalker walker(fs);
    measure("walkSync, counting", [&] {
        qint64 n = 0;
        walker.walkSync(root, settings, 0, SyntheticTree::walkDepth, WalkExclusionMode::standard,
                        [&n](const WalkEntry&) { ++n; });
    });
}

double largestTickGap(AppState& state, ScanCategory category, qint64* scanMs)
{
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 maxGap = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        const qint64 now = clock.nsecsElapsed();
        maxGap = std::max(maxGap, now - lastTick);
        lastTick = now;
    });
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    clock.start();
    timer.start();
    watcher.setFuture(state.runScan({category}));
    loop.exec();
    const qint64 end = clock.nsecsElapsed();
    timer.stop();
    maxGap = std::max(maxGap, end - lastTick);
    *scanMs = end / 1000000;
    return double(maxGap) / 1e6;
}

void measureScan(AppState& state, ScanCategory category, const char* label, qsizetype expectedRows, int repetitions)
{
    std::vector<double> gaps;
    std::vector<double> times;
    qint64 scanMs = 0;
    largestTickGap(state, category, &scanMs); // warm-up
    for (int r = 0; r < repetitions; ++r) {
        gaps.push_back(largestTickGap(state, category, &scanMs));
        times.push_back(double(scanMs));
        if (state.scanItems().size() != expectedRows) {
            fail("the scan found an unexpected number of rows");
        }
    }
    const double worst = *std::max_element(gaps.begin(), gaps.end());
    std::printf("  %-22s scan %6.0f ms (median), %lld row(s); largest gap between 10 ms ticks: median %.1f ms, "
                "worst %.1f ms (goal <= 50) %s\n",
                label, median(times), qint64(state.scanItems().size()), median(gaps), worst,
                worst <= 50 ? "met" : "NOT met");
}

void measureResponsiveness(const QByteArray& work, const SyntheticTree& tree, int repetitions)
{
    const QByteArray home = work + "/home";
    AppEnvironment env;
    env.home = FilePath(home);
    env.fileSystem = std::make_shared<PlatformFileSystem>();
    env.defaults = std::make_shared<SettingsDefaultsStore>(QString::fromLocal8Bit(work) + QStringLiteral("/defaults.ini"),
                                                           QSettings::IniFormat);
    env.clock = std::make_shared<SystemClock>();
    env.volumes = std::make_shared<PlatformVolumeSource>();
    env.workspace = std::make_shared<PlatformWorkspace>();
    env.usage = std::make_shared<DiscardingUsageSink>();
    env.errors = std::make_shared<DiscardingErrorSink>();
    AppState state(env);
    AppSettings settings = state.settings();
    settings.videoSearchMode = VideoSearchMode::fileType;
    // Low enough for the tree folder itself to be a large-folder row.
    settings.largeFolderThresholdGB = 0.1;
    state.setSettings(settings);

    measureScan(state, ScanCategory::plusVideos, "plusVideos (fileType)", tree.videoCount(), repetitions);
    measureScan(state, ScanCategory::largeFolders, "largeFolders", 1, repetitions);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Directory walker benchmark"));
    parser.addHelpOption();
    const QCommandLineOption repsOption(QStringLiteral("reps"), QStringLiteral("Timed repetitions (default 7)."),
                                        QStringLiteral("n"), QStringLiteral("7"));
    const QCommandLineOption workOption(
        QStringLiteral("work"),
        QStringLiteral("Keep the trees in this folder and reuse them on the next run (default: a temporary folder)."),
        QStringLiteral("dir"));
    const QCommandLineOption largeOption(
        QStringLiteral("large-scale"),
        QStringLiteral("Size of the second tree for the memory check, in multiples of the first (default 4, 0 skips)."),
        QStringLiteral("k"), QStringLiteral("4"));
    parser.addOptions({repsOption, workOption, largeOption});
    parser.process(app);
    const int repetitions = std::max(1, parser.value(repsOption).toInt());
    const int largeScale = std::max(0, parser.value(largeOption).toInt());

    QTemporaryDir temporary;
    QByteArray work;
    if (parser.isSet(workOption)) {
        work = QFile::encodeName(parser.value(workOption));
        ::mkdir(work.constData(), 0755);
    } else {
        if (!temporary.isValid()) {
            std::printf("cannot make a temporary folder\n");
            return 2;
        }
        work = QFile::encodeName(temporary.path());
    }
    ::mkdir((work + "/home").constData(), 0755);
    ::mkdir((work + "/large").constData(), 0755);

    std::printf("walk_bench: %d cores, default sizing threads %d, load average %s\n", QThread::idealThreadCount(),
                DirectoryWalker::defaultSizingThreads(), loadAverage().constData());
    if (!AllocationCounter::isAvailable()) {
        std::printf("(heap counting is off in this build)\n");
    }

    const int topFolders = 6;
    SyntheticTree tree(work + "/home/tree", topFolders, true);
    QString error;
    QElapsedTimer building;
    building.start();
    if (!tree.ensure(&error)) {
        std::printf("cannot build the tree: %s\n", qPrintable(error));
        return 2;
    }
    std::printf("tree %s: %lld entries (%lld visited by a depth-10 walk), ready in %.1f s\n\n", tree.root().constData(),
                tree.createdEntries(), tree.expectedWalkVisits(), double(building.elapsed()) / 1000.0);

    const AppSettings settings = benchSettings(work + "/home");
    std::printf("== Correctness\n");
    checkCorrectness(tree, settings);

    std::printf("\n== Timings on %lld entries\n", tree.createdEntries());
    benchTimings(tree, settings, repetitions);

    std::printf("\n== Memory (heap counted over all threads; RSS growth from VmHWM)\n");
    measureMemory(tree, settings);
    if (largeScale > 0) {
        SyntheticTree large(work + "/large/tree", topFolders * largeScale, false);
        building.restart();
        if (!large.ensure(&error)) {
            std::printf("cannot build the large tree: %s\n", qPrintable(error));
            return 2;
        }
        std::printf("  (large tree ready in %.1f s)\n", double(building.elapsed()) / 1000.0);
        measureMemory(large, benchSettings(work + "/large"));
    }

    std::printf("\n== Event loop while AppState::runScan walks the home folder holding the tree\n");
    measureResponsiveness(work, tree, std::min(repetitions, 3));

    std::printf("\nload average at the end: %s\n", loadAverage().constData());
    if (g_failed) {
        std::printf("Some results were WRONG (see FAILED lines above).\n");
        return 1;
    }
    return 0;
}
