#include "BriskoTest.h"
#include "archive/CleanArchiveEntry.h"
#include "archive/CleanArchiveManifest.h"
#include "archive/CleanArchiveProfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

namespace {

CleanArchiveManifest packedManifest()
{
    CleanArchiveManifest manifest;
    manifest.createdAt = QDateTime(QDate(2026, 3, 14), QTime(6, 30, 15), QTimeZone::utc());
    manifest.profile = QStringLiteral("developer");
    manifest.profileTitle = QStringLiteral("Разработка");
    manifest.homeDirectory = QStringLiteral("/home/анна");
    manifest.entries = {CleanArchiveEntry{QStringLiteral("Projects"), 8192, true, QString(64, QLatin1Char('a'))},
                        CleanArchiveEntry{QStringLiteral(".ssh"), 12, false, std::nullopt}};
    manifest.totalBytes = 8204;
    manifest.appVersion = QStringLiteral("0.1.0");
    manifest.compression = QStringLiteral("tar.zst");
    manifest.compressedBytes = qint64(5) << 40;
    manifest.compressedSHA256 = QString(64, QLatin1Char('b'));
    manifest.archiveFileName = QStringLiteral("archive.tar.zst");
    return manifest;
}

// Positions of the keys in the text, in the order given; -1 when one is missing.
QList<qsizetype> positions(const QByteArray& text, const QList<QByteArray>& keys)
{
    QList<qsizetype> found;
    for (const QByteArray& key : keys) {
        found.append(text.indexOf('"' + key + "\":"));
    }
    return found;
}

} // namespace

class tst_CleanArchiveManifest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void writesSortedKeysAndLeavesOutAbsentOptionals();
    void rejectsMalformedManifests_data();
    void rejectsMalformedManifests();
    void datesAreUtcWithZ();
    void profiles();
    void safeRelativePaths_data();
    void safeRelativePaths();
};

void tst_CleanArchiveManifest::writesSortedKeysAndLeavesOutAbsentOptionals()
{
    const QByteArray json = packedManifest().toJson();
    const QList<qsizetype> top =
        positions(json,
                  {"appVersion", "archiveFileName", "compressedBytes", "compressedSHA256", "compression", "createdAt",
                   "entries", "homeDirectory", "profile", "profileTitle", "totalBytes", "version"});
    QVERIFY(!top.contains(-1));
    QVERIFY2(std::is_sorted(top.cbegin(), top.cend()), json.constData());
    const QByteArray entry = json.mid(json.indexOf("\"Projects\"") - 200, 400);
    const QList<qsizetype> inner = positions(entry, {"isDirectory", "relativePath", "sha256", "size"});
    QVERIFY2(!inner.contains(-1), entry.constData());
    QVERIFY(std::is_sorted(inner.cbegin(), inner.cend()));
    // Pretty-printed: one key per line.
    QVERIFY(json.count('\n') > 20);
    QVERIFY(json.contains("\"createdAt\": \"2026-03-14T06:30:15Z\""));
    QVERIFY(json.contains("\"compressedBytes\": 5497558138880"));
    QCOMPARE(CleanArchiveManifest::fromJson(json), packedManifest());

    CleanArchiveManifest plain = packedManifest();
    plain.compression.reset();
    plain.compressedBytes.reset();
    plain.compressedSHA256.reset();
    plain.archiveFileName.reset();
    const QByteArray plainJson = plain.toJson();
    for (const char* key : {"compression", "compressedBytes", "compressedSHA256", "archiveFileName", "null"}) {
        QVERIFY2(!plainJson.contains(key), key);
    }
    // The .ssh entry has no digest: no key at all.
    const QJsonObject ssh =
        QJsonDocument::fromJson(plainJson).object().value(QLatin1String("entries")).toArray().at(1).toObject();
    QCOMPARE(ssh.keys(),
             (QStringList{QStringLiteral("isDirectory"), QStringLiteral("relativePath"), QStringLiteral("size")}));
    QCOMPARE(CleanArchiveManifest::fromJson(plainJson), plain);
}

void tst_CleanArchiveManifest::rejectsMalformedManifests_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::newRow("size as text") << QByteArray("\"size\": 8192") << QByteArray("\"size\": \"8192\"");
    QTest::newRow("fractional size") << QByteArray("\"size\": 8192") << QByteArray("\"size\": 8192.5");
    QTest::newRow("isDirectory as number") << QByteArray("\"isDirectory\": true") << QByteArray("\"isDirectory\": 1");
    QTest::newRow("digest as number") << QByteArray("\"compressedSHA256\": \"bbbb")
                                      << QByteArray("\"compressedSHA256\": 7, \"x\": \"bbbb");
    QTest::newRow("no entries") << QByteArray("\"entries\"") << QByteArray("\"entriez\"");
    QTest::newRow("no version") << QByteArray("\"version\"") << QByteArray("\"versio\"");
    QTest::newRow("entries not a list") << QByteArray("\"entries\": [") << QByteArray("\"entries\": {\"a\": [");
    QTest::newRow("date without zone") << QByteArray("06:30:15Z") << QByteArray("06:30:15");
    QTest::newRow("date as number") << QByteArray("\"2026-03-14T06:30:15Z\"") << QByteArray("797833815");
    QTest::newRow("entry without isDirectory") << QByteArray("\"isDirectory\": true,") << QByteArray();
    QTest::newRow("relativePath as list") << QByteArray("\"relativePath\": \"Projects\"")
                                          << QByteArray("\"relativePath\": [\"..\"]");
    QTest::newRow("not JSON") << QByteArray("{") << QByteArray("{{");
}

