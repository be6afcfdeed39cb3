#include "BriskoTest.h"
#include "RecordingSinks.h"
#include "ServerTestBed.h"
#include "UpdateServerBed.h"

#include "platform/PlatformFileSystem.h"
#include "update/UpdateError.h"
#include "update/UpdateService.h"
#include "update/UpdateVersionOrder.h"

#include <QSignalSpy>
#include <QtTest>

// The update service against a loopback HTTPS server with a certificate made
// for the test: the check and its comparisons, every source that must never
// be asked, the verified download with its caps, and the whole road from the
// check to the relaunch into the new build.
class tst_UpdateService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<UpdateServerBed>();
        QVERIFY(m_bed->isValid());
        m_errors = std::make_shared<RecordingErrorSink>();
    }
    void cleanup() { m_bed.reset(); }
    void versionOrder_data();
    void versionOrder();
    void offers_data();
    void offers();
    void refusedSourcesAreNeverAsked_data();
    void refusedSourcesAreNeverAsked();
    void checkFailures_data();
    void checkFailures();
    void download_data();
    void download();
    void outsideThePrefixTellsHowToUpdate();
    void installsAndRelaunchesIntoTheNewBuild();

private:
    std::unique_ptr<UpdateService> makeService(std::shared_ptr<UpdateInstaller> installer = {})
    {
        return std::make_unique<UpdateService>(&m_bed->transport, m_errors,
                                               installer ? installer : m_bed->installed.installer(),
                                               m_bed->installed.deployment());
    }
    bool check(UpdateService& service) { return ServerTestBed::await(service.check(m_bed->versionUrl())); }
    void enqueueOffer(const QString& version, const QString& build, const std::optional<QString>& sha)
    {
        const QByteArray file = UpdateServerBed::versionFile(version, build, m_bed->imageUrl(), sha);
        m_bed->server.enqueue(UpdateServerBed::versionPath(), ScriptedResponse::json(200, file));
    }
    QString prefix(const char* path) const { return QString::fromUtf8(m_bed->installed.prefix() + path); }
    QString current() const { return QFileInfo(prefix("/current")).symLinkTarget(); }

    std::unique_ptr<UpdateServerBed> m_bed;
    std::shared_ptr<RecordingErrorSink> m_errors;
};

void tst_UpdateService::versionOrder_data()
{
    QTest::addColumn<QString>("remoteVersion");
    QTest::addColumn<QString>("remoteBuild");
    QTest::addColumn<QString>("localVersion");
    QTest::addColumn<QString>("localBuild");
    QTest::addColumn<bool>("newer");
    QTest::newRow("higher build wins over the versions") << "0.9" << "120" << "5.0" << "119" << true;
    QTest::newRow("lower build never") << "9.9.9" << "118" << "1.0" << "119" << false;
    QTest::newRow("equal builds, 1.10.0 after 1.9.5") << "1.10.0" << "7" << "1.9.5" << "7" << true;
    QTest::newRow("equal builds, equal versions") << "1.2" << "7" << "1.2" << "7" << false;
    QTest::newRow("leading zeros count as the number") << "1.02" << "7" << "1.2" << "7" << false;
    QTest::newRow("signed build") << "1.0" << "+12" << "1.0" << "11" << true;
    QTest::newRow("text build counts as 0") << "2.0" << "12a" << "1.0" << "0" << true;
    QTest::newRow("overflowing build is 0") << "1.0" << "99999999999999999999" << "1.0" << "1" << false;
}

void tst_UpdateService::versionOrder()
{
    QFETCH(QString, remoteVersion);
    QFETCH(QString, remoteBuild);
    QFETCH(QString, localVersion);
    QFETCH(QString, localBuild);
    QFETCH(bool, newer);
    QCOMPARE(UpdateVersionOrder::isNewer(remoteVersion, remoteBuild, localVersion, localBuild), newer);
}

void tst_UpdateService::offers_data()
{
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("build");
    QTest::addColumn<bool>("offered");
    // The order itself is versionOrder's table.
    QTest::newRow("newer") << "0.10.0" << "1" << true;
    QTest::newRow("the same") << "0.1.0" << "1" << false;
}

