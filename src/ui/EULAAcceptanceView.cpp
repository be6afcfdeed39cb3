#include "EULAAcceptanceView.h"

#include "GateCard.h"
#include "GateScreenParts.h"
#include "ProminentButton.h"
#include "Theme.h"
#include "app/AppState.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {
struct Section
{
    QString title;
    QStringList paragraphs;
};

const QString agreementHeading =
    QStringLiteral("Лицензионное соглашение с конечным пользователем программы Brisko Vella (правообладатель — Korvane)");
const QString closing = QStringLiteral(
    "Нажимая «Принимаю», вы подтверждаете, что прочитали настоящее соглашение и согласны со всеми его условиями.");

QList<Section> sections()
{
    return {
        {QStringLiteral("1. Правообладатель"),
         {QStringLiteral("Исключительное право на программу Brisko Vella (далее — «Программа»), включая её код, "
                         "интерфейс, тексты и изображения, принадлежит Korvane (далее — «Правообладатель»). "
                         "Настоящее соглашение заключается между Правообладателем и вами (далее — "
                         "«Пользователь»).")}},
        {QStringLiteral("2. Предмет соглашения"),
         {QStringLiteral("Правообладатель предоставляет Пользователю безвозмездную простую (неисключительную) "
                         "лицензию на использование Программы по её назначению на компьютерах под управлением "
                         "macOS 13 и новее, а также поддерживаемых дистрибутивов Linux, на территориях, где "
                         "использование Программы не запрещено настоящим соглашением."),
          QStringLiteral("Пользователь не вправе продавать Программу, сдавать её в аренду, изменять, "
                         "декомпилировать или распространять изменённые копии, кроме случаев, прямо разрешённых "
                         "законом.")}},
        {QStringLiteral("3. Рекламные баннеры"),
         {QStringLiteral("Программа показывает баннеры партнёров Правообладателя. Баннер открывается во внешнем "
                         "браузере только по нажатию Пользователя; Программа не передаёт партнёрам сведения о "
                         "Пользователе.")}},
        {QStringLiteral("4. Анонимная статистика"),
         {QStringLiteral("Для улучшения Программы собирается анонимная статистика: запуски, сканирования, нажатия "
                         "на баннеры и сведения об ошибках. Содержимое файлов, имена пользователей и адреса "
                         "электронной почты не собираются и не передаются. Отправку статистики можно отключить в "
                         "настройках Программы.")}},
        {QStringLiteral("5. Территориальные ограничения"),
         {QStringLiteral("Использование Программы на территории Украины запрещено. При запуске Программа проверяет "
                         "регион Пользователя и может быть заблокирована, если регион не поддерживается.")}},
        {QStringLiteral("6. Обновления"),
         {QStringLiteral("Программа автоматически проверяет наличие обновлений, загружает и устанавливает их с "
                         "серверов Правообладателя. Устанавливая обновление, Пользователь принимает действующую "
                         "редакцию настоящего соглашения.")}},
        {QStringLiteral("7. Ограничение ответственности"),
         {QStringLiteral("Программа предоставляется «как есть». Правообладатель не гарантирует, что Программа "
                         "подойдёт для конкретных целей Пользователя, и не отвечает за потерю данных, упущенную "
                         "выгоду и иные убытки, возникшие при её использовании."),
          QStringLiteral("Перед удалением или переносом файлов Пользователь обязан проверить результаты "
                         "сканирования. Программа ничего не удаляет и не переносит без подтверждения "
                         "Пользователя.")}},
        {QStringLiteral("8. Контакты"),
         {QStringLiteral("Вопросы и предложения по Программе и настоящему соглашению Пользователь может направить "
                         "Правообладателю через пункт меню «Справка → Написать разработчику» или форму обратной "
                         "связи в настройках Программы.")}},
    };
}
} // namespace

QString EULAAcceptanceView::agreementText()
{
    QStringList lines{agreementHeading, QString()};
    for (const Section& section : sections()) {
        lines.append(section.title);
        lines.append(section.paragraphs);
        lines.append(QString());
    }
    lines.append(closing);
    return lines.join(u'\n');
}

QString EULAAcceptanceView::agreementHtml()
{
    QString html = QStringLiteral("<p><b>%1</b></p>").arg(agreementHeading.toHtmlEscaped());
    for (const Section& section : sections()) {
        html += QStringLiteral("<p style=\"margin-top:14px\"><b>%1</b></p>").arg(section.title.toHtmlEscaped());
        for (const QString& paragraph : section.paragraphs) {
            html += QStringLiteral("<p>%1</p>").arg(paragraph.toHtmlEscaped());
        }
    }
    html += QStringLiteral("<p style=\"margin-top:14px\"><i>%1</i></p>").arg(closing.toHtmlEscaped());
    return html;
}

EULAAcceptanceView::EULAAcceptanceView(AppState* appState, QWidget* parent)
    : QWidget(parent)
    , m_appState(appState)
{
    const Theme theme = Theme::of(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 40, 0, 40);

    auto* card = new GateCard(this);
    card->setFixedWidth(780);
    outer->addWidget(card, 1, Qt::AlignHCenter);

    auto* column = new QVBoxLayout(card);
    column->setContentsMargins(28, 24, 28, 24);
    column->setSpacing(Theme::spacing);

    auto* headerRow = new QHBoxLayout;
    headerRow->setSpacing(Theme::spacing);
    headerRow->addWidget(GateScreenParts::mark(40, card));
    auto* headerText = new QVBoxLayout;
    headerText->setSpacing(2);
    headerText->addWidget(GateScreenParts::text(QStringLiteral("Лицензионное соглашение"), theme.titleFont(), false, card));
    headerText->addWidget(GateScreenParts::text(
        QStringLiteral("Прочитайте условия использования Brisko Vella"), theme.captionFont(), true, card));
    headerRow->addLayout(headerText, 1);
    column->addLayout(headerRow);

    m_text = new QTextBrowser(card);
    m_text->setOpenLinks(false);
    m_text->setHtml(agreementHtml());
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setFrameShape(QFrame::NoFrame);
    m_text->document()->setDocumentMargin(12);
    QPalette textPalette = m_text->palette();
    textPalette.setColor(QPalette::Base, theme.windowBackground());
    m_text->setPalette(textPalette);
    m_text->setAccessibleName(QStringLiteral("Текст лицензионного соглашения"));
    column->addWidget(m_text, 1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(Theme::spacing);
    buttons->addStretch(1);
    m_quit = new QPushButton(QStringLiteral("Выйти"), card);
    m_quit->setAutoDefault(false);
    m_quit->setMinimumWidth(110);
    buttons->addWidget(m_quit);
    m_accept = new ProminentButton(QStringLiteral("Принимаю"), card);
    m_accept->setMinimumWidth(140);
    m_accept->setDefault(true);
    buttons->addWidget(m_accept);
    column->addLayout(buttons);

    // Outside a dialog a default button does not hear Return by itself.
    for (const QKeySequence& key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, m_accept, &QPushButton::click);
    }

    connect(m_quit, &QPushButton::clicked, this, &EULAAcceptanceView::quitRequested);
    connect(m_accept, &QPushButton::clicked, this, [this] {
        if (m_appState) {
            m_appState->acceptLicenceAgreement();
        }
    });
}
