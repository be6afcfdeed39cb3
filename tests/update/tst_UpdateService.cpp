#include "BriskoTest.h"
#include "LoopbackMakerServer.h"
#include "RecordingSinks.h"
#include "ServerTestBed.h"
#include "TestCertificate.h"
#include "UpdateTestBed.h"

#include "base/Sha256.h"
#include "platform/PlatformFileSystem.h"
#include "update/UpdateError.h"
#include "update/UpdateService.h"
#include "update/UpdateVersionOrder.h"

#include <QJsonDocument>
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
    void initTestCase();
    void init();
    void cleanup();
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
    void dismissReturnsToIdle();
    void outsideThePrefixTellsHowToUpdate();
    void installsAndRelaunchesIntoTheNewBuild();

private:
    QString versionPath() const { return QStringLiteral("/api/brisko/version.json"); }
    QString imagePath() const { return QStringLiteral("/downloads/BriskoVella.tar.zst"); }
    QByteArray versionFile(const QString& version, const QString& build, const QString& url,
                           const std::optional<QString>& sha) const;
    std::unique_ptr<UpdateService> makeService();
    bool checkAndOffer(UpdateService& service, const QByteArray& image);

    TestCertificate m_certificate;
    std::unique_ptr<LoopbackMakerServer> m_server;
    std::unique_ptr<HttpTransport> m_transport;
    std::unique_ptr<UpdateTestBed> m_bed;
    std::shared_ptr<RecordingErrorSink> m_errors;
};

void tst_UpdateService::initTestCase()
{
    m_certificate = TestCertificate::make();
    QVERIFY(m_certificate.isValid());
}

void tst_UpdateService::init()
{
    m_server = std::make_unique<LoopbackMakerServer>();
    QVERIFY(m_server->listenTls(m_certificate.certificate, m_certificate.key, QStringLiteral("localhost")));
    m_transport = std::make_unique<HttpTransport>();
    m_transport->setAdditionalCaCertificates({m_certificate.certificate});
    m_bed = std::make_unique<UpdateTestBed>();
    QVERIFY(m_bed->isValid());
    m_errors = std::make_shared<RecordingErrorSink>();
}

void tst_UpdateService::cleanup()
{
    m_bed.reset();
    m_transport.reset();
    m_server.reset();
}

QByteArray tst_UpdateService::versionFile(const QString& version, const QString& build, const QString& url,
                                          const std::optional<QString>& sha) const
{
    QJsonObject object{{QStringLiteral("version"), version},
                       {QStringLiteral("build"), build},
                       {QStringLiteral("download_url"), url},
                       {QStringLiteral("release_notes"), QStringLiteral("Исправления")},
                       {QStringLiteral("channel"), QStringLiteral("stable")}};
    if (sha) {
        object.insert(QStringLiteral("sha256"), *sha);
    }
    return QJsonDocument(object).toJson();
}

std::unique_ptr<UpdateService> tst_UpdateService::makeService()
{
    return std::make_unique<UpdateService>(m_transport.get(), m_errors, m_bed->installer(), m_bed->deployment());
}

bool tst_UpdateService::checkAndOffer(UpdateService& service, const QByteArray& image)
{
    m_server->setStanding(imagePath(), ScriptedResponse::json(200, image));
    m_server->setStanding(versionPath(),
                          ScriptedResponse::json(200, versionFile(QStringLiteral("0.2.0"), QStringLiteral("2"),
                                                                  m_server->url(imagePath()),
                                                                  QString::fromLatin1(Sha256::hexDigestOf(image)))));
    return ServerTestBed::await(service.check(m_server->url(versionPath()))) && service.availableUpdate();
}

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
    QTest::newRow("overflowing build counts as 0") << "1.0" << "99999999999999999999" << "1.0" << "1" << false;
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
    QTest::newRow("newer build") << "0.2.0" << "2" << true;
    QTest::newRow("same build, newer version") << "0.10.0" << "1" << true;
    QTest::newRow("same build and version") << "0.1.0" << "1" << false;
    QTest::newRow("older build") << "3.0.0" << "0" << false;
}

