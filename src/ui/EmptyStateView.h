#pragma once

#include <QWidget>

// What the results section shows without results: the maker's mark, a title
// and a hint where to start. Painted.
class EmptyStateView : public QWidget
{
    Q_OBJECT
public:
    EmptyStateView(const QString& title, const QString& hint, QWidget* parent = nullptr);

    QString title() const { return m_title; }
    QString hint() const { return m_hint; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
    QString m_hint;
};
