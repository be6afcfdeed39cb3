#include "BriskoTest.h"
#include "ServerTestBed.h"
#include "ViewTestBed.h"

#include "FeedbackSheet.h"
#include "IconTextLine.h"
#include "SettingsNumberField.h"
#include "SettingsView.h"
#include "app/AppState.h"
#include "scan/DiskScanner.h"
#include "server/FeedbackService.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

// The settings section over a real application state and defaults store; the
// feedback form's rules are FeedbackService's test, here only what the sheet shows.
class tst_SettingsView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_view.reset();
        m_bed = std::make_unique<ViewTestBed>();
        m_state = m_bed->state();
        m_view = std::make_unique<SettingsView>(m_bed->services());
        m_view->resize(900, 800);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }
    void cleanup() { m_view.reset(); }
    void everyControlWritesItsField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QJsonValue>("expected");
        // The video mode the record starts with, so that the mode's own form is shown.
        QTest::addColumn<QString>("videoMode");
        const QString byName = QStringLiteral("namePrefix");
        const QString byType = QStringLiteral("fileType");
        const QString archive = QStringLiteral("/media/Внешний диск/Архив");
        QTest::newRow("low power on") << "lowPowerMode" << "toggle" << QJsonValue(true) << byName;
        QTest::newRow("archive path") << "archivePath" << archive << QJsonValue(archive) << byName;
        QTest::newRow("candidate size") << "archiveCandidateMinGB" << "2,5" << QJsonValue(2.5) << byName;
        QTest::newRow("candidate days") << "archiveCandidateMinDays" << "90" << QJsonValue(90) << byName;
        QTest::newRow("installer days") << "installerMaxAgeDays" << "0" << QJsonValue(0) << byName;
        QTest::newRow("video by type") << "videoSearchMode" << "Все крупные видео" << QJsonValue(byType) << byName;
        QTest::newRow("video by name") << "videoSearchMode" << "По тексту в имени" << QJsonValue(byName) << byType;
        QTest::newRow("video size") << "plusVideoThresholdMB" << "120.5" << QJsonValue(120.5) << byType;
        QTest::newRow("video text") << "videoNamePrefix" << "+готово" << QJsonValue(QStringLiteral("+готово")) << byName;
        QTest::newRow("large folders") << "largeFolderThresholdGB" << "0,25" << QJsonValue(0.25) << byName;
        QTest::newRow("large files") << "largeFileThresholdMB" << "700" << QJsonValue(700) << byName;
        QTest::newRow("statistics off") << "analyticsEnabled" << "toggle" << QJsonValue(false) << byName;
        QTest::newRow("error reports off") << "errorReportingEnabled" << "toggle" << QJsonValue(false) << byName;
    }

    void everyControlWritesItsField()
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
            auto* number = qobject_cast<SettingsNumberField*>(widget);
            QLineEdit* edit = number ? number->lineEdit() : qobject_cast<QLineEdit*>(widget);
            QVERIFY(edit && (!number || number->errorText().isEmpty()));
            replaceText(edit, input);
        }
        // Exactly this field changed, in the published and in the stored record.
        QJsonObject after = before;
        after.insert(field, expected);
        QCOMPARE(published(), after);
        QCOMPARE(m_bed->storedSettings(), after);
    }

    void numbersTheRecordMustNotHoldAreRefused_data()
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

    void numbersTheRecordMustNotHoldAreRefused()
    {
        QFETCH(QString, field);
        QFETCH(QString, input);
        QFETCH(QString, message);
        const QJsonObject before = published();
        auto* number = control<SettingsNumberField>(field);
        replaceText(number->lineEdit(), input, true);
        QCOMPARE(number->errorText(), message);
        // The text stays for the user to mend; nothing was published or stored.
        QCOMPARE(number->lineEdit()->text(), input);
        QCOMPARE(published(), before);
        QVERIFY(m_bed->storedSettings().isEmpty());

        // A value the record may hold clears the message and is saved.
        replaceText(number->lineEdit(), QStringLiteral("12"));
        QVERIFY(number->errorText().isEmpty());
        QCOMPARE(m_bed->storedSettings().value(field), QJsonValue(12));
    }

    void archiveFolderStatus()
    {
        TempHome& home = m_bed->fixture.home;
        IconTextLine* line = m_view->archiveStatusLine();
        auto* path = control<QLineEdit>(QStringLiteral("archivePath"));
        const QString archive = home.makeDir(QStringLiteral("Диск/Brisko Archive"));
        const QString locked = home.makeDir(QStringLiteral("Другой/Архив"));
        m_bed->fixture.fs->denyWrite(QFile::encodeName(locked));
        const QString warning = QStringLiteral("exclamationmark.triangle.fill");
        const QString unwritable = QStringLiteral("Проверьте подключение архивного диска");
        const auto expect = [&](const QString& typed, const QString& text, IconTextLine::Tone tone, const QString& symbol) {
            replaceText(path, typed);
            QCOMPARE(line->text(), text);
            QCOMPARE(line->tone(), tone);
            QCOMPARE(line->symbolName(), symbol);
        };
        expect(home.filePath(QStringLiteral("Архив/ещё нет")), QStringLiteral("Папка будет создана при первом переносе"),
               IconTextLine::Tone::warning, warning);
        expect(archive, QStringLiteral("Архив доступен для записи"), IconTextLine::Tone::success,
               QStringLiteral("checkmark.circle.fill"));
        // The folder itself refuses writing although its parent would allow it.
        expect(locked, unwritable, IconTextLine::Tone::warning, warning);
        // A file in the folder's place cannot take moved items either.
        expect(home.makeFile(QStringLiteral("файл-архив"), 3), unwritable, IconTextLine::Tone::warning, warning);
        // A read-only disk: the parent refuses writing.
        m_bed->fixture.fs->denyWrite(QFile::encodeName(home.filePath(QStringLiteral("Диск"))));
        expect(archive + QStringLiteral("/"), unwritable, IconTextLine::Tone::warning, warning);

        // A folder picked in the dialog is shown, checked and stored.
        const QString picked = home.makeDir(QStringLiteral("Том/Brisko Archive"));
        m_bed->fixture.chooser->answer = FilePath::fromString(picked);
        control<QPushButton>(QStringLiteral("pickArchiveFolder"))->click();
        QCOMPARE(m_bed->fixture.chooser->asked.size(), 1);
        QCOMPARE(path->text(), picked);
        QCOMPARE(line->text(), QStringLiteral("Архив доступен для записи"));
        QCOMPARE(m_bed->storedSettings().value(QStringLiteral("archivePath")).toString(), picked);
    }

    void vocabularyLinksAndVersion()
    {
        const QString keywords = control<QLabel>(QStringLiteral("archiveKeywords"))->text();
        QVERIFY(keywords.startsWith(QStringLiteral("Также находит папки с ключевыми словами: ")));
        QVERIFY(keywords.contains(DiskScanner::archiveCandidateKeywords().constLast()));

        AppSettings settings = m_state->settings();
        settings.videoSearchMode = VideoSearchMode::fileType;
        settings.privacyPolicyURL = QStringLiteral("https://example.test/brisko-vella/privacy");
        m_state->setSettings(settings);
        auto* types = control<QLabel>(QStringLiteral("videoTypes"));
        QVERIFY(types->isVisible());
        QVERIFY(types->text().startsWith(QStringLiteral("Типы: .")) && types->text().contains(QStringLiteral(".mov")));
        QVERIFY(!control(QStringLiteral("videoNamePrefix"))->isVisible());
        QCOMPARE(control<QLabel>(QStringLiteral("anonymousId"))->text(), m_bed->fixture.usage->anonymousId());
        Q_EMIT control<QLabel>(QStringLiteral("privacyLink"))->linkActivated(QStringLiteral("privacy"));
        QCOMPARE(m_bed->workspace.opened, QList<QUrl>{QUrl(settings.privacyPolicyURL)});

        // Without an update service only the running version is shown.
        QVERIFY(!control(QStringLiteral("checkForUpdates"))->isVisible());
        QVERIFY(control<QLabel>(QStringLiteral("currentVersion"))->text().startsWith(QStringLiteral("Текущая версия: ")));
    }

    void feedbackForm()
    {
        ServerTestBed server;
        QVERIFY(server.isValid());
        AppSettings settings = m_state->settings();
        settings.feedbackEndpoint = server.server.endpoint(QStringLiteral("feedback.php"));
        m_state->setSettings(settings);
        FeedbackService feedback(&server.transport, ServerTestBed::info(),
                                 FeedbackDiagnostics::platform(server.store, m_bed->fixture.home.path()));
        WindowServices services = m_bed->services();
        services.feedback = &feedback;
        SettingsView view(services);
        view.show();
        QVERIFY(!view.feedbackSheet());
        control<QPushButton>(QStringLiteral("writeToDeveloper"), &view)->click();
        FeedbackSheet* sheet = view.feedbackSheet();
        QVERIFY(sheet && sheet->isVisible());
        const QString path = QStringLiteral("/api/brisko/feedback.php");

        // A refused message stays for the user to mend, the service's reason beside it.
        server.server.enqueue(path, ScriptedResponse::json(500, R"({"error":"Сервер перегружен"})"));
        sheet->messageEdit()->setPlainText(QStringLiteral("Не открывается раздел охлаждения"));
        sheet->sendButton()->click();
        QTRY_VERIFY(!feedback.isSending());
        QCOMPARE(sheet->resultLine()->text(), QStringLiteral("Сервер перегружен"));
        QCOMPARE(sheet->resultLine()->tone(), IconTextLine::Tone::warning);
        QCOMPARE(sheet->messageEdit()->toPlainText(), QStringLiteral("Не открывается раздел охлаждения"));

        server.server.enqueue(path, ScriptedResponse::json(200, R"({"ok":true,"message":"Получили, спасибо!"})"));
        sheet->emailEdit()->setText(QStringLiteral("user@пример.рф"));
        sheet->diagnosticsSwitch()->setChecked(true);
        // The answer comes through the event loop, which does not run before the
        // test waits: until then the request runs, and a second click sends nothing more.
        QPushButton* send = sheet->sendButton();
        send->click();
        QVERIFY(feedback.isSending() && !send->isEnabled());
        QCOMPARE(send->text(), QStringLiteral("Отправка…"));
        send->click();
        QTRY_VERIFY(!feedback.isSending());
        QVERIFY(send->isEnabled());
        QCOMPARE(sheet->resultLine()->text(), QStringLiteral("Получили, спасибо!"));
        QCOMPARE(sheet->resultLine()->tone(), IconTextLine::Tone::success);
        QVERIFY(sheet->messageEdit()->toPlainText().isEmpty());
        const QList<RecordedRequest> requests = server.server.requests(path);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.last().json().value(QLatin1String("email")).toString(), QStringLiteral("user@пример.рф"));
        QVERIFY(requests.last().json().value(QLatin1String("diagnostics")).isObject());
        sheet->closeButton()->click();
        QVERIFY(!sheet->isVisible());
    }

private:
    QJsonObject published() const
    {
        QJsonObject object;
        [&] { QVERIFY(m_state->settings().toJsonObject(&object)); }();
        return object;
    }
    template <typename T = QWidget>
    T* control(const QString& field, QWidget* view = nullptr) const
    {
        T* widget = (view ? view : m_view.get())->findChild<T*>(field);
        [&] { QVERIFY2(widget, qPrintable(field)); }();
        return widget;
    }
    // Replaces the whole text as a user would: typed key by key, or in one
    // edit as a paste does, so that no prefix of it is ever in the field.
    static void replaceText(QLineEdit* edit, const QString& text, bool paste = false)
    {
        edit->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Backspace);
        } else if (paste) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
            QApplication::sendEvent(edit, &press);
        } else {
            ViewTestBed::typeText(edit, text);
        }
    }

    std::unique_ptr<ViewTestBed> m_bed;
    AppState* m_state = nullptr;
    std::unique_ptr<SettingsView> m_view;
};

BRISKO_TEST(tst_SettingsView)
#include "tst_SettingsView.moc"
