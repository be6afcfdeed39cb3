// Clean archive benchmark: creating a clean archive of a profile of about
// 2 GiB (a few large files and a few thousand small ones), without and with
// packing, against the same work done by the shell in the same run (cp -a of
// the folders, sha256sum of every copied file, and tar -caf for the packed
// variant); and the digest alone against sha256sum on one 1 GiB file.
//
// Every timed run starts on a warm cache with the previous run's writes
// flushed (sync, not timed); contenders alternate within each repetition so
// that load from other work on the machine hits them alike. Medians are
// reported. Exits non-zero only when a result is wrong, not when a goal is
// missed.
//
//   build-release/bench/archive_bench [--reps 3] [--gib 2] [--dir /tmp]

#include "archive/CleanArchiveDigest.h"
#include "archive/CleanArchiveService.h"
#include "model/AppSettings.h"
#include "platform/PlatformFileSystem.h"
#include "scan/HomeLayout.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

bool g_failed = false;

void fail(const QString& what)
{
    std::printf("FAILED: %s\n", qPrintable(what));
    std::fflush(stdout);
    g_failed = true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray("?");
}

bool shell(const QString& script)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        fail(QStringLiteral("shell: ") + script + QStringLiteral(": ")
             + QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + QString(path).replace(QLatin1String("'"), QLatin1String("'\\''")) + QLatin1Char('\'');
}

// Deterministic bytes that neither compress to nothing nor repeat: a
// xorshift stream, with every fourth 64 KiB block made of text so that
// zstd has something to do.
void writeFile(const QString& path, qint64 size, quint64 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        fail(QStringLiteral("cannot write ") + path);
        return;
    }
    QByteArray block(1 << 16, Qt::Uninitialized);
    quint64 state = seed * 0x9e3779b97f4a7c15ull + 1;
    qint64 written = 0;
    for (qint64 index = 0; written < size; ++index) {
        if (index % 4 == 3) {
            const QByteArray line =
                QByteArray("line ") + QByteArray::number(seed) + " of a document that repeats itself\n";
            for (qsizetype i = 0; i < block.size(); ++i) {
                block[i] = line[i % line.size()];
            }
        } else {
            auto* words = reinterpret_cast<quint64*>(block.data());
            for (qsizetype i = 0; i < block.size() / 8; ++i) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                words[i] = state;
            }
        }
        const qint64 n = std::min<qint64>(block.size(), size - written);
        file.write(block.constData(), n);
        written += n;
    }
}

// home/Documents: four large files and the rest in small files over nested
// folders, totalGiB in all.
qint64 makeProfile(const QString& home, double totalGiB, int* fileCount)
{
    const qint64 total = qint64(totalGiB * double(qint64(1) << 30));
    const qint64 large = total * 3 / 4 / 4;
    const QString documents = home + QStringLiteral("/Documents");
    QDir().mkpath(documents + QStringLiteral("/media"));
    qint64 made = 0;
    int files = 0;
    for (int i = 0; i < 4; ++i) {
        writeFile(documents + QStringLiteral("/media/video-%1.mov").arg(i), large, quint64(i) + 1);
        made += large;
        ++files;
    }
    for (int i = 0; made < total; ++i) {
        const QString folder = documents + QStringLiteral("/projects/p%1/src/m%2").arg(i / 200).arg(i / 20 % 10);
        if (i % 20 == 0) {
            QDir().mkpath(folder);
        }
        const qint64 size = 4096 + qint64(i % 97) * 4096;
        writeFile(folder + QStringLiteral("/file-%1.dat").arg(i), size, quint64(i) + 100);
        made += size;
        ++files;
    }
    *fileCount = files;
    return made;
}

