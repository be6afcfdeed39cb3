#include "BriskoTest.h"
#include "TestValues.h"
#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "TempHome.h"

#include "model/AppSettings.h"
#include "scan/AppVideoTypes.h"
#include "scan/DiskScanner.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Volumes as a test lists them; nothing at all when unset.
class FakeVolumeSource : public VolumeSource
{
public:
    std::optional<QList<VolumeFacts>> mountedVolumes() const override { return volumes; }

    std::optional<QList<VolumeFacts>> volumes;
};

// "name | detail" of each row ("-" for no detail), in the scan's order or sorted.
QStringList describe(const ScanItemList& items, bool sorted = false)
{
    QStringList lines;
    for (const ScanItem& item : items) {
        lines.append(item.name + u" | "_s + item.detail.value_or(u"-"_s));
    }
    if (sorted) {
        lines.sort();
    }
    return lines;
}

const ScanItem* find(const ScanItemList& items, const QString& name)
{
    const auto it =
        std::find_if(items.cbegin(), items.cend(), [&](const ScanItem& item) { return item.name == name; });
    return it == items.cend() ? nullptr : &*it;
}

} // namespace

class TestDiskScanner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void largeFolders();
    void archiveCandidates();
    void downloadsInboxListsEveryLooseFile();
    void largeLooseFilesAndOldInstallers();
    void plusVideosByName();
    void plusVideosByType();
    void appCaches();
    void systemJunk();
    void systemJunkFallsBackToWholeCaches();
    void progressReportsAndAnEmptyHome();
    void freedesktopHome_data();
    void freedesktopHome();
    void disabledUserFoldersAreNotScanned();
    void usableVolumesFullestFirstWithNamesAndFreshIds();

private:
    ScanItemList scan(ScanCategory category) { return m_scanner->scan(m_settings, {category}, {}); }
    // Makes a small real file and has the file system report the given allocated size for it.
    QString sized(const QString& relative, qint64 bytes, std::optional<QDateTime> modified = std::nullopt)
    {
        const QString path = m_home->makeFile(relative, 1, modified);
        m_fs->setAllocatedSize(QFile::encodeName(path), bytes);
        return path;
    }
    void writeUserDirs(const QByteArray& text)
    {
        m_home->makeDir(u".config"_s);
        QVERIFY(writeAll(m_home->filePath(u".config/user-dirs.dirs"_s), text));
    }

    std::unique_ptr<TempHome> m_home;
    std::shared_ptr<FaultInjectingFileSystem> m_fs;
    std::shared_ptr<FakeClock> m_clock;
    std::unique_ptr<DiskScanner> m_scanner;
    AppSettings m_settings;
};

void TestDiskScanner::init()
{
    m_home = std::make_unique<TempHome>();
    m_fs = std::make_shared<FaultInjectingFileSystem>();
    m_clock = std::make_shared<FakeClock>(QDateTime::currentDateTime());
    m_scanner = std::make_unique<DiskScanner>(m_fs, HomeLayout::original(m_home->home()), m_clock, nullptr,
                                              AppVideoTypes::extensions());
    m_settings = AppSettings::defaults(m_home->path());
}

