// Size map benchmark: UsageWalker::walk of the walk benchmark's tree (every
// folder's size, entry count and largest children) against du -s, and
// against ncdu and gdu when they are installed, warm and cold; then the
// memory a map takes per entry.
//
// Rounds are interleaved (one run of every contender per repetition) so that
// load from other work on the machine hits them alike; medians are
// reported. Cold rounds drop the page, dentry and inode caches before every
// run, which needs root; without it they are skipped. Exits non-zero only
// when a result is wrong, not when a goal is missed.

#include "AllocationCounter.h"
#include "BenchSupport.h"
#include "SyntheticTree.h"

#include "platform/PlatformFileSystem.h"
#include "scan/UsageWalker.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using BenchSupport::loadAverage;
using BenchSupport::median;
using BenchSupport::runQuietly;
using BenchSupport::statusKb;

bool g_failed = false;

void fail(const QByteArray& what)
{
    std::printf("FAILED: %s\n", what.constData());
    g_failed = true;
}

bool dropCaches()
{
    ::sync();
    QFile file(QStringLiteral("/proc/sys/vm/drop_caches"));
    return file.open(QIODevice::WriteOnly) && file.write("3") == 1 && file.flush();
}

struct Contender
{
    QByteArray name;
    std::function<void()> run;
    std::vector<double> wallMs;
};

void timeRounds(std::vector<Contender>& contenders, int repetitions, bool cold)
{
    if (!cold) {
        for (Contender& c : contenders) {
            c.run(); // warm-up, untimed
        }
    }
    for (int r = 0; r < repetitions; ++r) {
        for (Contender& c : contenders) {
            if (cold && !dropCaches()) {
                fail("cannot drop the caches");
                return;
            }
            const auto start = std::chrono::steady_clock::now();
            c.run();
            c.wallMs.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
    }
}

void printTimings(const char* title, const std::vector<Contender>& contenders, double goal)
{
    std::printf("\n%s (median of %zu, ms):\n", title, contenders.front().wallMs.size());
    for (const Contender& c : contenders) {
        const auto [lo, hi] = std::minmax_element(c.wallMs.begin(), c.wallMs.end());
        std::printf("  %-34s %8.1f  (min %.1f, max %.1f)\n", c.name.constData(), median(c.wallMs), *lo, *hi);
    }
    const Contender& du = contenders.front();
    for (const Contender& c : contenders) {
        if (&c == &du) {
            continue;
        }
        std::vector<double> perRound;
        for (size_t i = 0; i < c.wallMs.size(); ++i) {
            perRound.push_back(c.wallMs[i] / du.wallMs[i]);
        }
        const double ratio = median(c.wallMs) / median(du.wallMs);
        const bool ours = c.name.startsWith("UsageWalker");
        std::printf("  %-34s %5.2f × du%s  (per-round median %.2f)\n", c.name.constData(), ratio,
                    ours ? (ratio <= goal ? QByteArray("  goal <= %1 met").replace("%1", QByteArray::number(goal)).constData()
                                          : QByteArray("  goal <= %1 NOT met").replace("%1", QByteArray::number(goal)).constData())
                         : "",
                    median(perRound));
    }
}

// du's total of every folder, by path.
QMap<QByteArray, qint64> duFolders(const QByteArray& root)
{
    QProcess du;
    du.start(QStringLiteral("du"), {QStringLiteral("-B1"), QStringLiteral("-0"), QFile::decodeName(root)});
    du.waitForFinished(-1);
    QMap<QByteArray, qint64> sizes;
    for (const QByteArray& line : du.readAllStandardOutput().split('\0')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab > 0) {
            sizes.insert(line.mid(tab + 1), line.left(tab).toLongLong());
        }
    }
    return sizes;
}