void tst_UpdateService::offers()
{
    QFETCH(QString, version);
    QFETCH(QString, build);
    QFETCH(bool, offered);
    enqueueOffer(version, build, QStringLiteral("ab"));
    auto service = makeService();
    QSignalSpy checking(service.get(), &UpdateService::isCheckingChanged);
    const QFuture<void> check = service->check(m_bed->versionUrl());
    QVERIFY(service->isChecking());
    QVERIFY(ServerTestBed::await(check));
    QVERIFY(!service->isChecking());
    QCOMPARE(checking.size(), 2);
    QCOMPARE(service->lastCheckError(), std::nullopt);
    const AppUpdateInfo expected{version, build, QUrl(m_bed->imageUrl()), QStringLiteral("Исправления"),
                                 QStringLiteral("ab")};
    QCOMPARE(service->availableUpdate(), offered ? std::optional(expected) : std::nullopt);
    QCOMPARE(m_bed->server.requests(UpdateServerBed::versionPath()).value(0).method, QByteArray("GET"));
    QVERIFY(m_errors->reports.isEmpty());
}

void tst_UpdateService::refusedSourcesAreNeverAsked_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::newRow("plain http") << "http" << "localhost";
    QTest::newRow("foreign host") << "https" << "127.0.0.1";
    QTest::newRow("sub-domain of an allowed host") << "https" << "evil.localhost";
    QTest::newRow("user name in the address") << "https" << "maker@localhost";
    QTest::newRow("no scheme") << "" << "localhost";
}

void tst_UpdateService::refusedSourcesAreNeverAsked()
{
    QFETCH(QString, scheme);
    QFETCH(QString, host);
    auto service = makeService();
    const QString url = (scheme.isEmpty() ? QString() : scheme + QStringLiteral("://"))
        + QStringLiteral("%1:%2%3").arg(host).arg(m_bed->server.port()).arg(UpdateServerBed::versionPath());
    QVERIFY(ServerTestBed::await(service->check(url)));
    QCOMPARE(service->lastCheckError(), std::optional<QString>(UpdateError::untrustedSource));
    QVERIFY(!service->isChecking());
    QCOMPARE(m_errors->reports.size(), 1);
    QCOMPARE(m_errors->reports.first().feature, AppFeature::update);
    // A request sent on the way would have reached the server before the
    // next check through the same transport is answered.
    QVERIFY(check(*service));
    QCOMPARE(m_bed->server.requests().size(), 1);

    // An address that does not parse changes nothing at all.
    auto untouched = makeService();
    QVERIFY(ServerTestBed::await(untouched->check(QStringLiteral("not a url"))));
    QCOMPARE(untouched->lastCheckError(), std::nullopt);
}

void tst_UpdateService::checkFailures_data()
{
    QTest::addColumn<ScriptedResponse>("answer");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("phase");
    const auto redirect = [](const char* to) { return ScriptedResponse::withHeader(302, "Location", to); };
    const auto offering = [](const char* version, const char* url) {
        const QByteArray file = UpdateServerBed::versionFile(QLatin1String(version), QStringLiteral("9"),
                                                             QLatin1String(url), QStringLiteral("ab"));
        return ScriptedResponse::json(200, file);
    };
    const QString untrusted = UpdateError::untrustedDownload;
    const QString unavailable = UpdateError::serverUnavailable;
    QTest::newRow("server error") << ScriptedResponse::json(500, "{}") << unavailable << "";
    QTest::newRow("not JSON") << ScriptedResponse::json(200, "<html>") << "" << "check";
    QTest::newRow("missing build")
        << ScriptedResponse::json(200, R"({"version":"1","download_url":"x","release_notes":""})")
        << "В файле обновлений нет поля «build»" << "check";
    QTest::newRow("version that is a path")
        << offering("../../x", "https://localhost/i") << "Недопустимый номер версии в файле обновлений"
        << "check";
    QTest::newRow("download elsewhere") << offering("9.0", "https://k.example/i") << untrusted << "manifest";
    QTest::newRow("relative download address") << offering("9.0", "/downloads/i") << untrusted << "manifest";
    QTest::newRow("download over http") << offering("9.0", "http://localhost/i") << untrusted << "manifest";
    QTest::newRow("redirect to a foreign host") << redirect("https://127.0.0.1/v.json") << unavailable << "";
    QTest::newRow("redirect from https to http") << redirect("http://localhost/v.json") << unavailable << "";
    QTest::newRow("redirect with a user name") << redirect("https://u@localhost/v.json") << unavailable << "";
}

