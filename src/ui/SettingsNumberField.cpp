#include "SettingsNumberField.h"

#include "Theme.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QVBoxLayout>

#include <cmath>

SettingsNumberField::SettingsNumberField(Kind kind, QWidget* parent)
    : QWidget(parent)
    , m_kind(kind)
    , m_edit(new QLineEdit(this))
    , m_error(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    m_edit->setMaximumWidth(160);
    m_edit->setInputMethodHints(kind == Kind::days ? Qt::ImhDigitsOnly : Qt::ImhFormattedNumbersOnly);
    m_error->setWordWrap(true);
    m_error->setFont(Theme(palette()).captionFont());
    QPalette errorPalette = m_error->palette();
    errorPalette.setColor(QPalette::WindowText, Theme(palette()).danger());
    m_error->setPalette(errorPalette);
    m_error->hide();
    layout->addWidget(m_edit);
    layout->addWidget(m_error);
    connect(m_edit, &QLineEdit::textEdited, this, &SettingsNumberField::onEdited);
}

std::optional<double> SettingsNumberField::parse(Kind kind, const QString& text, QString* error)
{
    if (kind == Kind::days) {
        if (const std::optional<qint64> days = parseDays(text)) {
            return double(*days);
        }
        if (error) {
            *error = daysMessage;
        }
        return std::nullopt;
    }
    QString plain = text.trimmed();
    plain.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(plain, &ok);
    if (ok && std::isfinite(value) && value >= 0) {
        return value;
    }
    if (error) {
        *error = thresholdMessage;
    }
    return std::nullopt;
}

std::optional<qint64> SettingsNumberField::parseDays(const QString& text)
{
    bool ok = false;
    const qint64 days = QLocale::c().toLongLong(text.trimmed(), &ok);
    if (ok && days >= 0) {
        return days;
    }
    return std::nullopt;
}

QString SettingsNumberField::display(double value)
{
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1Char('.'), QLatin1Char(','));
    return text;
}

void SettingsNumberField::setValue(double value)
{
    const std::optional<double> shown = parse(m_kind, m_edit->text());
    if (shown && *shown == value) {
        return;
    }
    m_edit->setText(display(value));
    m_error->clear();
    m_error->hide();
}

QString SettingsNumberField::errorText() const
{
    return m_error->text();
}

void SettingsNumberField::onEdited(const QString& text)
{
    QString error;
    const std::optional<double> value = parse(m_kind, text, &error);
    m_error->setText(error);
    m_error->setVisible(!error.isEmpty());
    if (!value) {
        return;
    }
    if (m_kind == Kind::days) {
        Q_EMIT daysEdited(*parseDays(text));
    } else {
        Q_EMIT valueEdited(*value);
    }
}
