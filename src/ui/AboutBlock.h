#pragma once

#include <QWidget>

class QLabel;
struct WindowServices;

// The maker's logo and mark, the product name and tagline, the version and
// build of this bundle, and how to reach the maker (mail and web site open
// through the workspace).
class AboutBlock : public QWidget
{
    Q_OBJECT

public:
    explicit AboutBlock(const WindowServices& services, QWidget* parent = nullptr);

    // "Версия 1.4.2 (build 42)" from the bundle facts.
    static QString versionLine();

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateArtwork();

    QLabel* m_logo;
    QLabel* m_mark;
};