void checkAgreement(const UsageTree& tree)
{
    const QMap<QByteArray, qint64> du = duFolders(tree.rootPath().native());
    qint64 folders = 0;
    qint64 differ = 0;
    for (UsageTree::Index i = 0; i < UsageTree::Index(tree.nodeCount()); ++i) {
        if (!tree.isDirectory(i)) {
            continue;
        }
        ++folders;
        const QByteArray path = tree.path(i).native();
        if (du.value(path, -1) != tree.size(i)) {
            if (++differ <= 5) {
                std::printf("  differs: %s ours %lld du %lld\n", path.constData(), tree.size(i), du.value(path, -1));
            }
        }
    }
    std::printf("agreement with du -B1 per folder: %lld folders, %lld differ (du lists %lld); total %lld bytes, "
                "%lld entries\n",
                folders, differ, qint64(du.size()), tree.size(0), tree.entries(0));
    if (differ > 0 || folders != du.size()) {
        fail("the map differs from du");
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Size map benchmark"));
    parser.addHelpOption();
    const QCommandLineOption repsOption(QStringLiteral("reps"), QStringLiteral("Warm repetitions (default 7)."),
                                        QStringLiteral("n"), QStringLiteral("7"));
    const QCommandLineOption coldOption(QStringLiteral("cold-reps"),
                                        QStringLiteral("Cold repetitions (default 3, 0 skips; needs root)."),
                                        QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption workOption(QStringLiteral("work"),
                                        QStringLiteral("Keep the tree in this folder and reuse it next time."),
                                        QStringLiteral("dir"));
    parser.addOptions({repsOption, coldOption, workOption});
    parser.process(app);
    const int repetitions = std::max(1, parser.value(repsOption).toInt());
    const int coldRepetitions = std::max(0, parser.value(coldOption).toInt());

    QTemporaryDir temporary;
    QByteArray work;
    if (parser.isSet(workOption)) {
        work = QFile::encodeName(parser.value(workOption));
        ::mkdir(work.constData(), 0755);
    } else {
        work = QFile::encodeName(temporary.path());
    }
    ::mkdir((work + "/home").constData(), 0755);
    SyntheticTree synthetic(work + "/home/tree", 6, true);
    QString error;
    if (!synthetic.ensure(&error)) {
        std::printf("cannot build the tree: %s\n", qPrintable(error));
        return 2;
    }
    const FilePath root(synthetic.root());
    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    std::printf("usage_bench: %d cores, default threads %d, load average %s\ntree %s: %lld entries\n",
                QThread::idealThreadCount(), UsageWalker::defaultThreads(), loadAverage().constData(),
                root.native().constData(), synthetic.createdEntries());

    const UsageWalker walker(fs);
    const UsageTree tree = walker.walk(root);
    checkAgreement(tree);

    std::vector<Contender> contenders;
    contenders.push_back({"du -s -B1", [&] {
                              if (!runQuietly({"du", "-s", "-B1", root.native()})) {
                                  fail("du failed");
                              }
                          }, {}});
    if (!QStandardPaths::findExecutable(QStringLiteral("ncdu")).isEmpty()) {
        contenders.push_back({"ncdu -0 -o /dev/null", [&] { runQuietly({"ncdu", "-0", "-o", "/dev/null", root.native()}); }, {}});
    }
    if (!QStandardPaths::findExecutable(QStringLiteral("gdu")).isEmpty()) {
        contenders.push_back({"gdu -n -p", [&] { runQuietly({"gdu", "-n", "-p", root.native()}); }, {}});
    }
    std::vector<UsageWalker> walkers;
    const std::vector<int> threadCounts{UsageWalker::defaultThreads(), 2, 8};
    walkers.reserve(threadCounts.size());
    for (int threads : threadCounts) {
        walkers.emplace_back(fs, threads);
    }
    for (size_t i = 0; i < threadCounts.size(); ++i) {
        const UsageWalker* w = &walkers[i];
        contenders.push_back({"UsageWalker " + QByteArray::number(threadCounts[i]) + " threads", [w, &root, &tree] {
                                  if (w->walk(root).size(0) != tree.size(0)) {
                                      fail("a timed walk found another total");
                                  }
                              }, {}});
    }
    std::vector<Contender> cold = contenders;
    timeRounds(contenders, repetitions, false);
    printTimings("Warm cache", contenders, 0.6);

    if (coldRepetitions > 0 && ::geteuid() == 0) {
        timeRounds(cold, coldRepetitions, true);
        printTimings("Cold cache (caches dropped before every run)", cold, 0.5);
    } else {
        std::printf("\nCold cache: skipped (needs root to drop the caches)\n");
    }

    std::printf("\nMemory of one map of %lld entries:\n", tree.entries(0));
    const qint64 rssBefore = statusKb("VmRSS");
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
        clear.close();
    }
    AllocationCounter::start();
    qint64 nodes = 0;
    qint64 held = 0;
    {
        const UsageTree measured = walker.walk(root);
        nodes = measured.nodeCount();
        held = measured.memoryBytes();
    }
    const AllocationCounter::Figures heap = AllocationCounter::stop();
    const qint64 hwm = statusKb("VmHWM");
    std::printf("  tree holds %.1f bytes per entry (nodes %zu bytes each + names)\n", double(held) / double(nodes),
                sizeof(UsageNode));
    if (AllocationCounter::isAvailable()) {
        std::printf("  heap peak during the walk %.1f bytes per entry (%.1f MiB)\n", double(heap.peakBytes) / double(nodes),
                    double(heap.peakBytes) / 1048576.0);
    }
    std::printf("  resident peak grew by %.1f bytes per entry\n", double(hwm - rssBefore) * 1024.0 / double(nodes));
    std::printf("\nload average at the end: %s\n", loadAverage().constData());
    return g_failed ? 1 : 0;
}