void tst_UpdateService::offers()
{
    QFETCH(QString, version);
    QFETCH(QString, build);
    QFETCH(bool, offered);
    const QString download = m_server->url(imagePath());
    m_server->enqueue(versionPath(), ScriptedResponse::json(200, versionFile(version, build, download, QStringLiteral("ab"))));
    auto service = makeService();
    QSignalSpy checking(service.get(), &UpdateService::isCheckingChanged);
    const QFuture<void> check = service->check(m_server->url(versionPath()));
    QVERIFY(service->isChecking());
    QVERIFY(ServerTestBed::await(check));
    QVERIFY(!service->isChecking());
    QCOMPARE(checking.size(), 2);
    QCOMPARE(service->lastCheckError(), std::nullopt);
    if (offered) {
        const AppUpdateInfo expected{version, build, QUrl(download), QStringLiteral("Исправления"), QStringLiteral("ab")};
        QCOMPARE(service->availableUpdate(), std::optional<AppUpdateInfo>(expected));
    } else {
        QCOMPARE(service->availableUpdate(), std::nullopt);
    }
    const RecordedRequest request = m_server->requests(versionPath()).value(0);
    QCOMPARE(request.method, QByteArray("GET"));
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
        + QStringLiteral("%1:%2%3").arg(host).arg(m_server->port()).arg(versionPath());
    QVERIFY(ServerTestBed::await(service->check(url)));
    QCOMPARE(service->lastCheckError(), std::optional<QString>(UpdateError::untrustedSource));
    QVERIFY(!service->isChecking());
    QTest::qWait(50);
    QVERIFY(m_server->requests().isEmpty());
    QCOMPARE(m_errors->reports.size(), 1);
    QCOMPARE(m_errors->reports.first().feature, AppFeature::update);

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
    const auto redirect = [](const char* location) { return ScriptedResponse::withHeader(302, "Location", location); };
    const auto offering = [this](const char* version, const char* url) {
        return ScriptedResponse::json(200, versionFile(QLatin1String(version), QStringLiteral("9"), QLatin1String(url), QStringLiteral("ab")));
    };
    QTest::newRow("server error") << ScriptedResponse::json(500, "{}") << UpdateError::serverUnavailable << "";
    QTest::newRow("not JSON") << ScriptedResponse::json(200, "<html>") << "" << "check";
    QTest::newRow("missing build") << ScriptedResponse::json(200, R"({"version":"1","download_url":"x","release_notes":""})")
                                   << "В файле обновлений нет поля «build»" << "check";
    QTest::newRow("version that is a path") << offering("../../x", "https://localhost/i")
                                            << "Недопустимый номер версии в файле обновлений" << "check";
    QTest::newRow("download on a foreign host") << offering("9.0", "https://korvane.example/i.tar.zst")
                                                << UpdateError::untrustedDownload << "manifest";
    QTest::newRow("relative download address") << offering("9.0", "/downloads/i.tar.zst") << UpdateError::untrustedDownload
                                               << "manifest";
    QTest::newRow("download over plain http") << offering("9.0", "http://localhost/i") << UpdateError::untrustedDownload
                                              << "manifest";
    QTest::newRow("redirect to a foreign host") << redirect("https://127.0.0.1/v.json") << UpdateError::serverUnavailable << "";
    QTest::newRow("redirect from https to http") << redirect("http://localhost/v.json") << UpdateError::serverUnavailable << "";
    QTest::newRow("redirect with a user name") << redirect("https://maker@localhost/v.json") << UpdateError::serverUnavailable
                                               << "";
}

void tst_UpdateService::checkFailures()
{
    QFETCH(ScriptedResponse, answer);
    QFETCH(QString, error);
    QFETCH(QString, phase);
    if (answer.status == 302) {
        // Same port, so that only the host, scheme or user name differ.
        QByteArray location = answer.headers.first().second;
        location.replace("/v.json", ":" + QByteArray::number(m_server->port()) + "/v.json");
        answer.headers.first().second = location;
    }
    m_server->enqueue(versionPath(), answer);
    auto service = makeService();
    QVERIFY(ServerTestBed::await(service->check(m_server->url(versionPath()))));
    QVERIFY(service->lastCheckError());
    if (!error.isEmpty()) {
        QCOMPARE(*service->lastCheckError(), error);
    }
    QCOMPARE(service->availableUpdate(), std::nullopt);
    QVERIFY(!service->isChecking());
    QCOMPARE(m_errors->reports.size(), 1);
    QCOMPARE(m_errors->reports.first().context.value(QStringLiteral("phase")), phase);
    // A refused redirect is never followed.
    QCOMPARE(m_server->requests().size(), 1);
}