void TestDiskScanner::largeFolders()
{
    m_settings.largeFolderThresholdGB = 1.0;
    sized(u"Downloads/Ровно/a.bin"_s, GiB / 2);
    sized(u"Downloads/Ровно/b/c.bin"_s, GiB / 2);
    sized(u"Downloads/Почти/a.bin"_s, GiB - 1);
    sized(u"Desktop/Проект/big.bin"_s, 3 * GiB);
    sized(u"Desktop/loose.bin"_s, 3 * GiB);
    sized(u"Games/data.pak"_s, 2 * GiB);
    for (const char* skipped : {"Documents", "Movies", "Pictures", "Music", "Library", ".hidden", "node_modules"}) {
        sized(QLatin1String(skipped) + u"/huge.bin"_s, 50 * GiB);
    }
    // Inside a listed folder, excluded names still count nothing.
    sized(u"Games/node_modules/x.bin"_s, 50 * GiB);
    // Beyond the depth limit (6) nothing is counted.
    sized(u"Deep/1/2/3/4/5/6/too-deep.bin"_s, 5 * GiB);

    const ScanItemList rows = scan(ScanCategory::largeFolders);
    for (const ScanItem& row : rows) {
        QVERIFY(row.isDirectory && row.isSelected && row.category == ScanCategory::largeFolders);
    }
    // Discovery order: Desktop, Downloads, then home.
    QCOMPARE(describe(rows),
             (QStringList{u"Проект | Desktop"_s, u"Ровно | Downloads"_s,
                          u"Games | "_s + m_home->home().fileName()}));
    QCOMPARE(rows.at(1).size, GiB);
    QCOMPARE(rows.at(2).size, 2 * GiB);

    // Resource-saving mode walks less deep.
    sized(u"Mid/1/2/3/4/five.bin"_s, 2 * GiB);
    QVERIFY(find(scan(ScanCategory::largeFolders), u"Mid"_s));
    m_settings.lowPowerMode = true;
    QVERIFY(!find(scan(ScanCategory::largeFolders), u"Mid"_s));
}

void TestDiskScanner::archiveCandidates()
{
    for (const QString& name : {u"Видео РЕЛИЗ"_s, u"Заказ_релиз_финал"_s, u"Свежий"_s, u"Старый"_s}) {
        sized(u"Desktop/"_s + name + u"/a.bin"_s, 12 * GiB);
        m_home->makeDir(u"Desktop/"_s + name,
                        m_clock->now().addDays(name == u"Старый"_s ? -70 : -1).addSecs(-60));
    }
    sized(u"Desktop/Маленький готово/a.bin"_s, 9 * GiB);
    sized(u"Desktop/file ГОТОВО.bin"_s, 20 * GiB);

    const ScanItemList rows = scan(ScanCategory::archiveCandidates);
    QCOMPARE(describe(rows, true),
             (QStringList{u"Видео РЕЛИЗ | ключевое слово в названии"_s,
                          u"Заказ_релиз_финал | ключевое слово в названии"_s,
                          u"Старый | не изменялась 70 дн."_s}));
    QCOMPARE(find(rows, u"Старый"_s)->size, 12 * GiB);
}

void TestDiskScanner::downloadsInboxListsEveryLooseFile()
{
    const QDateTime now = m_clock->now();
    m_home->makeFile(u"Downloads/отчёт.pdf"_s, 5000, now.addDays(-3).addSecs(-100));
    m_home->makeFile(u"Downloads/empty.txt"_s, 0, now.addSecs(-2 * 3600 - 5));
    m_home->makeFile(u"Downloads/.hidden"_s, 10);
    m_home->makeDir(u"Downloads/folder"_s);
    const FilePath odd = m_home->makeFileNative(QByteArray("Downloads/\xff\xfe.bin"), 10);

    const ScanItemList rows = scan(ScanCategory::downloadsInbox);
    QCOMPARE(rows.size(), 3);
    const ScanItem* report = find(rows, u"отчёт.pdf"_s);
    QVERIFY(report && report->isSelected && !report->isDirectory);
    QCOMPARE(report->detail, u"3 дня назад"_s);
    QCOMPARE(find(rows, u"empty.txt"_s)->detail, u"2 часа назад"_s);
    QCOMPARE(find(rows, u"empty.txt"_s)->size, 0);
    // The exact bytes of the name reach the file; its text would not.
    QVERIFY(std::any_of(rows.cbegin(), rows.cend(), [&](const ScanItem& row) { return row.path == odd; }));
    QVERIFY(!QFile::exists(odd.toString()));
}

