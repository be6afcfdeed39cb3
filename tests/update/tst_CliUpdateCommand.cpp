#include "BriskoTest.h"
#include "CliSandbox.h"
#include "LoopbackMakerServer.h"

#include "model/AppSettings.h"
#include "platform/SettingsDefaultsStore.h"
#include "update/UpdateError.h"

#include <QJsonObject>
#include <QtTest>

// brisko update as a user runs it: its usage, and a version file address
// that is not HTTPS on the maker's hosts is refused without a request, in
// text and in JSON. (The road through a trusted server is in tst_UpdateService.)
class tst_CliUpdateCommand : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runs_data();
    void runs();
};

void tst_CliUpdateCommand::runs_data()
{
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");
    QTest::newRow("no action") << "update" << 2 << "check, download или install";
    QTest::newRow("unknown action") << "update fetch" << 2 << "check, download или install";
    QTest::newRow("plain http source") << "update check" << 1 << UpdateError::untrustedSource;
    QTest::newRow("plain http source, json") << "update install --json" << 1 << "";
}

void tst_CliUpdateCommand::runs()
{
    QFETCH(QString, words);
    QFETCH(int, exitCode);
    QFETCH(QString, error);
    CliSandbox sandbox;
    LoopbackMakerServer server;
    QVERIFY(sandbox.isValid() && server.listen());
    AppSettings settings = AppSettings::defaults(sandbox.home().path());
    settings.updateCheckURL = server.endpoint(QStringLiteral("version.json"));
    settings.errorsEndpoint = server.endpoint(QStringLiteral("errors.php"));
    QVERIFY(SettingsDefaultsStore(sandbox.defaultsFile(), QSettings::IniFormat)
                .setData(QStringLiteral("BriskoSettings"), settings.toJson().value()));
    QProcessEnvironment environment = sandbox.environment();
    environment.remove(QStringLiteral("BRISKO_OFFLINE"));
    const CliRun run = sandbox.run(words.split(QLatin1Char(' ')), environment);
    QVERIFY2(run.finished && run.exitCode == exitCode, run.describe());
    if (error.isEmpty()) {
        const QJsonObject json = run.json().value_or(QJsonDocument()).object();
        QCOMPARE(json.value(QLatin1String("lastCheckError")).toString(), UpdateError::untrustedSource);
        QVERIFY(json.value(QLatin1String("availableUpdate")).isNull());
        QCOMPARE(json.value(QLatin1String("phase")).toObject().value(QLatin1String("kind")).toString(), QStringLiteral("idle"));
        // A build folder is no installation to replace.
        QCOMPARE(json.value(QLatin1String("canInstallInPlace")), QJsonValue(false));
    } else {
        QVERIFY2(run.errText().contains(error), run.describe());
    }
    QCOMPARE(server.count(QStringLiteral("/api/brisko/version.json")), 0);
    QVERIFY(!QFile::exists(sandbox.home().filePath(QStringLiteral(".local/share/brisko-vella/updates"))));
}

BRISKO_TEST(tst_CliUpdateCommand)
#include "tst_CliUpdateCommand.moc"