void tst_UpdateService::download_data()
{
    QTest::addColumn<ScriptedResponse>("answer");
    QTest::addColumn<std::optional<QString>>("digest");
    QTest::addColumn<QString>("error");
    const QByteArray image = "образ обновления " + QByteArray(100000, 'i');
    const QString digest = QString::fromLatin1(Sha256::hexDigestOf(image));
    const ScriptedResponse good = ScriptedResponse::json(200, image);
    QTest::newRow("good") << good << std::optional<QString>(digest) << "";
    QTest::newRow("upper-case expected digest") << good << std::optional<QString>(QStringLiteral(" %1\n").arg(digest.toUpper())) << "";
    QTest::newRow("wrong digest") << good << std::optional<QString>(QString(64, u'0')) << UpdateError::checksumMismatch;
    QTest::newRow("no digest") << good << std::optional<QString>() << UpdateError::missingChecksum;
    QTest::newRow("blank digest") << good << std::optional<QString>(QStringLiteral("  ")) << UpdateError::missingChecksum;
    ScriptedResponse huge;
    huge.generatedBodyBytes = 64 << 20;
    QTest::newRow("oversized") << huge << std::optional<QString>(digest) << UpdateError::downloadTooLarge;
    ScriptedResponse endless = good;
    endless.declaredLength = ScriptedResponse::unannounced;
    endless.dripIntervalMs = 20;
    QTest::newRow("endless") << endless << std::optional<QString>(digest) << "Загрузка обновления прервалась";
    QTest::newRow("missing image") << ScriptedResponse::json(404, "{}") << std::optional<QString>(digest)
                                   << "Сервер не отдал обновление (код ответа 404)";
    QTest::newRow("redirect to a foreign host")
        << ScriptedResponse::withHeader(302, "Location", "https://127.0.0.1/i") << std::optional<QString>(digest)
        << "Сервер не отдал обновление (код ответа 302)";
}