double timed(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("reps"), QStringLiteral("Repetitions (medians are reported)."),
                      QStringLiteral("n"), QStringLiteral("3")});
    parser.addOption(
        {QStringLiteral("gib"), QStringLiteral("Profile size in GiB."), QStringLiteral("size"), QStringLiteral("2")});
    parser.addOption({QStringLiteral("dir"), QStringLiteral("Where to work (needs about 4× the profile free)."),
                      QStringLiteral("folder"), QDir::tempPath()});
    parser.process(app);
    const int reps = std::max(1, parser.value(QStringLiteral("reps")).toInt());
    const double gib = parser.value(QStringLiteral("gib")).toDouble();

    QTemporaryDir work(parser.value(QStringLiteral("dir")) + QStringLiteral("/brisko-archive-bench-XXXXXX"));
    if (!work.isValid()) {
        fail(QStringLiteral("no work folder"));
        return 1;
    }
    const QString home = work.filePath(QStringLiteral("home"));
    const QString ours = work.filePath(QStringLiteral("ours"));
    const QString theirs = work.filePath(QStringLiteral("shell"));
    int files = 0;
    std::printf("load average at start: %s\n", loadAverage().constData());
    const qint64 bytes = makeProfile(home, gib, &files);
    std::printf("profile: %d files, %.2f GiB (4 large, the rest 4-400 KiB)\n", files, double(bytes) / double(1 << 30));
    std::fflush(stdout);

    const FileSystemPtr fs = std::make_shared<PlatformFileSystem>();
    const auto settingsFor = [&](bool compress) {
        AppSettings settings = AppSettings::defaults(home);
        settings.archivePath = ours;
        settings.compressCleanArchive = compress;
        return settings;
    };
    const auto warm = [&] {
        shell(QStringLiteral("find %1 -type f -exec cat {} + > /dev/null; sync").arg(quoted(home)));
    };
    const auto clear = [&] {
        QDir(ours).removeRecursively();
        QDir(theirs).removeRecursively();
        shell(QStringLiteral("sync"));
    };

    struct Variant
    {
        const char* name;
        bool packed;
        std::vector<double> ours;
        std::vector<double> shell;
        // The shell brought to the end state of ours: the packed file hashed
        // and payload/ removed, as a packed clean archive has them.
        std::vector<double> shellSameEnd;
    };
    std::vector<Variant> variants{{"plain (payload/)", false, {}, {}, {}}, {"packed (tar.zst)", true, {}, {}, {}}};
    for (int rep = 0; rep < reps; ++rep) {
        for (Variant& variant : variants) {
            warm();
            for (int turn = 0; turn < 2; ++turn) {
                // Alternate who goes first.
                const bool oursNow = (turn + rep) % 2 == 0;
                clear();
                if (oursNow) {
                    const CleanArchiveService service(
                        fs, HomeLayout::forThisSystem(FilePath::fromString(home), QProcessEnvironment()),
                        std::make_shared<SystemClock>(), FilePath::fromString(work.path()));
                    CleanArchiveCreateResult result;
                    QElapsedTimer clock;
                    double packingStarted = 0;
                    const CleanArchiveService::ProgressHandler onProgress = [&](const CleanArchiveProgress& progress) {
                        if (progress.currentTask.startsWith(QStringLiteral("Сжатие"))) {
                            packingStarted = double(clock.nsecsElapsed()) / 1e9;
                        }
                    };
                    clock.start();
                    variant.ours.push_back(timed([&] {
                        result =
                            service.create(CleanArchiveProfile::essential, settingsFor(variant.packed), onProgress);
                    }));
                    if (variant.packed) {
                        std::printf("      ours: copy and digests %.2f s, packing %.2f s\n", packingStarted,
                                    variant.ours.back() - packingStarted);
                    }
                    if (!result.errors.isEmpty() || result.copiedFiles != 1
                        || result.manifest.compression.has_value() != variant.packed) {
                        fail(QStringLiteral("our archive: ") + result.errors.join(QStringLiteral("; ")));
                    }
                } else {
                    QString script = QStringLiteral("mkdir -p %1/payload && cp -a %2/Documents %1/payload/ && find "
                                                    "%1/payload -type f -exec sha256sum {} + > /dev/null")
                                         .arg(quoted(theirs), quoted(home));
                    if (variant.packed) {
                        script += QStringLiteral(" && tar -caf %1/archive.tar.zst -C %1/payload .").arg(quoted(theirs));
                    }
                    variant.shell.push_back(timed([&] { shell(script); }));
                    if (variant.packed) {
                        const QString rest =
                            QStringLiteral("sha256sum %1/archive.tar.zst > /dev/null && rm -rf %1/payload")
                                .arg(quoted(theirs));
                        variant.shellSameEnd.push_back(variant.shell.back() + timed([&] { shell(rest); }));
                    }
                }
            }
            std::printf("rep %d %-18s ours %6.2f s   shell %6.2f s   load %s\n", rep + 1, variant.name,
                        variant.ours.back(), variant.shell.back(), loadAverage().constData());
            std::fflush(stdout);
        }
    }
    clear();

    // The digest alone, on one 1 GiB file.
    const QString big = work.filePath(QStringLiteral("digest-1GiB.bin"));
    writeFile(big, qint64(1) << 30, 7);
    shell(QStringLiteral("cat %1 > /dev/null").arg(quoted(big)));
    std::vector<double> oursDigest;
    std::vector<double> shellDigest;
    QByteArray ourHex;
    for (int rep = 0; rep < reps; ++rep) {
        oursDigest.push_back(timed(
            [&] { ourHex = CleanArchiveDigest(fs).fileDigest(FilePath::fromString(big)).value_or(QByteArray()); }));
        QProcess sum;
        shellDigest.push_back(timed([&] {
            sum.start(QStringLiteral("sha256sum"), {big});
            sum.waitForFinished(-1);
        }));
        if (sum.readAllStandardOutput().left(64) != ourHex) {
            fail(QStringLiteral("digests differ"));
        }
    }

    std::printf("\nmedians over %d repetitions (%.2f GiB, %d files):\n", reps, double(bytes) / double(1 << 30), files);
    const double goals[] = {0.77, 1.0};
    for (size_t i = 0; i < variants.size(); ++i) {
        const double o = median(variants[i].ours);
        const double s = median(variants[i].shell);
        std::printf("  %-18s ours %6.2f s  shell %6.2f s  ratio %.2f  (goal <= %.2f: %s)\n", variants[i].name, o, s,
                    o / s, goals[i], o / s <= goals[i] ? "met" : "MISSED");
        if (!variants[i].shellSameEnd.empty()) {
            const double e = median(variants[i].shellSameEnd);
            std::printf("  %-18s shell with sha256sum of the packed file and rm -rf payload/: %6.2f s  ratio %.2f\n",
                        "", e, o / e);
        }
    }
    const double o = median(oursDigest);
    const double s = median(shellDigest);
    std::printf("  %-18s ours %6.2f s  sha256sum %6.2f s  speed-up %.2fx  (goal >= 2.5x: %s)\n", "digest of 1 GiB", o,
                s, s / o, s / o >= 2.5 ? "met" : "MISSED");
    std::printf("load average at end: %s\n", loadAverage().constData());
    return g_failed ? 1 : 0;
}
