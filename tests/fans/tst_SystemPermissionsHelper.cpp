#include "BriskoTest.h"
#include "FaultInjectingFileSystem.h"
#include "TempHome.h"
#include "fans/SystemPermissionsHelper.h"

#include <QtTest>

#include <cerrno>

namespace {

class RecordingWorkspace : public Workspace
{
public:
    explicit RecordingWorkspace(int failures)
        : m_failures(failures)
    {
    }
    bool revealFile(const FilePath&) override { return false; }
    bool openUrl(const QUrl& url) override
    {
        opened.append(url.toString());
        return opened.size() > m_failures;
    }
    QStringList opened;

private:
    int m_failures;
};

} // namespace

// The Full Disk Access check on real folders, with the refusal of the
// protection injected (it is enforced on access, which a test cannot arrange
// as root).
class tst_SystemPermissionsHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void nothingProtectedMeansNotNeeded();
    void readableBookmarks();
    void unreadableBookmarks();
    void mailFolder();
    void firstExistingProbeDecides();
    void opensTheSettingsPane();
};

void tst_SystemPermissionsHelper::nothingProtectedMeansNotNeeded()
{
    TempHome home;
    FaultInjectingFileSystem fs;
    QVERIFY(!SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()));
    home.makeDir(QStringLiteral("Library/Safari"));
    QVERIFY(!SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()));
}

void tst_SystemPermissionsHelper::readableBookmarks()
{
    TempHome home;
    home.makeFile(QStringLiteral("Library/Safari/Bookmarks.plist"), 64);
    FaultInjectingFileSystem fs;
    QVERIFY(!SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()));
}

void tst_SystemPermissionsHelper::unreadableBookmarks()
{
    TempHome home;
    home.makeFile(QStringLiteral("Library/Safari/Bookmarks.plist"), 64);
    FaultInjectingFileSystem fs;
    fs.failOperation(1, EPERM);
    QVERIFY(SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()));
    QVERIFY(fs.faultFired());
}

void tst_SystemPermissionsHelper::mailFolder()
{
    TempHome home;
    home.makeDir(QStringLiteral("Library/Mail/V10"));
    FaultInjectingFileSystem fs;
    QVERIFY(!SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()));
    fs.failOpen(home.home().child(QStringLiteral("Library/Mail")).native());
    QVERIFY(SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()));
}

void tst_SystemPermissionsHelper::firstExistingProbeDecides()
{
    TempHome home;
    home.makeFile(QStringLiteral("Library/Safari/Bookmarks.plist"), 64);
    home.makeDir(QStringLiteral("Library/Mail"));
    FaultInjectingFileSystem fs;
    fs.failOpen(home.home().child(QStringLiteral("Library/Mail")).native());
    QVERIFY(!SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()));
}

void tst_SystemPermissionsHelper::opensTheSettingsPane()
{
    RecordingWorkspace works(0);
    SystemPermissionsHelper::openFullDiskAccessSettings(works);
    QCOMPARE(works.opened,
             QStringList{QStringLiteral(
                 "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_AllFiles")});

    RecordingWorkspace refuses(1);
    SystemPermissionsHelper::openFullDiskAccessSettings(refuses);
    QCOMPARE(refuses.opened.size(), 2);
    QCOMPARE(refuses.opened.at(1),
             QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles"));
}

BRISKO_TEST(tst_SystemPermissionsHelper)
#include "tst_SystemPermissionsHelper.moc"