void TestDiskScanner::largeLooseFilesAndOldInstallers()
{
    const QDateTime now = m_clock->now();
    sized(u"Downloads/exact.zip"_s, 50 * MiB);
    sized(u"Downloads/less.zip"_s, 50 * MiB - 1);
    sized(u"Downloads/Установщик.DMG"_s, 2 * GiB, now.addDays(-31));
    sized(u"Downloads/fresh.dmg"_s, 2 * GiB, now.addDays(-29));
    sized(u"Downloads/tool.pkg"_s, 100, now.addDays(-400));
    sized(u"Downloads/notes.txt"_s, 100, now.addDays(-400));
    m_home->makeDir(u"Downloads/folder.dmg"_s, now.addDays(-400));

    QCOMPARE(describe(scan(ScanCategory::largeLooseFiles), true),
             (QStringList{u"exact.zip | -"_s, u"fresh.dmg | -"_s, u"Установщик.DMG | -"_s}));
    const ScanItemList rows = scan(ScanCategory::oldInstallers);
    QCOMPARE(describe(rows, true),
             (QStringList{u"tool.pkg | 400 дн. назад"_s, u"Установщик.DMG | 31 дн. назад"_s}));
    QCOMPARE(find(rows, u"Установщик.DMG"_s)->size, 2 * GiB);
}

void TestDiskScanner::plusVideosByName()
{
    for (const QString& path : {u"Movies/Наш ОТПУСК 2023.MP4"_s, u"Movies/deep/1/2/3/4/5/отпуск-deep.mov"_s,
                                u"Movies/deep/1/2/3/4/5/6/отпуск-too-deep.mov"_s, u"Desktop/отпуск.txt"_s,
                                u"Library/отпуск.mov"_s, u".hidden/отпуск.mov"_s, u"Desktop/work.mov"_s}) {
        m_home->makeFile(path, 3000);
    }
    // No text: nothing found, and the disk is not even walked.
    const int opensBefore = m_fs->openCount();
    QVERIFY(scan(ScanCategory::plusVideos).isEmpty());
    QCOMPARE(m_fs->openCount(), opensBefore);

    m_settings.videoNamePrefix = u"  отпуск "_s;
    m_settings.plusVideoThresholdMB = 0.001;
    const ScanItemList rows = scan(ScanCategory::plusVideos);
    for (const ScanItem& row : rows) {
        QVERIFY(!row.isDirectory && row.isSelected);
    }
    QCOMPARE(describe(rows, true),
             (QStringList{u"Наш ОТПУСК 2023.MP4 | содержит «отпуск»"_s,
                          u"отпуск-deep.mov | содержит «отпуск»"_s}));
    // The threshold applies in this mode too.
    m_settings.plusVideoThresholdMB = 1;
    QVERIFY(scan(ScanCategory::plusVideos).isEmpty());

    // Resource-saving mode: four folders, five levels.
    m_settings.plusVideoThresholdMB = 0;
    m_settings.lowPowerMode = true;
    m_home->makeFile(u"Other/отпуск.mov"_s, 10);
    QCOMPARE(describe(scan(ScanCategory::plusVideos)),
             QStringList{u"Наш ОТПУСК 2023.MP4 | содержит «отпуск»"_s});
}

void TestDiskScanner::plusVideosByType()
{
    m_settings.videoSearchMode = VideoSearchMode::fileType;
    m_settings.plusVideoThresholdMB = 50;
    sized(u"Videos/a.MKV"_s, 50 * MiB);
    sized(u"Videos/b.webm"_s, 50 * MiB - 1);
    sized(u"Videos/c.mp3"_s, GiB);
    sized(u"Videos/no-extension"_s, GiB);
    const ScanItemList rows = scan(ScanCategory::plusVideos);
    QCOMPARE(describe(rows), QStringList{u"a.MKV | .mkv"_s});
    QCOMPARE(rows.first().size, 50 * MiB);
    QVERIFY(m_scanner->matchesVideoSearch(u"x.3gp"_s, FilePath("/x.3gp"), m_settings));
    QVERIFY(!m_scanner->matchesVideoSearch(u".mp4"_s, FilePath("/.mp4"), m_settings));
}

