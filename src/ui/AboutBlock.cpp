#include "AboutBlock.h"

#include "IconSet.h"
#include "MakerContacts.h"
#include "Theme.h"
#include "WindowServices.h"
#include "platform/BundleFacts.h"
#include "platform/Workspace.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int markSize = 56;
const QSize logoSize(150, 36);
} // namespace

AboutBlock::AboutBlock(const WindowServices& services, QWidget* parent)
    : QWidget(parent)
    , m_logo(new QLabel(this))
    , m_mark(new QLabel(this))
{
    const Theme theme(palette());
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(Theme::padding);
    m_mark->setFixedSize(markSize, markSize);
    m_mark->setAccessibleName(QStringLiteral("Korvane"));
    layout->addWidget(m_mark, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(Theme::smallSpacing);
    m_logo->setAccessibleName(QStringLiteral("Korvane"));
    column->addWidget(m_logo);
    auto* product = new QLabel(QStringLiteral("Brisko Vella"), this);
    product->setFont(theme.titleFont());
    column->addWidget(product);
    auto* tagline = new QLabel(QStringLiteral("Очистка, архивация и оптимизация диска для macOS (РФ)"), this);
    tagline->setWordWrap(true);
    column->addWidget(tagline);
    auto* version = new QLabel(versionLine(), this);
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(version);

    auto* rows = new QGridLayout;
    rows->setHorizontalSpacing(Theme::spacing);
    rows->setVerticalSpacing(Theme::smallSpacing);
    const auto addRow = [&](int row, const QString& name, QLabel* value) {
        auto* key = new QLabel(name, this);
        key->setForegroundRole(QPalette::PlaceholderText);
        rows->addWidget(key, row, 0);
        rows->addWidget(value, row, 1);
    };
    addRow(0, QStringLiteral("Организация"), new QLabel(MakerContacts::organisation, this));
    const auto makeLink = [&](const QString& text, const QUrl& url) {
        auto* link = new QLabel(
            QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toString(QUrl::FullyEncoded), text.toHtmlEscaped()), this);
        link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
        Workspace* workspace = services.workspace;
        connect(link, &QLabel::linkActivated, this, [workspace](const QString& href) {
            if (workspace) {
                workspace->openUrl(QUrl(href));
            }
        });
        return link;
    };
    addRow(1, QStringLiteral("Email"),
           makeLink(MakerContacts::email, QUrl(QStringLiteral("mailto:") + MakerContacts::email)));
    addRow(2, QStringLiteral("Сайт"), makeLink(MakerContacts::website, QUrl(MakerContacts::website)));
    rows->setColumnStretch(1, 1);
    column->addSpacing(Theme::smallSpacing);
    column->addLayout(rows);
    layout->addLayout(column, 1);
    updateArtwork();
}

QString AboutBlock::versionLine()
{
    const QString version
        = BundleFacts::infoString(QStringLiteral("CFBundleShortVersionString")).value_or(QStringLiteral("0.0.0"));
    const QString build = BundleFacts::infoString(QStringLiteral("CFBundleVersion")).value_or(QStringLiteral("0"));
    return QStringLiteral("Версия ") + version + QStringLiteral(" (build ") + build + QStringLiteral(")");
}

void AboutBlock::updateArtwork()
{
    const qreal ratio = devicePixelRatioF();
    m_mark->setPixmap(IconSet::korvaneMark(markSize, ratio));
    m_logo->setPixmap(IconSet::korvaneLogo(logoSize, Theme(palette()).text(), ratio));
}

void AboutBlock::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) {
        updateArtwork();
    }
    QWidget::changeEvent(event);
}
