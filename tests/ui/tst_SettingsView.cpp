#include "BriskoTest.h"
#include "ViewTestBed.h"

#include "IconTextLine.h"
#include "SettingsNumberField.h"
#include "SettingsView.h"
#include "app/AppState.h"
#include "scan/DiskScanner.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <tuple>

namespace {
// Inserts text in one edit, as a paste does: no prefix of it is ever in the field.
void pasteText(QWidget* widget, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
}
} // namespace

// The settings section over a real application state and defaults store:
// every control writes its own field into the published and the stored
// record, refused numbers leave both alone, and the archive folder line
// answers the folder's real state.
class tst_SettingsView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void everyControlWritesItsField_data();
    void everyControlWritesItsField();
    void numbersTheRecordMustNotHoldAreRefused_data();
    void numbersTheRecordMustNotHoldAreRefused();
    void archiveFolderStatus();
    void pickedArchiveFolderIsShown();
    void vocabularyLinksAndVersion();

private:
    QJsonObject stored() const { return m_bed->storedSettings(); }
    QJsonObject published() const;
    QWidget* control(const QString& field) const;

    std::unique_ptr<ViewTestBed> m_bed;
    AppFixture* m_fixture = nullptr;
    AppState* m_state = nullptr;
    std::unique_ptr<SettingsView> m_view;
};

void tst_SettingsView::init()
{
    m_bed = std::make_unique<ViewTestBed>();
    m_fixture = &m_bed->fixture;
    m_state = m_bed->state();
    m_view = std::make_unique<SettingsView>(m_bed->services());
    m_view->resize(900, 800);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void tst_SettingsView::cleanup()
{
    m_view.reset();
    m_bed.reset();
}

QJsonObject tst_SettingsView::published() const
{
    QJsonObject object;
    [&] { QVERIFY(m_state->settings().toJsonObject(&object)); }();
    return object;
}

QWidget* tst_SettingsView::control(const QString& field) const
{
    QWidget* widget = m_view->findChild<QWidget*>(field);
    [&] { QVERIFY2(widget, qPrintable(field)); }();
    return widget;
}

void tst_SettingsView::everyControlWritesItsField_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QJsonValue>("expected");
    // The video mode the record starts with, so that the mode's own form is shown.
    QTest::addColumn<QString>("videoMode");

    const QString byName = QStringLiteral("namePrefix");
    const QString byType = QStringLiteral("fileType");
    QTest::newRow("low power on") << "lowPowerMode" << "toggle" << QJsonValue(true) << byName;
    QTest::newRow("archive path") << "archivePath"
                                  << "/media/Внешний диск/Архив"
                                  << QJsonValue(QStringLiteral("/media/Внешний диск/Архив")) << byName;
    QTest::newRow("candidate size") << "archiveCandidateMinGB" << "2,5" << QJsonValue(2.5) << byName;
    QTest::newRow("candidate days") << "archiveCandidateMinDays" << "90" << QJsonValue(90) << byName;
    QTest::newRow("installer days") << "installerMaxAgeDays" << "0" << QJsonValue(0) << byName;
    QTest::newRow("video by type") << "videoSearchMode"
                                   << "Все крупные видео" << QJsonValue(QStringLiteral("fileType")) << byName;
    QTest::newRow("video by name") << "videoSearchMode"
                                   << "По тексту в имени" << QJsonValue(QStringLiteral("namePrefix")) << byType;
    QTest::newRow("video size") << "plusVideoThresholdMB" << "120.5" << QJsonValue(120.5) << byType;
    QTest::newRow("video text") << "videoNamePrefix" << "+готово" << QJsonValue(QStringLiteral("+готово")) << byName;
    QTest::newRow("large folders") << "largeFolderThresholdGB" << "0,25" << QJsonValue(0.25) << byName;
    QTest::newRow("large files") << "largeFileThresholdMB" << "700" << QJsonValue(700) << byName;
    QTest::newRow("statistics off") << "analyticsEnabled" << "toggle" << QJsonValue(false) << byName;
    QTest::newRow("error reports off") << "errorReportingEnabled" << "toggle" << QJsonValue(false) << byName;
}

