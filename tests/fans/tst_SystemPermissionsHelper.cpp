#include "BriskoTest.h"
#include "FaultInjectingFileSystem.h"
#include "TempHome.h"
#include "fans/SystemPermissionsHelper.h"

#include <QtTest>

#include <cerrno>

namespace {

// Records the addresses it is asked to open and refuses the first `failures`.
struct RecordingWorkspace : Workspace
{
    explicit RecordingWorkspace(int failures)
        : failures(failures)
    {
    }
    bool revealFile(const FilePath&) override { return false; }
    bool openUrl(const QUrl& url) override
    {
        opened.append(url.toString());
        return opened.size() > failures;
    }
    int failures;
    QStringList opened;
};

} // namespace

// The Full Disk Access check on real folders, with the refusal of the
// protection injected (it is enforced on access, which a test cannot arrange
// as root).
class tst_SystemPermissionsHelper : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void needsFullDiskAccess_data()
    {
        QTest::addColumn<bool>("bookmarks");
        QTest::addColumn<bool>("mail");
        QTest::addColumn<bool>("bookmarksRefused");
        QTest::addColumn<bool>("mailRefused");
        QTest::addColumn<bool>("needed");
        QTest::newRow("nothing protected") << false << false << false << false << false;
        QTest::newRow("readable bookmarks") << true << false << false << false << false;
        QTest::newRow("unreadable bookmarks") << true << false << true << false << true;
        QTest::newRow("readable mail") << false << true << false << false << false;
        QTest::newRow("unreadable mail") << false << true << false << true << true;
        // The first probe that exists decides.
        QTest::newRow("readable bookmarks, unreadable mail") << true << true << false << true << false;
    }
    void needsFullDiskAccess()
    {
        QFETCH(bool, bookmarks);
        QFETCH(bool, mail);
        QFETCH(bool, bookmarksRefused);
        QFETCH(bool, mailRefused);
        QFETCH(bool, needed);
        TempHome home;
        // Safari's folder alone protects nothing.
        home.makeDir(QStringLiteral("Library/Safari"));
        if (bookmarks)
            home.makeFile(QStringLiteral("Library/Safari/Bookmarks.plist"), 64);
        if (mail)
            home.makeDir(QStringLiteral("Library/Mail/V10"));
        FaultInjectingFileSystem fs;
        if (bookmarksRefused)
            fs.failOperation(1, EPERM);
        if (mailRefused)
            fs.failOpen(home.home().child(QStringLiteral("Library/Mail")).native());
        QCOMPARE(SystemPermissionsHelper::needsFullDiskAccess(fs, home.home()), needed);
        QVERIFY(!bookmarksRefused || fs.faultFired());
    }

    void opensTheSettingsPane()
    {
        const QString pane =
            QStringLiteral("x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?Privacy_AllFiles");
        RecordingWorkspace works(0);
        SystemPermissionsHelper::openFullDiskAccessSettings(works);
        QCOMPARE(works.opened, QStringList{pane});
        RecordingWorkspace refuses(1);
        SystemPermissionsHelper::openFullDiskAccessSettings(refuses);
        QCOMPARE(refuses.opened,
                 QStringList({pane, QStringLiteral("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles")}));
    }
};

BRISKO_TEST(tst_SystemPermissionsHelper)
#include "tst_SystemPermissionsHelper.moc"