void TestDiskScanner::appCaches()
{
    sized(u"Library/Application Support/Cursor/snapshots/a"_s, 10485760);
    sized(u"Library/Caches/ru.keepcoder.Telegram/media/b"_s, 20973824);
    sized(u"Library/Application Support/ONEME/c"_s, 20973825);
    // Depth 6 applies even below Library; node_modules stays excluded.
    sized(u"Library/Application Support/ONEME/node_modules/x"_s, GiB);

    const ScanItemList rows = scan(ScanCategory::appCaches);
    // Order of the fixed table: ONEME before Telegram; above the warning size the detail says so.
    QCOMPARE(
        describe(rows),
        (QStringList{
            u"ONEME | ONEME ⚠️ много места! — Настройки ONEME → очистить медиа-кэш"_s,
            u"ru.keepcoder.Telegram | Telegram — Telegram → Settings → Data → Clear cache"_s}));
    QVERIFY(!rows.last().isSelected && rows.last().isDirectory);
}

void TestDiskScanner::systemJunk()
{
    sized(u"Library/Logs/App/log.txt"_s, 6 * MiB);
    sized(u"Library/Caches/com.example.big/blob"_s, 6 * MiB);
    sized(u"Library/Caches/small/blob"_s, 5 * MiB);
    sized(u"Library/Caches/loose-file"_s, 50 * MiB);
    m_home->makeDir(u".Trash"_s);
    const QStringList expected{
        u"Logs | Логи пользователя — очистка вручную или через macOS"_s,
        u"com.example.big | Кэш «com.example.big» — безопасно удалять, приложение пересоздаст"_s};
    ScanItemList rows = scan(ScanCategory::systemJunk);
    QCOMPARE(describe(rows), expected);
    for (const ScanItem& row : rows) {
        QVERIFY(row.isDirectory && !row.isSelected);
    }
    // One byte in the Trash is enough for a row.
    sized(u".Trash/old"_s, 1);
    rows = scan(ScanCategory::systemJunk);
    QCOMPARE(describe(rows),
             expected + QStringList{u".Trash | Корзина — очистите через Finder или «Очистить корзину»"_s});
    QCOMPARE(rows.last().size, 1);
}

void TestDiskScanner::systemJunkFallsBackToWholeCaches()
{
    sized(u"Library/Caches/a/blob"_s, 3 * MiB);
    sized(u"Library/Caches/b/blob"_s, 3 * MiB);
    const ScanItemList rows = scan(ScanCategory::systemJunk);
    QCOMPARE(describe(rows), QStringList{u"Caches | Кэши пользователя — очистка вручную или через macOS"_s});
    QCOMPARE(rows.first().size, 6 * MiB);
    // An unlistable Caches folder gives no cache rows at all.
    m_fs->failOpen(QFile::encodeName(m_home->filePath(u"Library/Caches"_s)));
    QVERIFY(scan(ScanCategory::systemJunk).isEmpty());
}

void TestDiskScanner::progressReportsAndAnEmptyHome()
{
    QList<ScanProgress> reports;
    m_scanner->scan(m_settings, {ScanCategory::systemJunk, ScanCategory::downloadsInbox},
                    [&](const ScanProgress& p) { reports.append(p); });
    QCOMPARE(reports,
             (QList<ScanProgress>{{true, u"Downloads (файлы в корне)"_s, 0, 0.0},
                                  {true, u"Служебный мусор"_s, 0, 0.5},
                                  {false, u"Готово"_s, 0, 1.0}}));
    // A home with nothing in it: every rule returns nothing, none fails.
    m_settings.videoNamePrefix = u"x"_s;
    for (ScanCategory category : ScanCategories::allCategories()) {
        QVERIFY2(scan(category).isEmpty(), qPrintable(ScanCategories::rawValue(category)));
    }
}

