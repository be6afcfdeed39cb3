#include "RegionBlockedView.h"

#include "GateScreenParts.h"
#include "ProminentButton.h"
#include "Theme.h"

#include <QVBoxLayout>

RegionBlockedView::RegionBlockedView(QWidget* parent)
    : QWidget(parent)
{
    const Theme theme = Theme::of(this);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(Theme::spacing);
    column->addStretch(1);
    column->addWidget(GateScreenParts::mark(72, this), 0, Qt::AlignHCenter);
    column->addSpacing(Theme::smallSpacing);

    QLabel* heading = GateScreenParts::text(QStringLiteral("Регион не поддерживается"), theme.titleFont(), false, this);
    heading->setAlignment(Qt::AlignHCenter);
    column->addWidget(heading);
    QLabel* reason = GateScreenParts::text(
        QStringLiteral("Brisko Vella недоступен в вашем регионе.\n"
                       "Приложение предназначено для пользователей в Российской Федерации."),
        theme.bodyFont(), true, this);
    reason->setAlignment(Qt::AlignHCenter);
    column->addWidget(reason);

    column->addSpacing(Theme::spacing);
    m_quit = new ProminentButton(QStringLiteral("Выйти"), this);
    m_quit->setMinimumWidth(160);
    m_quit->setDefault(true);
    column->addWidget(m_quit, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(m_quit, &QPushButton::clicked, this, &RegionBlockedView::quitRequested);
}
