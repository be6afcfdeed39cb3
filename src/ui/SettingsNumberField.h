#pragma once

#include <QWidget>

#include <optional>

class QLabel;
class QLineEdit;

// A plain numeric field of the settings screen. It takes "2,5" as well as
// "2.5" and publishes a value only when the settings record may hold it; any
// other text stays in the field with an inline message below it, and the
// stored value is left alone. Nothing is ever clamped into range.
class SettingsNumberField : public QWidget
{
    Q_OBJECT

public:
    enum class Kind {
        // A finite number of zero or more (gigabytes, megabytes).
        threshold,
        // A whole number of days, zero or more.
        days,
    };

    static inline const QString thresholdMessage = QStringLiteral("Введите число не меньше 0, например 5 или 2,5");
    static inline const QString daysMessage = QStringLiteral("Введите целое число дней не меньше 0");

    explicit SettingsNumberField(Kind kind, QWidget* parent = nullptr);

    // The accepted value of text, or nothing (with the message in *error).
    static std::optional<double> parse(Kind kind, const QString& text, QString* error = nullptr);
    // The exact day count of text (days fields), or nothing.
    static std::optional<qint64> parseDays(const QString& text);
    static QString display(double value);

    // Shows value unless the text already stands for it (keeps "5,0" while typing).
    void setValue(double value);
    QLineEdit* lineEdit() const { return m_edit; }
    // The inline message, empty while the text is accepted.
    QString errorText() const;

Q_SIGNALS:
    // The user typed an accepted value: valueEdited for thresholds,
    // daysEdited (exact, whatever its size) for day counts.
    void valueEdited(double value);
    void daysEdited(qint64 days);

private:
    void onEdited(const QString& text);

    Kind m_kind;
    QLineEdit* m_edit;
    QLabel* m_error;
};
