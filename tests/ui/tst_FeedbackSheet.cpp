#include "BriskoTest.h"
#include "ServerTestBed.h"
#include "ViewTestBed.h"

#include "FeedbackSheet.h"
#include "IconTextLine.h"
#include "SettingsView.h"
#include "app/AppState.h"
#include "server/FeedbackService.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

// The feedback form against the loopback server: what it sends, the send
// button closed while the request runs, and the result line.
class tst_FeedbackSheet : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_bed = std::make_unique<ServerTestBed>();
        QVERIFY(m_bed->isValid());
        m_view = std::make_unique<ViewTestBed>();
        AppSettings settings = m_view->state()->settings();
        settings.feedbackEndpoint = m_bed->server.endpoint(QStringLiteral("feedback.php"));
        m_view->state()->setSettings(settings);
        m_feedback = std::make_unique<FeedbackService>(
            &m_bed->transport, ServerTestBed::info(), FeedbackDiagnostics::platform(m_bed->store, m_view->fixture.home.path()));
        m_services = m_view->services();
        m_services.feedback = m_feedback.get();
        m_sheet = std::make_unique<FeedbackSheet>(m_services);
        m_sheet->open();
        QVERIFY(m_sheet->isVisible());
    }

    void cleanup()
    {
        m_sheet.reset();
        m_feedback.reset();
    }
    void sendingClosesTheButtonUntilTheAnswer()
    {
        m_bed->server.enqueue(feedbackPath,
                              ScriptedResponse::json(200, R"({"ok":true,"message":"Получили, спасибо!"})"));
        m_sheet->messageEdit()->setPlainText(QStringLiteral("  Скан завис на папке «Фото»  "));
        m_sheet->emailEdit()->setText(QStringLiteral("user@пример.рф"));
        m_sheet->diagnosticsSwitch()->setChecked(true);

        // The answer comes through the event loop, which does not run before the
        // test waits: until then the request runs.
        QPushButton* send = m_sheet->sendButton();
        send->click();
        QVERIFY(m_feedback->isSending());
        QVERIFY(!send->isEnabled());
        QCOMPARE(send->text(), QStringLiteral("Отправка…"));
        QVERIFY(m_sheet->closeButton()->isEnabled());
        // A second click while sending sends nothing more.
        send->click();

        QTRY_VERIFY(!m_feedback->isSending());
        QVERIFY(send->isEnabled());
        QCOMPARE(send->text(), QStringLiteral("Отправить"));
        result(QStringLiteral("Получили, спасибо!"), IconTextLine::Tone::success);
        QVERIFY(m_sheet->messageEdit()->toPlainText().isEmpty());

        const QList<RecordedRequest> requests = m_bed->server.requests(feedbackPath);
        QCOMPARE(requests.size(), 1);
        // What the form holds reaches the service.
        const QJsonObject body = requests.first().json();
        QCOMPARE(body.value(QLatin1String("message")).toString(), QStringLiteral("Скан завис на папке «Фото»"));
        QCOMPARE(body.value(QLatin1String("email")).toString(), QStringLiteral("user@пример.рф"));
        QVERIFY(body.value(QLatin1String("diagnostics")).isObject());

        m_sheet->closeButton()->click();
        QVERIFY(!m_sheet->isVisible());
    }

    void refusalsAndFailuresShowAWarning()
    {
        m_sheet->messageEdit()->setPlainText(QStringLiteral("тест"));
        m_sheet->sendButton()->click();
        result(FeedbackService::tooShortText, IconTextLine::Tone::warning);
        // A refused message stays for the user to complete.
        QCOMPARE(m_sheet->messageEdit()->toPlainText(), QStringLiteral("тест"));

        m_bed->server.enqueue(feedbackPath, ScriptedResponse::json(500, R"({"error":"Сервер перегружен"})"));
        m_sheet->messageEdit()->setPlainText(QStringLiteral("Не открывается раздел охлаждения"));
        m_sheet->sendButton()->click();
        QTRY_VERIFY(!m_feedback->isSending());
        result(QStringLiteral("Сервер перегружен"), IconTextLine::Tone::warning);
        QCOMPARE(m_sheet->messageEdit()->toPlainText(), QStringLiteral("Не открывается раздел охлаждения"));
        QVERIFY(!m_bed->server.requests(feedbackPath).first().json().contains(QLatin1String("diagnostics")));
    }

    void settingsOpenTheForm()
    {
        SettingsView settings(m_services);
        settings.show();
        auto* write = settings.findChild<QPushButton*>(QStringLiteral("writeToDeveloper"));
        QVERIFY(write && write->isEnabled());
        QVERIFY(!settings.feedbackSheet());
        write->click();
        QVERIFY(settings.feedbackSheet() && settings.feedbackSheet()->isVisible());
    }

private:
    void result(const QString& text, IconTextLine::Tone tone) const
    {
        QCOMPARE(m_sheet->resultLine()->text(), text);
        QCOMPARE(m_sheet->resultLine()->tone(), tone);
    }

    std::unique_ptr<ServerTestBed> m_bed;
    std::unique_ptr<ViewTestBed> m_view;
    std::unique_ptr<FeedbackService> m_feedback;
    WindowServices m_services;
    std::unique_ptr<FeedbackSheet> m_sheet;
    const QString feedbackPath = QStringLiteral("/api/brisko/feedback.php");
};

BRISKO_TEST(tst_FeedbackSheet)
#include "tst_FeedbackSheet.moc"