void tst_CleanArchiveManifest::rejectsMalformedManifests()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QByteArray json = packedManifest().toJson();
    QVERIFY2(json.contains(from), from.constData());
    json.replace(json.indexOf(from), from.size(), to);
    QVERIFY(!CleanArchiveManifest::fromJson(json));
    QVERIFY(!CleanArchiveManifest::fromJson("[]"));
}

void tst_CleanArchiveManifest::datesAreUtcWithZ()
{
    const QDateTime moscow(QDate(2026, 3, 14), QTime(9, 30, 15, 999), QTimeZone("Europe/Moscow"));
    QCOMPARE(CleanArchiveManifest::formatDate(moscow), QStringLiteral("2026-03-14T06:30:15Z"));
    // A moment that does not exist on many local clocks (a spring-forward gap) still reads.
    const std::optional<QDateTime> gap = CleanArchiveManifest::parseDate(QStringLiteral("2026-03-29T02:30:00Z"));
    QVERIFY(gap);
    QCOMPARE(gap->toUTC().time(), QTime(2, 30));
    QVERIFY(!CleanArchiveManifest::parseDate(QStringLiteral("2026-03-29T02:30:00+01:00")));
    QVERIFY(!CleanArchiveManifest::parseDate(QStringLiteral("2026-02-30T02:30:00Z")));
}

void tst_CleanArchiveManifest::profiles()
{
    for (const CleanArchiveProfile profile : CleanArchiveProfiles::all()) {
        QCOMPARE(CleanArchiveProfiles::fromRawValue(CleanArchiveProfiles::rawValue(profile)), profile);
    }
    QVERIFY(!CleanArchiveProfiles::fromRawValue(QStringLiteral("Essential")));
    const HomeLayout layout = HomeLayout::original(FilePath("/Users/u"));
    QCOMPARE(CleanArchiveProfiles::homeFolders(CleanArchiveProfile::developer, layout),
             (QList<QByteArray>{"Projects", "Developer", ".config", ".ssh"}));
    // Only the essential profile leaves installers out, by the last extension.
    const auto excludesFile = [&](CleanArchiveProfile profile, const QByteArray& name) {
        return CleanArchiveProfiles::excludesFile(profile, name, layout);
    };
    QVERIFY(excludesFile(CleanArchiveProfile::essential, "Установщик.Pkg"));
    QVERIFY(excludesFile(CleanArchiveProfile::essential, "photos.2024.zip"));
    QVERIFY(!excludesFile(CleanArchiveProfile::essential, "notes.dmg.txt"));
    QVERIFY(!excludesFile(CleanArchiveProfile::essential, "zip"));
    QVERIFY(!excludesFile(CleanArchiveProfile::creative, "setup.dmg"));
    QVERIFY(!excludesFile(CleanArchiveProfile::developer, "bundle.zip"));
}

void tst_CleanArchiveManifest::safeRelativePaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("safe");
    QTest::newRow("folder") << QStringLiteral("Documents") << true;
    QTest::newRow("hidden folder") << QStringLiteral(".ssh") << true;
    QTest::newRow("Cyrillic") << QStringLiteral("Документы") << true;
    QTest::newRow("three dots") << QStringLiteral("...") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("dot") << QStringLiteral(".") << false;
    QTest::newRow("dot dot") << QStringLiteral("..") << false;
    QTest::newRow("parent") << QStringLiteral("../x") << false;
    QTest::newRow("absolute") << QStringLiteral("/etc") << false;
    QTest::newRow("nested") << QStringLiteral("Documents/sub") << false;
    QTest::newRow("trailing slash") << QStringLiteral("Documents/") << false;
    QTest::newRow("NUL") << QStringLiteral("Doc") + QChar(0) + QStringLiteral("/etc") << false;
}

void tst_CleanArchiveManifest::safeRelativePaths()
{
    QFETCH(QString, path);
    QFETCH(bool, safe);
    QCOMPARE(CleanArchiveEntry::isSafeRelativePath(path), safe);
}

BRISKO_TEST(tst_CleanArchiveManifest)
#include "tst_CleanArchiveManifest.moc"