void tst_UpdateService::download()
{
    QFETCH(ScriptedResponse, answer);
    QFETCH(std::optional<QString>, digest);
    QFETCH(QString, error);
    m_server->enqueue(versionPath(), ScriptedResponse::json(200, versionFile(QStringLiteral("0.2.0"), QStringLiteral("2"),
                                                                             m_server->url(imagePath()), digest)));
    m_server->setStanding(imagePath(), answer);
    auto service = makeService();
    service->setDownloadLimits(8 << 20, std::chrono::milliseconds(4000));
    QVERIFY(ServerTestBed::await(service->check(m_server->url(versionPath()))));
    QVERIFY(service->availableUpdate());
    QSignalSpy phases(service.get(), &UpdateService::phaseChanged);
    QVERIFY(ServerTestBed::await(service->downloadUpdate()));
    const QString stored = QString::fromUtf8(m_bed->prefix()) + QStringLiteral("/updates/BriskoVella-0.2.0.tar.zst");
    if (error.isEmpty()) {
        QCOMPARE(service->phase(), UpdatePhase::readyToInstall(stored));
        QCOMPARE(UpdateTestBed::sha256Of(stored), digest->trimmed().toLower());
        QCOMPARE(phases.size(), 2);
        QVERIFY(m_errors->reports.isEmpty());
        return;
    }
    QCOMPARE(service->phase(), UpdatePhase::failed(error));
    QVERIFY(!QFile::exists(stored));
    QCOMPARE(QDir(QString::fromUtf8(m_bed->prefix() + "/updates")).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(m_errors->reports.size(), 1);
    QCOMPARE(m_errors->reports.first().context.value(QStringLiteral("phase")), QStringLiteral("download"));
    if (!digest || digest->trimmed().isEmpty()) {
        QCOMPARE(m_server->count(imagePath()), 0);
    }
    // Nothing is installable after a failed download.
    QVERIFY(ServerTestBed::await(service->installDownloadedUpdate()));
    QCOMPARE(service->phase(), UpdatePhase::failed(error));
    QCOMPARE(QFileInfo(QString::fromUtf8(m_bed->prefix() + "/current")).symLinkTarget(),
             QString::fromUtf8(m_bed->prefix() + "/versions/1"));
}

void tst_UpdateService::dismissReturnsToIdle()
{
    auto service = makeService();
    QVERIFY(checkAndOffer(*service, "image"));
    QVERIFY(ServerTestBed::await(service->downloadUpdate()));
    QCOMPARE(service->phase().kind, UpdatePhase::Kind::readyToInstall);
    service->dismissUpdate();
    QCOMPARE(service->availableUpdate(), std::nullopt);
    QCOMPARE(service->phase(), UpdatePhase::idle());
    QVERIFY(ServerTestBed::await(service->installDownloadedUpdate()));
    QCOMPARE(service->phase(), UpdatePhase::idle());
}

void tst_UpdateService::outsideThePrefixTellsHowToUpdate()
{
    auto installer = std::make_shared<PlatformUpdateInstaller>(std::make_shared<PlatformFileSystem>(), m_bed->deployment(),
                                                               FilePath(m_bed->prefix()), FilePath(BRISKO_BIN),
                                                               FilePath(m_bed->temporaryFolder()));
    UpdateService service(m_transport.get(), m_errors, installer, m_bed->deployment());
    QVERIFY(!service.canInstallInPlace());
    QVERIFY(checkAndOffer(service, "image"));
    QVERIFY(ServerTestBed::await(service.downloadUpdate()));
    QVERIFY(ServerTestBed::await(service.installDownloadedUpdate()));
    QCOMPARE(service.phase(), UpdatePhase::failed(service.installInstructions()));
    QCOMPARE(QFileInfo(QString::fromUtf8(m_bed->prefix() + "/current")).symLinkTarget(),
             QString::fromUtf8(m_bed->prefix() + "/versions/1"));
}

void tst_UpdateService::installsAndRelaunchesIntoTheNewBuild()
{
    // The new build carries the real program, which reads its version from
    // the bundle it runs in.
    m_bed->scratch().makeDirectory("release/Contents/bin");
    QVERIFY(QFile::copy(QStringLiteral(BRISKO_BIN), QString::fromUtf8(m_bed->scratch().filePath("release/Contents/bin/brisko"))));
    const auto image = m_bed->makeImage(QStringLiteral("0.2.0"), QStringLiteral("2"), m_bed->scratch().filePath("release"));
    QVERIFY(image);
    QFile file(image->path);
    QVERIFY(file.open(QIODevice::ReadOnly));

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
    service->setRelaunch(relaunch);
    QSignalSpy willRelaunch(service.get(), &UpdateService::appWillRelaunchForUpdate);

    QVERIFY(checkAndOffer(*service, file.readAll()));
    QVERIFY(ServerTestBed::await(service->downloadUpdate()));
    QCOMPARE(service->phase().kind, UpdatePhase::Kind::readyToInstall);
    QElapsedTimer timer;
    timer.start();
    const QFuture<void> install = service->installDownloadedUpdate();
    QCOMPARE(service->phase(), UpdatePhase::installing());
    QVERIFY(willRelaunch.wait(60000));
    QVERIFY(started.isEmpty());
    QVERIFY(ServerTestBed::await(install));
    QVERIFY(timer.elapsed() >= 350);
    QVERIFY(quit);
    const QString executable = QString::fromUtf8(m_bed->prefix()) + QStringLiteral("/versions/2/Contents/bin/brisko");
    QCOMPARE(started, (QStringList{executable, QStringLiteral("--version")}));
    QCOMPARE(output, QStringLiteral("Brisko Vella 0.2.0 (2)"));
    QCOMPARE(QFileInfo(QString::fromUtf8(m_bed->prefix() + "/current")).symLinkTarget(),
             QString::fromUtf8(m_bed->prefix() + "/versions/2"));
    QVERIFY(QFile::exists(QString::fromUtf8(m_bed->prefix() + "/versions/1/Contents/bin/brisko")));
    QVERIFY(m_errors->reports.isEmpty());
}

BRISKO_TEST(tst_UpdateService)
#include "tst_UpdateService.moc"
