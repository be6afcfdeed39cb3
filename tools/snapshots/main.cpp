// brisko-snapshots OUTPUT_FOLDER [--only NAME]…
// brisko-snapshots --smoke
//
// Renders every registered screen with fixture data to PNG files, in the
// light and the dark palette, at scale 1 and 2, for review. Each scale runs
// in its own child process: the scale factor is fixed when the GUI starts.
// --smoke renders into a temporary folder and checks every file.
#include "SnapshotContext.h"
#include "SnapshotScreen.h"

#include "BriskoStyle.h"
#include "Theme.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {
struct Options
{
    QString output;
    QStringList only;
    int scale = 0;
    bool smoke = false;
};

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QStringLiteral("--only") && i + 1 < arguments.size())
            options.only.append(arguments[++i]);
        else if (a == QStringLiteral("--scale") && i + 1 < arguments.size())
            options.scale = arguments[++i].toInt();
        else if (a == QStringLiteral("--smoke"))
            options.smoke = true;
        else
            options.output = a;
    }
    return options;
}

QString fileName(const QString& screen, bool dark, int scale)
{
    return screen + (dark ? QStringLiteral("-dark@") : QStringLiteral("-light@")) + QString::number(scale)
           + QStringLiteral("x.png");
}

// The child: one scale, every screen, both palettes.
int render(const Options& options, int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(new BriskoStyle);
    QDir().mkpath(options.output);
    int failures = 0;
    for (const SnapshotScreen& screen : snapshotScreens()) {
        if (!options.only.isEmpty() && !options.only.contains(screen.name))
            continue;
        for (bool dark : {false, true}) {
            QApplication::setPalette(dark ? Theme::darkPalette() : Theme::lightPalette());
            SnapshotContext context;
            std::unique_ptr<QWidget> widget(screen.make(context));
            widget->setAttribute(Qt::WA_DontShowOnScreen);
            widget->resize(screen.size);
            widget->show();
            // Let layouts and queued updates settle.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            QCoreApplication::processEvents();
            const QString path = QDir(options.output).filePath(fileName(screen.name, dark, options.scale));
            if (!widget->grab().save(path)) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(path));
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

int checkSmoke(const QString& folder)
{
    int failures = 0;
    int files = 0;
    for (const SnapshotScreen& screen : snapshotScreens()) {
        for (int scale : {1, 2}) {
            for (bool dark : {false, true}) {
                const QString path = QDir(folder).filePath(fileName(screen.name, dark, scale));
                const QImage image(path);
                ++files;
                // Widgets of a fixed height keep it; the width is always the one asked for.
                if (image.isNull() || image.width() != screen.size.width() * scale || image.height() < scale) {
                    std::fprintf(stderr, "missing or wrong size: %s\n", qPrintable(path));
                    ++failures;
                }
            }
        }
    }
    std::printf("%d snapshot files checked, %d bad\n", files, failures);
    return failures == 0 ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    Options options = parse(arguments);
    if (options.scale > 0)
        return render(options, argc, argv);

    QCoreApplication app(argc, argv);
    QTemporaryDir smokeFolder;
    if (options.smoke)
        options.output = smokeFolder.path();
    if (options.output.isEmpty()) {
        std::fprintf(stderr, "usage: brisko-snapshots OUTPUT_FOLDER [--only NAME]… | --smoke\n");
        return 2;
    }
    for (int scale : {1, 2}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
        if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!env.contains(QStringLiteral("BRISKO_OFFLINE")))
            env.insert(QStringLiteral("BRISKO_OFFLINE"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QStringList arguments{options.output, QStringLiteral("--scale"), QString::number(scale)};
        for (const QString& name : std::as_const(options.only))
            arguments << QStringLiteral("--only") << name;
        child.start(QCoreApplication::applicationFilePath(), arguments);
        if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
            std::fprintf(stderr, "rendering at scale %d failed\n", scale);
            return 1;
        }
    }
    if (options.smoke)
        return checkSmoke(options.output);
    std::printf("snapshots written to %s\n", qPrintable(QDir(options.output).absolutePath()));
    return 0;
}
