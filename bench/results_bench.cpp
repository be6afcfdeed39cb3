// Results table benchmark: 100,000 scan results published into the
// application state and shown by the results section, against a plain
// QTableView over a minimal model of the same rows (what Qt itself costs).
//
// Measures, each repetition: publishing the results up to the first complete
// paint of the section (model reset, filter, sort by size, toolbar), scrolling
// one page with its repaint, and the growth of the resident memory from the
// section showing nothing to the section showing every row. Medians over the
// repetitions; the offscreen platform, so no window system's timing enters.

#include "BriskoStyle.h"
#include "ScanResultsView.h"
#include "Theme.h"
#include "WindowServices.h"
#include "app/AppEnvironment.h"
#include "app/AppState.h"
#include "app/DiscardingSinks.h"
#include "platform/PlatformFileSystem.h"
#include "platform/PlatformVolumeSource.h"
#include "platform/PlatformWorkspace.h"
#include "platform/SettingsDefaultsStore.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

// The state with the publishers the scan uses, so rows arrive exactly as a
// scan's results do.
class BenchState : public AppState
{
public:
    using AppState::AppState;
    void publish(const ScanItemList& items)
    {
        setLastScanCategories({ScanCategory::largeLooseFiles});
        setScanItems(items);
    }
};

// Qt's own floor: the same rows and columns, texts made on request.
class PlainModel : public QAbstractTableModel
{
public:
    void setItems(const ScanItemList& items)
    {
        beginResetModel();
        m_items = items;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : int(m_items.size()); }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 5; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        const ScanItem& item = m_items.at(index.row());
        switch (index.column()) {
        case 0:
            return item.name;
        case 1:
            return QString::number(item.size);
        case 2:
            return item.detail.value_or(QString());
        case 3:
            return item.path.parent().toString();
        default:
            return {};
        }
    }

private:
    ScanItemList m_items;
};

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double elapsedMs(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

ScanItemList makeItems(int count, const QString& home)
{
    ScanItemList items;
    items.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString folder = home + QStringLiteral("/Загрузки/Папка %1").arg(i % 97);
        const QString name = QStringLiteral("Файл номер %1 с длинным именем.mkv").arg(i);
        items.append(ScanItem::make(FilePath::fromString(folder + u'/' + name), qint64(1000 + (i * 7919) % 5'000'000) * 1024,
                                    ScanCategory::largeLooseFiles, false, i % 3 == 0,
                                    QStringLiteral("Изменён %1 дней назад · не открывался с прошлого года").arg(i % 400)));
    }
    return items;
}

struct Figures
{
    std::vector<double> firstPaint;
    std::vector<double> pageScroll;
    std::vector<double> growthMB;
};

// Shows the rows, paints, scrolls pages; one repetition.
template<typename Publish, typename Clear>
void measure(QWidget* shown, QTableView* table, Publish publish, Clear clear, int pages, Figures* figures)
{
    clear();
    shown->repaint();
    const qint64 before = residentBytes();
    QElapsedTimer timer;
    timer.start();
    publish();
    shown->repaint();
    figures->firstPaint.push_back(elapsedMs(timer));
    QScrollBar* bar = table->verticalScrollBar();
    for (int page = 0; page < pages; ++page) {
        timer.restart();
        bar->setValue(bar->value() + bar->pageStep());
        table->viewport()->repaint();
        figures->pageScroll.push_back(elapsedMs(timer));
    }
    figures->growthMB.push_back(double(residentBytes() - before) / (1024.0 * 1024.0));
    bar->setValue(0);
}

void print(const char* name, const Figures& ours, const Figures& plain, double goal, const char* unit,
           std::vector<double> Figures::*field)
{
    const double a = median(ours.*field);
    const double b = median(plain.*field);
    std::printf("%-34s %9.1f %s   plain table %8.1f %s   ratio %5.2f   goal < %.0f %s: %s\n", name, a, unit, b, unit,
                b > 0 ? a / b : 0.0, goal, unit, a < goal ? "met" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("BRISKO_OFFLINE", "1");
    QApplication app(argc, argv);
    QApplication::setStyle(new BriskoStyle);
    QApplication::setPalette(Theme::lightPalette());

    QCommandLineParser parser;
    parser.addHelpOption();
    QCommandLineOption rowsOption(QStringLiteral("rows"), QStringLiteral("Rows to show."), QStringLiteral("N"),
                                  QStringLiteral("100000"));
    QCommandLineOption repsOption(QStringLiteral("reps"), QStringLiteral("Repetitions."), QStringLiteral("N"),
                                  QStringLiteral("5"));
    parser.addOptions({rowsOption, repsOption});
    parser.process(app);
    const int rows = std::max(1, parser.value(rowsOption).toInt());
    const int reps = std::max(1, parser.value(repsOption).toInt());
    constexpr int pages = 40;

    QTemporaryDir work;
    AppEnvironment env;
    env.home = FilePath::fromString(work.path());
    env.fileSystem = std::make_shared<PlatformFileSystem>();
    env.defaults = std::make_shared<SettingsDefaultsStore>(work.filePath(QStringLiteral("defaults.ini")),
                                                           QSettings::IniFormat);
    env.clock = std::make_shared<SystemClock>();
    env.volumes = std::make_shared<PlatformVolumeSource>();
    env.workspace = std::make_shared<PlatformWorkspace>();
    env.usage = std::make_shared<DiscardingUsageSink>();
    env.errors = std::make_shared<DiscardingErrorSink>();
    BenchState state(env);

    const ScanItemList items = makeItems(rows, work.path());

    WindowServices services;
    services.appState = &state;
    ScanResultsView view(services);
    view.resize(Theme::windowWidth - Theme::sidebarWidth, Theme::windowHeight - 60);
    view.show();

    PlainModel plainModel;
    QTableView plain;
    plain.setModel(&plainModel);
    plain.verticalHeader()->hide();
    plain.verticalHeader()->setDefaultSectionSize(view.table()->verticalHeader()->defaultSectionSize());
    plain.resize(view.table()->size());
    plain.show();
    QApplication::processEvents();

    Figures ours;
    Figures reference;
    for (int rep = 0; rep < reps; ++rep) {
        measure(&view, view.table(), [&] { state.publish(items); }, [&] { state.publish({}); }, pages, &ours);
        measure(&plain, &plain, [&] { plainModel.setItems(items); }, [&] { plainModel.setItems({}); }, pages,
                &reference);
    }
    std::printf("results table, %d rows, %d repetitions, median\n", rows, reps);
    print("publish + first paint", ours, reference, 300, "ms", &Figures::firstPaint);
    print("scroll one page + repaint", ours, reference, 16, "ms", &Figures::pageScroll);
    print("resident memory growth", ours, reference, 100, "MB", &Figures::growthMB);
    const bool shownAll = view.table()->model()->rowCount() == rows;
    if (!shownAll)
        std::printf("wrong: the table shows %d rows\n", view.table()->model()->rowCount());
    return shownAll ? 0 : 1;
}