void tst_UpdateService::checkFailures()
{
    QFETCH(ScriptedResponse, answer);
    QFETCH(QString, error);
    QFETCH(QString, phase);
    if (answer.status == 302) {
        // Same port, so that only the host, scheme or user name differ.
        const QByteArray port = QByteArray::number(m_bed->server.port());
        answer.headers.first().second.replace("/v.json", ":" + port + "/v.json");
    }
    m_bed->server.enqueue(UpdateServerBed::versionPath(), answer);
    auto service = makeService();
    QVERIFY(check(*service));
    QVERIFY(service->lastCheckError());
    if (!error.isEmpty()) {
        QCOMPARE(*service->lastCheckError(), error);
    }
    QCOMPARE(service->availableUpdate(), std::nullopt);
    QVERIFY(!service->isChecking());
    QCOMPARE(m_errors->reports.size(), 1);
    QCOMPARE(m_errors->reports.first().context.value(QStringLiteral("phase")), phase);
    // A refused redirect is never followed.
    QCOMPARE(m_bed->server.requests().size(), 1);
}

void tst_UpdateService::download_data()
{
    QTest::addColumn<ScriptedResponse>("answer");
    QTest::addColumn<std::optional<QString>>("digest");
    QTest::addColumn<QString>("error");
    const QByteArray image = "образ обновления " + QByteArray(100000, 'i');
    const auto digest = std::optional(QString::fromLatin1(Sha256::hexDigestOf(image)));
    const ScriptedResponse good = ScriptedResponse::json(200, image);
    QTest::newRow("good") << good << digest << "";
    const auto other = [](const QString& text) { return std::optional(text); };
    QTest::newRow("upper-case digest") << good << other(QStringLiteral(" %1\n").arg(digest->toUpper())) << "";
    QTest::newRow("wrong digest") << good << other(QString(64, u'0')) << UpdateError::checksumMismatch;
    QTest::newRow("no digest") << good << std::optional<QString>() << UpdateError::missingChecksum;
    QTest::newRow("blank digest") << good << other(QStringLiteral("  ")) << UpdateError::missingChecksum;
    QTest::newRow("oversized") << ScriptedResponse::generated(64 << 20) << digest
                               << UpdateError::downloadTooLarge;
    ScriptedResponse endless = good;
    endless.declaredLength = ScriptedResponse::unannounced;
    endless.dripIntervalMs = 20;
    QTest::newRow("endless") << endless << digest << "Загрузка обновления прервалась";
    QTest::newRow("missing image") << ScriptedResponse::json(404, "{}") << digest
                                   << "Сервер не отдал обновление (код ответа 404)";
    QTest::newRow("redirect to a foreign host")
        << ScriptedResponse::withHeader(302, "Location", "https://127.0.0.1/i") << digest
        << "Сервер не отдал обновление (код ответа 302)";
}