void tst_SettingsView::everyControlWritesItsField()
{
    QFETCH(QString, field);
    QFETCH(QString, input);
    QFETCH(QJsonValue, expected);
    QFETCH(QString, videoMode);

    AppSettings start = m_state->settings();
    start.videoSearchMode = *VideoSearchModes::fromRawValue(videoMode);
    m_state->setSettings(start);
    const QJsonObject before = published();
    QVERIFY(before.value(field) != expected);

    QWidget* widget = control(field);
    QVERIFY2(widget->isVisible(), "the control is on screen");
    if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(combo->findText(input));
    } else {
        QLineEdit* edit = qobject_cast<QLineEdit*>(widget);
        if (auto* number = qobject_cast<SettingsNumberField*>(widget)) {
            edit = number->lineEdit();
            QVERIFY(number->errorText().isEmpty());
        }
        QVERIFY(edit);
        edit->selectAll();
        ViewTestBed::typeText(edit, input);
    }

    // Exactly this field changed, in the published and in the stored record.
    QJsonObject after = before;
    after.insert(field, expected);
    QCOMPARE(published(), after);
    QCOMPARE(stored(), after);
}

void tst_SettingsView::numbersTheRecordMustNotHoldAreRefused_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("message");
    const QString threshold = SettingsNumberField::thresholdMessage;
    const QString days = SettingsNumberField::daysMessage;
    QTest::newRow("negative size") << "archiveCandidateMinGB" << "-1" << threshold;
    QTest::newRow("infinite size") << "largeFolderThresholdGB" << "inf" << threshold;
    QTest::newRow("not a number") << "largeFileThresholdMB" << "nan" << threshold;
    QTest::newRow("huge exponent") << "largeFileThresholdMB" << "1e999" << threshold;
    QTest::newRow("words") << "largeFolderThresholdGB" << "пять" << threshold;
    QTest::newRow("empty size") << "archiveCandidateMinGB" << "" << threshold;
    QTest::newRow("fractional days") << "archiveCandidateMinDays" << "2,5" << days;
    QTest::newRow("fractional days, point") << "installerMaxAgeDays" << "30.0" << days;
    QTest::newRow("negative days") << "installerMaxAgeDays" << "-7" << days;
    QTest::newRow("exponent days") << "archiveCandidateMinDays" << "1e2" << days;
    QTest::newRow("days beyond 64 bits") << "archiveCandidateMinDays" << "99999999999999999999" << days;
}

void tst_SettingsView::numbersTheRecordMustNotHoldAreRefused()
{
    QFETCH(QString, field);
    QFETCH(QString, input);
    QFETCH(QString, message);

    const QJsonObject before = published();
    auto* number = qobject_cast<SettingsNumberField*>(control(field));
    QVERIFY(number);
    number->lineEdit()->selectAll();
    if (input.isEmpty()) {
        QTest::keyClick(number->lineEdit(), Qt::Key_Backspace);
    } else {
        pasteText(number->lineEdit(), input);
    }
    QCOMPARE(number->errorText(), message);
    // The text stays for the user to mend; nothing was published or stored.
    QCOMPARE(number->lineEdit()->text(), input);
    QCOMPARE(published(), before);
    QVERIFY(stored().isEmpty());

    // A value the record may hold clears the message and is saved.
    number->lineEdit()->selectAll();
    ViewTestBed::typeText(number->lineEdit(), QStringLiteral("12"));
    QVERIFY(number->errorText().isEmpty());
    QCOMPARE(stored().value(field), QJsonValue(12));
}

