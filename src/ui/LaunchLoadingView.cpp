#include "LaunchLoadingView.h"

#include "GateScreenParts.h"
#include "Theme.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

LaunchLoadingView::LaunchLoadingView(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
{
    const Theme theme = Theme::of(this);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(Theme::spacing);
    column->addStretch(1);
    column->addWidget(GateScreenParts::mark(72, this), 0, Qt::AlignHCenter);
    column->addSpacing(Theme::smallSpacing);

    m_title = GateScreenParts::text(title, theme.largeTitleFont(), false, this);
    m_title->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_title);
    m_subtitle = GateScreenParts::text(subtitle, theme.bodyFont(), true, this);
    m_subtitle->setAlignment(Qt::AlignHCenter);
    column->addWidget(m_subtitle);

    column->addSpacing(Theme::spacing);
    m_indicator = new QProgressBar(this);
    m_indicator->setRange(0, 0);
    m_indicator->setTextVisible(false);
    m_indicator->setFixedSize(220, 6);
    m_indicator->setAccessibleName(subtitle);
    column->addWidget(m_indicator, 0, Qt::AlignHCenter);
    column->addStretch(1);
}

QString LaunchLoadingView::title() const
{
    return m_title->text();
}

QString LaunchLoadingView::subtitle() const
{
    return m_subtitle->text();
}