// A Russian desktop: the user folders named by user-dirs.dirs, caches of
// browsers and tools, a Trash, an X session log and the user's journal.
// Each row: a category and the names it finds (with the detail where the
// layout decides it).
void TestDiskScanner::freedesktopHome_data()
{
    QTest::addColumn<int>("categoryValue");
    QTest::addColumn<QStringList>("expected");
    const auto row = [](const char* name, ScanCategory category, const QStringList& expected) {
        QTest::newRow(name) << int(category) << expected;
    };
    row("large folders", ScanCategory::largeFolders, {u"Проект РЕЛИЗ | Рабочий стол"_s, u"Игры | home"_s});
    row("archive candidates", ScanCategory::archiveCandidates,
        {u"Проект РЕЛИЗ | ключевое слово в названии"_s});
    row("downloads inbox", ScanCategory::downloadsInbox,
        {u"Большой фильм.mkv"_s, u"пакет.deb"_s, u"свежий.AppImage"_s});
    row("videos", ScanCategory::plusVideos, {u"Большой фильм.mkv"_s, u"Отпуск.mp4"_s});
    row("large loose files", ScanCategory::largeLooseFiles, {u"Большой фильм.mkv"_s});
    row("old installers", ScanCategory::oldInstallers, {u"пакет.deb | 60 дн. назад"_s});
    row("application caches", ScanCategory::appCaches,
        {u"google-chrome"_s, u"pip"_s, u"_cacache"_s, u"cache"_s});
    row("service junk", ScanCategory::systemJunk,
        {u".xsession-errors"_s, u"Trash"_s, u"google-chrome"_s, u"pip"_s, u"user-1000.journal"_s});
}

void TestDiskScanner::freedesktopHome()
{
    QFETCH(int, categoryValue);
    const ScanCategory category = ScanCategory(categoryValue);
    QFETCH(QStringList, expected);
    const QDateTime now = m_clock->now();
    writeUserDirs("XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\nXDG_DOWNLOAD_DIR=\"$HOME/Загрузки\"\n"
                  "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\nXDG_VIDEOS_DIR=\"$HOME/Видео\"\n");
    sized(u".cache/google-chrome/Default/Cache/data"_s, 300 * MiB);
    sized(u".cache/pip/http/wheel"_s, 30 * MiB);
    sized(u".cache/fontconfig/small"_s, MiB);
    sized(u".npm/_cacache/content-v2/blob"_s, 40 * MiB);
    sized(u".var/app/org.gimp.GIMP/cache/tiles"_s, 15 * MiB);
    sized(u"Загрузки/пакет.deb"_s, 2 * MiB, now.addDays(-60));
    sized(u"Загрузки/свежий.AppImage"_s, MiB, now.addDays(-2));
    sized(u"Загрузки/Большой фильм.mkv"_s, 60 * MiB);
    sized(u"Downloads/не та папка.deb"_s, MiB, now.addDays(-60));
    sized(u"Видео/Отпуск.mp4"_s, 60 * MiB);
    sized(u"Рабочий стол/Проект РЕЛИЗ/a.bin"_s, 12 * GiB);
    sized(u"Документы/архив.bin"_s, 50 * GiB);
    sized(u"Игры/data.pak"_s, 6 * GiB);
    sized(u".local/share/Trash/files/удалённое.txt"_s, 1);
    sized(u".local/share/Trash/info/удалённое.txt.trashinfo"_s, 1);
    sized(u".xsession-errors"_s, 6 * MiB);
    sized(u"journal/0123abcd/user-1000.journal"_s, 4 * MiB);
    sized(u"journal/0123abcd/user-1000@0005-0006.journal"_s, 3 * MiB);
    sized(u"journal/0123abcd/user-1001.journal"_s, 50 * MiB);
    sized(u"journal/0123abcd/system.journal"_s, 50 * MiB);

    const HomeLayout layout = HomeLayout::freedesktop(m_home->home(), QProcessEnvironment(),
                                                      {m_home->nativePath("journal")}, 1000);
    const DiskScanner scanner(m_fs, layout, m_clock, nullptr, AppVideoTypes::extensions());
    m_settings.videoSearchMode = VideoSearchMode::fileType;
    const bool named = category == ScanCategory::largeFolders || category == ScanCategory::archiveCandidates
        || category == ScanCategory::oldInstallers;
    QStringList found;
    for (const ScanItem& row : scanner.scan(m_settings, {category}, {})) {
        const QString detail = row.detail.value_or(QString()).replace(m_home->home().fileName(), u"home"_s);
        found.append(named ? row.name + u" | "_s + detail : row.name);
    }
    // Folder listings come in the kernel's order.
    if (category == ScanCategory::downloadsInbox || category == ScanCategory::plusVideos
        || category == ScanCategory::systemJunk) {
        found.sort();
    }
    QCOMPARE(found, expected);
}