void tst_SettingsView::archiveFolderStatus()
{
    IconTextLine* line = m_view->archiveStatusLine();
    auto* path = qobject_cast<QLineEdit*>(control(QStringLiteral("archivePath")));
    const QString archive = m_fixture->home.makeDir(QStringLiteral("Диск/Brisko Archive"));
    const QString locked = m_fixture->home.makeDir(QStringLiteral("Другой/Архив"));
    const QString file = m_fixture->home.makeFile(QStringLiteral("файл-архив"), 3);
    const QString notThere = m_fixture->home.filePath(QStringLiteral("Архив/ещё нет"));
    const QString unwritable = QStringLiteral("Проверьте подключение архивного диска");
    const QList<std::tuple<QString, QString, IconTextLine::Tone, QString>> rows = {
        {notThere, QStringLiteral("Папка будет создана при первом переносе"), IconTextLine::Tone::warning,
         QStringLiteral("exclamationmark.triangle.fill")},
        {archive, QStringLiteral("Архив доступен для записи"), IconTextLine::Tone::success,
         QStringLiteral("checkmark.circle.fill")},
        // The folder itself refuses writing although its parent would allow it.
        {locked, unwritable, IconTextLine::Tone::warning, QStringLiteral("exclamationmark.triangle.fill")},
        // A file in the folder's place cannot take moved items either.
        {file, unwritable, IconTextLine::Tone::warning, QStringLiteral("exclamationmark.triangle.fill")},
    };
    m_fixture->fs->denyWrite(QFile::encodeName(locked));
    for (const auto& [typed, text, tone, symbol] : rows) {
        path->selectAll();
        ViewTestBed::typeText(path, typed);
        QCOMPARE(line->text(), text);
        QCOMPARE(line->tone(), tone);
        QCOMPARE(line->symbolName(), symbol);
    }
    // A read-only disk: the parent refuses writing.
    m_fixture->fs->denyWrite(QFile::encodeName(m_fixture->home.filePath(QStringLiteral("Диск"))));
    path->selectAll();
    ViewTestBed::typeText(path, archive + QStringLiteral("/"));
    QCOMPARE(line->text(), unwritable);
}

void tst_SettingsView::pickedArchiveFolderIsShown()
{
    const QString picked = m_fixture->home.makeDir(QStringLiteral("Том/Brisko Archive"));
    m_fixture->chooser->answer = FilePath::fromString(picked);
    auto* browse = qobject_cast<QPushButton*>(control(QStringLiteral("pickArchiveFolder")));
    QVERIFY(browse);
    browse->click();
    QCOMPARE(m_fixture->chooser->asked.size(), 1);
    QCOMPARE(qobject_cast<QLineEdit*>(control(QStringLiteral("archivePath")))->text(), picked);
    QCOMPARE(m_view->archiveStatusLine()->text(), QStringLiteral("Архив доступен для записи"));
    QCOMPARE(stored().value(QStringLiteral("archivePath")).toString(), picked);
}

void tst_SettingsView::vocabularyLinksAndVersion()
{
    const QString keywords = qobject_cast<QLabel*>(control(QStringLiteral("archiveKeywords")))->text();
    QVERIFY(keywords.startsWith(QStringLiteral("Также находит папки с ключевыми словами: ")));
    for (const QString& word : DiskScanner::archiveCandidateKeywords()) {
        QVERIFY2(keywords.contains(word), qPrintable(word));
    }

    AppSettings settings = m_state->settings();
    settings.videoSearchMode = VideoSearchMode::fileType;
    settings.privacyPolicyURL = QStringLiteral("https://example.test/brisko-vella/privacy");
    m_state->setSettings(settings);
    auto* types = qobject_cast<QLabel*>(control(QStringLiteral("videoTypes")));
    QVERIFY(types->isVisible());
    QVERIFY(types->text().startsWith(QStringLiteral("Типы: .")));
    QVERIFY(types->text().contains(QStringLiteral(".mov")));
    QVERIFY(!control(QStringLiteral("videoNamePrefix"))->isVisible());

    auto* anonymousId = qobject_cast<QLabel*>(control(QStringLiteral("anonymousId")));
    QCOMPARE(anonymousId->text(), m_fixture->usage->anonymousId());

    auto* privacy = qobject_cast<QLabel*>(control(QStringLiteral("privacyLink")));
    Q_EMIT privacy->linkActivated(QStringLiteral("privacy"));
    QCOMPARE(m_bed->workspace.opened, QList<QUrl>{QUrl(settings.privacyPolicyURL)});

    // Without an update service only the running version is shown.
    QVERIFY(!control(QStringLiteral("checkForUpdates"))->isVisible());
    QVERIFY(qobject_cast<QLabel*>(control(QStringLiteral("currentVersion")))
                ->text()
                .startsWith(QStringLiteral("Текущая версия: ")));
}

BRISKO_TEST(tst_SettingsView)
#include "tst_SettingsView.moc"
