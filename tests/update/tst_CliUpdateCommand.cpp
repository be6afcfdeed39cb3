#include "BriskoTest.h"
#include "LoopbackMakerServer.h"

#include "model/AppSettings.h"
#include "platform/SettingsDefaultsStore.h"
#include "update/UpdateError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
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
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("no action") << QStringList{QStringLiteral("update")} << 2 << "check, download или install";
    QTest::newRow("unknown action") << QStringList{QStringLiteral("update"), QStringLiteral("fetch")} << 2
                                    << "check, download или install";
    QTest::newRow("plain http source") << QStringList{QStringLiteral("update"), QStringLiteral("check")} << 1
                                       << UpdateError::untrustedSource;
    QTest::newRow("plain http source, json")
        << QStringList{QStringLiteral("update"), QStringLiteral("install"), QStringLiteral("--json")} << 1 << "json";
}

void tst_CliUpdateCommand::runs()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("Домашняя"));
    QVERIFY(QDir().mkpath(home));
    LoopbackMakerServer server;
    QVERIFY(server.listen());
    AppSettings settings = AppSettings::defaults(home);
    settings.updateCheckURL = server.endpoint(QStringLiteral("version.json"));
    settings.errorsEndpoint = server.endpoint(QStringLiteral("errors.php"));
    SettingsDefaultsStore store(dir.filePath(QStringLiteral("defaults.ini")), QSettings::IniFormat);
    QVERIFY(store.setData(QStringLiteral("BriskoSettings"), settings.toJson().value()));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("BRISKO_DEFAULTS"), dir.filePath(QStringLiteral("defaults.ini")));
    environment.remove(QStringLiteral("BRISKO_OFFLINE"));
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    QProcess process;
    process.setProcessEnvironment(environment);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(BRISKO_BIN), arguments);
    QVERIFY(finished.wait(60000));
    QCOMPARE(process.exitCode(), exitCode);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString err = QString::fromUtf8(process.readAllStandardError());
    if (output == QLatin1String("json")) {
        const QJsonObject json = QJsonDocument::fromJson(out.toUtf8()).object();
        QCOMPARE(json.value(QLatin1String("lastCheckError")).toString(), UpdateError::untrustedSource);
        QVERIFY(json.value(QLatin1String("availableUpdate")).isNull());
        QCOMPARE(json.value(QLatin1String("phase")).toObject().value(QLatin1String("kind")).toString(), QStringLiteral("idle"));
        // A build folder is no installation to replace.
        QCOMPARE(json.value(QLatin1String("canInstallInPlace")).toBool(), false);
    } else {
        QVERIFY2(err.contains(output), qPrintable(err));
    }
    QCOMPARE(server.count(QStringLiteral("/api/brisko/version.json")), 0);
    QVERIFY(!QFile::exists(home + QStringLiteral("/.local/share/brisko-vella/updates")));
}

BRISKO_TEST(tst_CliUpdateCommand)
#include "tst_CliUpdateCommand.moc"
