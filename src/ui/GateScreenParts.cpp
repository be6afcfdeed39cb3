#include "GateScreenParts.h"

#include "IconSet.h"
#include "Theme.h"

QLabel* GateScreenParts::mark(int size, QWidget* parent)
{
    auto* label = new QLabel(parent);
    const qreal ratio = parent ? parent->devicePixelRatioF() : 1.0;
    label->setPixmap(IconSet::korvaneMark(size, qMax<qreal>(ratio, 2.0)));
    label->setFixedSize(size, size);
    label->setAccessibleName(QStringLiteral("Korvane"));
    return label;
}

QLabel* GateScreenParts::text(const QString& text, const QFont& font, bool secondary, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setWordWrap(true);
    if (secondary) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Theme::of(parent).secondaryText());
        label->setPalette(palette);
    }
    return label;
}