void tst_UpdateService::download()
{
    QFETCH(ScriptedResponse, answer);
    QFETCH(std::optional<QString>, digest);
    QFETCH(QString, error);
    enqueueOffer(QStringLiteral("0.2.0"), QStringLiteral("2"), digest);
    m_bed->server.setStanding(UpdateServerBed::imagePath(), answer);
    auto service = makeService();
    service->setDownloadLimits(8 << 20, std::chrono::milliseconds(4000));
    QVERIFY(check(*service));
    QVERIFY(service->availableUpdate());
    QSignalSpy phases(service.get(), &UpdateService::phaseChanged);
    QVERIFY(ServerTestBed::await(service->downloadUpdate()));
    const QString stored = prefix("/updates/BriskoVella-0.2.0.tar.zst");
    if (error.isEmpty()) {
        QCOMPARE(service->phase(), UpdatePhase::readyToInstall(stored));
        QCOMPARE(UpdateTestBed::sha256Of(stored), digest->trimmed().toLower());
        QCOMPARE(phases.size(), 2);
        QVERIFY(m_errors->reports.isEmpty());
        // Dismissed, the download is no longer installable.
        service->dismissUpdate();
        QCOMPARE(service->availableUpdate(), std::nullopt);
        QCOMPARE(service->phase(), UpdatePhase::idle());
        QVERIFY(ServerTestBed::await(service->installDownloadedUpdate()));
        QCOMPARE(service->phase(), UpdatePhase::idle());
        return;
    }
    QCOMPARE(service->phase(), UpdatePhase::failed(error));
    QCOMPARE(QDir(prefix("/updates")).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(m_errors->reports.size(), 1);
    QCOMPARE(m_errors->reports.first().context.value(QStringLiteral("phase")), QStringLiteral("download"));
    if (!digest || digest->trimmed().isEmpty()) {
        QCOMPARE(m_bed->server.count(UpdateServerBed::imagePath()), 0);
    }
    // Nothing is installable after a failed download.
    QVERIFY(ServerTestBed::await(service->installDownloadedUpdate()));
    QCOMPARE(service->phase(), UpdatePhase::failed(error));
    QCOMPARE(current(), prefix("/versions/1"));
}

void tst_UpdateService::outsideThePrefixTellsHowToUpdate()
{
    const UpdateTestBed& installed = m_bed->installed;
    auto service = makeService(std::make_shared<PlatformUpdateInstaller>(
        std::make_shared<PlatformFileSystem>(), installed.deployment(), FilePath(installed.prefix()),
        FilePath(BRISKO_BIN), FilePath(installed.temporaryFolder())));
    QVERIFY(!service->canInstallInPlace());
    m_bed->publish("image");
    QVERIFY(check(*service) && service->availableUpdate());
    QVERIFY(ServerTestBed::await(service->downloadUpdate()));
    QVERIFY(ServerTestBed::await(service->installDownloadedUpdate()));
    QCOMPARE(service->phase(), UpdatePhase::failed(service->installInstructions()));
    QCOMPARE(current(), prefix("/versions/1"));
}

void tst_UpdateService::installsAndRelaunchesIntoTheNewBuild()
{
    // The new build carries the real program, which reads its version from
    // the bundle it runs in.
    ScratchDir& scratch = m_bed->installed.scratch();
    scratch.makeDirectory("release/Contents/bin");
    const QByteArray program = scratch.filePath("release/Contents/bin/brisko");
    QVERIFY(QFile::copy(QStringLiteral(BRISKO_BIN), QString::fromUtf8(program)));
    const auto image = m_bed->installed.makeImage(QStringLiteral("0.2.0"), QStringLiteral("2"),
                                                  scratch.filePath("release"));
    QVERIFY(image);
    QFile file(image->path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_bed->publish(file.readAll());

    auto service = makeService();
    QStringList started;
    QString output;
    bool quit = false;
    UpdateService::Relaunch relaunch;
    relaunch.arguments = {QStringLiteral("--version")};
    relaunch.start = [&](const QString& program, const QStringList& arguments) {
        started = QStringList{program} + arguments;
        QProcess process;
        process.start(program, arguments);
        const bool ran = process.waitForFinished(30000);
        output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
        return ran;
    };
    relaunch.quit = [&] { quit = true; };
    // The pause after the announcement is the window's, not this test's.
    relaunch.delay = std::chrono::milliseconds(0);
    service->setRelaunch(relaunch);
    // Announced before the new copy starts, so that the window can say so.
    bool startedBeforeAnnounced = false;
    connect(service.get(), &UpdateService::appWillRelaunchForUpdate, this,
            [&] { startedBeforeAnnounced = !started.isEmpty(); });
    QSignalSpy willRelaunch(service.get(), &UpdateService::appWillRelaunchForUpdate);

    QVERIFY(check(*service) && service->availableUpdate());
    QVERIFY(ServerTestBed::await(service->downloadUpdate()));
    QCOMPARE(service->phase().kind, UpdatePhase::Kind::readyToInstall);
    const QFuture<void> install = service->installDownloadedUpdate();
    QCOMPARE(service->phase(), UpdatePhase::installing());
    QVERIFY(willRelaunch.wait(60000));
    QVERIFY(!startedBeforeAnnounced);
    QVERIFY(ServerTestBed::await(install));
    QVERIFY(quit);
    QCOMPARE(started, (QStringList{prefix("/versions/2/Contents/bin/brisko"), QStringLiteral("--version")}));
    QCOMPARE(output, QStringLiteral("Brisko Vella 0.2.0 (2)"));
    QCOMPARE(current(), prefix("/versions/2"));
    QVERIFY(QFile::exists(prefix("/versions/1/Contents/bin/brisko")));
    QVERIFY(m_errors->reports.isEmpty());
}

BRISKO_TEST(tst_UpdateService)
#include "tst_UpdateService.moc"