void TestDiskScanner::disabledUserFoldersAreNotScanned()
{
    writeUserDirs("XDG_DOWNLOAD_DIR=\"$HOME\"\nXDG_DESKTOP_DIR=\"$HOME/\"\n");
    sized(u"Downloads/old.deb"_s, 60 * MiB, m_clock->now().addDays(-90));
    sized(u"Desktop/Проект РЕЛИЗ/a.bin"_s, 12 * GiB);
    sized(u"loose.deb"_s, 60 * MiB, m_clock->now().addDays(-90));
    const DiskScanner scanner(m_fs, HomeLayout::freedesktop(m_home->home(), QProcessEnvironment()), m_clock, nullptr,
                              AppVideoTypes::extensions());
    for (ScanCategory category : {ScanCategory::downloadsInbox, ScanCategory::largeLooseFiles,
                                  ScanCategory::oldInstallers, ScanCategory::archiveCandidates}) {
        QVERIFY2(scanner.scan(m_settings, {category}, {}).isEmpty(), qPrintable(ScanCategories::rawValue(category)));
    }
}

void TestDiskScanner::usableVolumesFullestFirstWithNamesAndFreshIds()
{
    const auto disksOf = [&](VolumeSourcePtr volumes) {
        return DiskScanner(m_fs, HomeLayout::original(m_home->home()), m_clock, std::move(volumes), {})
            .diskInfo();
    };
    // No volume list at all, or an empty one: no disks.
    auto source = std::make_shared<FakeVolumeSource>();
    QVERIFY(disksOf(source).isEmpty() && disksOf(nullptr).isEmpty());
    source->volumes = QList<VolumeFacts>{};
    QVERIFY(disksOf(source).isEmpty());

    constexpr qint64 GB = 1'000'000'000;
    source->volumes = QList<VolumeFacts>{
        {u"/Volumes/NoTotal"_s, {}, {}, std::nullopt, 5 * GiB},
        {u"/Volumes/NoFree"_s, {}, {}, 10 * GiB, std::nullopt},
        {u"/Volumes/Negative"_s, {}, {}, -10 * GiB, 1 * GiB},
        // A small disk image drops out; one GiB is enough.
        {u"/Volumes/JustUnder"_s, {}, {}, GiB - 1, 0},
        {u"/Volumes/disk1"_s, u"disk1"_s, u"Macintosh HD"_s, GiB, GiB / 4},
        {u"/"_s, u"Резерв"_s, QString(), 500 * GB, 200 * GB},
        // Equal use keeps the platform's order.
        {u"/media/анна/Флешка"_s, {}, {}, 100 * GiB, 90 * GiB},
        {u"/media/анна/Пусто/"_s, QString(), QString(), 50 * GiB, 40 * GiB},
    };
    const DiskInfoList disks = disksOf(source);
    QStringList described;
    for (const DiskInfo& disk : disks) {
        described.append(disk.path + u'|' + disk.name);
        QVERIFY(!disk.id.isNull());
    }
    QCOMPARE(described,
             (QStringList{u"/|Резерв"_s, u"/media/анна/Флешка|Флешка"_s, u"/media/анна/Пусто/|Пусто"_s,
                          u"/Volumes/disk1|Macintosh HD"_s}));
    QCOMPARE((QList<qint64>{disks.first().total, disks.first().free, disks.first().used}),
             (QList<qint64>{500 * GB, 200 * GB, 300 * GB}));
    // Every read gives fresh ids; apart from them, it describes the same volumes.
    DiskInfoList again = disksOf(source);
    QCOMPARE(again.size(), disks.size());
    QSet<QUuid> ids;
    for (qsizetype i = 0; i < disks.size(); ++i) {
        ids << disks.at(i).id << again.at(i).id;
        again[i].id = disks.at(i).id;
    }
    QCOMPARE(ids.size(), 2 * disks.size());
    QCOMPARE(again, disks);
}

BRISKO_TEST(TestDiskScanner)
#include "tst_DiskScanner.moc"
