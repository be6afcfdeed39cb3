#include "SnapshotContext.h"

#include "TestValues.h"

#include "app/AppState.h"
#include "server/AdService.h"

#include <QFile>
#include <QCoreApplication>
#include <QEventLoop>


SnapshotContext::SnapshotContext()
{
    populateHome();
    m_services.confirmer = &m_confirmer;
    m_services.workspace = m_fixture.workspace.get();
}

SnapshotContext::~SnapshotContext() = default;

void SnapshotContext::populateHome()
{
    AppFixture& f = m_fixture;
    const QDateTime now = QDateTime::currentDateTime();
    const auto aged = [&](const QString& relative, qint64 bytes, int days) {
        TempHome::setModified(f.sized(relative, bytes), now.addDays(-days));
    };
    aged(QStringLiteral("Downloads/Отчёт за квартал.pdf"), 180 * MiB, 3);
    aged(QStringLiteral("Downloads/фильм — финал.mkv"), 2 * GiB + 300 * MiB, 12);
    aged(QStringLiteral("Downloads/фото_отпуск.zip"), 640 * MiB, 40);
    aged(QStringLiteral("Downloads/заметки.txt"), 12 * 1024, 1);
    aged(QStringLiteral("Downloads/Установщик редактора.dmg"), 420 * MiB, 120);
    const FilePath odd = f.home.makeFileNative(QByteArray("Downloads/\xff\xfe-\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5.bin"), 1);
    f.fs->setAllocatedSize(odd.native(), 75 * MiB);
    f.sized(QStringLiteral("Library/Application Support/Cursor/snapshots/снимок-1"), 900 * MiB);
    f.sized(QStringLiteral("Library/Caches/ru.keepcoder.Telegram/media/кэш.bin"), 1 * GiB + 200 * MiB);
    f.sized(QStringLiteral("Library/Application Support/ONEME/media/cache.db"), 260 * MiB);

    AppFixture::FixedVolumes& volumes = *f.volumes;
    volumes.volumes = {
        {QStringLiteral("/"), QStringLiteral("Macintosh HD"), QStringLiteral("Macintosh HD"), 494 * GiB, 96 * GiB},
        {QStringLiteral("/Volumes/Архив"), QStringLiteral("Архив"), QStringLiteral("Архив"), 1863 * GiB, 1201 * GiB},
        {QStringLiteral("/Volumes/Флешка"), QStringLiteral("Флешка"), QStringLiteral("Флешка"), 58 * GiB, 3 * GiB},
    };
}

AppState& SnapshotContext::state()
{
    if (!m_state) {
        if (m_noVolumes)
            m_fixture.volumes->volumes.clear();
        m_state = std::make_unique<AppState>(m_fixture.environment());
        AppSettings settings = m_state->settings();
        settings.archivePath = QStringLiteral("/Volumes/Архив/Brisko Archive");
        m_state->setSettings(settings);
        m_services.appState = m_state.get();
    }
    return *m_state;
}

AdService& SnapshotContext::ads()
{
    if (!m_ads) {
        m_ads = std::make_unique<AdService>(nullptr, m_fixture.store, m_pictures.path());
        m_services.ads = m_ads.get();
    }
    return *m_ads;
}

void SnapshotContext::scan(ScanCategory category)
{
    waitFor(state().runScan({category}));
}

void SnapshotContext::map()
{
    waitFor(state().runUsageScan());
}

void SnapshotContext::waitFor(const QFuture<void>& done)
{
    // The result is published through the event loop.
    while (!done.isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
