#include "FeedbackSheet.h"

#include "IconSet.h"
#include "IconTextLine.h"
#include "PanelCard.h"
#include "Theme.h"
#include "app/AppState.h"
#include "server/FeedbackService.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString sendText = QStringLiteral("Отправить");
const QString sendingText = QStringLiteral("Отправка…");
} // namespace

FeedbackSheet::FeedbackSheet(const WindowServices& services, QWidget* parent)
    : QDialog(parent)
    , m_services(services)
    , m_message(new QPlainTextEdit(this))
    , m_email(new QLineEdit(this))
    , m_diagnostics(new QCheckBox(QStringLiteral("Приложить диагностику"), this))
    , m_close(new QPushButton(QStringLiteral("Закрыть"), this))
    , m_send(new QPushButton(sendText, this))
    , m_result(new IconTextLine(this))
{
    const Theme theme(palette());
    setWindowTitle(QStringLiteral("Написать разработчику"));
    setMinimumWidth(480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Theme::padding + 4, Theme::padding + 4, Theme::padding + 4, Theme::padding);
    layout->setSpacing(Theme::spacing);

    auto* header = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(IconSet::pixmap(QStringLiteral("envelope.badge"), theme.accent(), 24, devicePixelRatioF()));
    header->addWidget(icon);
    auto* title = new QLabel(QStringLiteral("Написать разработчику"), this);
    title->setFont(theme.titleFont());
    header->addWidget(title, 1);
    layout->addLayout(header);
    layout->addWidget(PanelCard::makeNote(
        QStringLiteral("Ошибка, вопрос или предложение — сообщение уйдёт напрямую в Korvane."), this));

    m_message->setObjectName(QStringLiteral("feedbackMessage"));
    m_message->setPlaceholderText(QStringLiteral("Опишите проблему или идею…"));
    m_message->setMinimumHeight(140);
    m_message->setTabChangesFocus(true);
    layout->addWidget(m_message);

    m_email->setObjectName(QStringLiteral("feedbackEmail"));
    m_email->setPlaceholderText(QStringLiteral("Email для ответа (необязательно)"));
    m_email->setAccessibleName(QStringLiteral("Email для ответа (необязательно)"));
    layout->addWidget(m_email);

    m_diagnostics->setObjectName(QStringLiteral("feedbackDiagnostics"));
    layout->addWidget(m_diagnostics);
    auto* diagnosticsNote = PanelCard::makeNote(
        QStringLiteral("Модель Mac, версия macOS, свободное место, последние ошибки приложения. Без личных файлов."),
        this);
    diagnosticsNote->setContentsMargins(24, 0, 0, 0);
    layout->addWidget(diagnosticsNote);

    m_result->setObjectName(QStringLiteral("feedbackResult"));
    m_result->hide();
    layout->addWidget(m_result);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_close->setAutoDefault(false);
    buttons->addWidget(m_close);
    m_send->setDefault(true);
    buttons->addWidget(m_send);
    layout->addLayout(buttons);

    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_send, &QPushButton::clicked, this, &FeedbackSheet::send);
    if (FeedbackService* feedback = m_services.feedback) {
        connect(feedback, &FeedbackService::isSendingChanged, this, &FeedbackSheet::updateSending);
        connect(feedback, &FeedbackService::lastResultChanged, this, &FeedbackSheet::updateResult);
    }
    updateSending();
    updateResult();
}

void FeedbackSheet::send()
{
    FeedbackService* feedback = m_services.feedback;
    if (!feedback || feedback->isSending()) {
        return;
    }
    QString endpoint;
    QString anonymousId;
    if (AppState* state = m_services.appState) {
        endpoint = state->settings().feedbackEndpoint;
        anonymousId = state->anonymousId();
    }
    m_clearWhenSent = true;
    feedback->send(m_message->toPlainText(), m_email->text(), m_diagnostics->isChecked(), endpoint, anonymousId);
}

void FeedbackSheet::updateSending()
{
    const bool sending = m_services.feedback && m_services.feedback->isSending();
    m_send->setEnabled(m_services.feedback && !sending);
    m_send->setText(sending ? sendingText : sendText);
    updateIcons();
}

void FeedbackSheet::updateIcons()
{
    const Theme theme(palette());
    const bool sending = m_services.feedback && m_services.feedback->isSending();
    m_send->setIcon(IconSet::icon(sending ? QStringLiteral("hourglass") : QStringLiteral("paperplane.fill"),
                                  theme.accent(), theme.secondaryText()));
}

void FeedbackSheet::updateResult()
{
    const std::optional<FeedbackService::Result> result =
        m_services.feedback ? m_services.feedback->lastResult() : std::nullopt;
    if (!result) {
        m_result->hide();
        return;
    }
    const bool sent = result->kind == FeedbackService::Result::Kind::sent;
    m_result->setContent(sent ? QStringLiteral("checkmark.circle.fill")
                              : QStringLiteral("exclamationmark.triangle.fill"),
                         sent ? IconTextLine::Tone::success : IconTextLine::Tone::warning, result->text);
    m_result->show();
    if (sent && m_clearWhenSent) {
        m_message->clear();
    }
    m_clearWhenSent = false;
}
