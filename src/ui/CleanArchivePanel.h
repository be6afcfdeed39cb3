#pragma once

#include "PanelCard.h"
#include "WindowServices.h"
#include "archive/CleanArchiveProfile.h"
#include "archive/CleanArchiveSummary.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

// "Чистый архив" in the overview: the profile with its description, the
// packing switch (a settings field, saved at once), "Создать архив", and the
// archives saved in the archive folder with their size, "Восстановить" and
// "Показать". A restore asks first, saying how many entries come back and
// which are skipped because the home folder has them. The list is read when the panel is first shown and after every
// change the application state publishes. Buttons are disabled while busy.
class CleanArchivePanel : public PanelCard
{
    Q_OBJECT

public:
    explicit CleanArchivePanel(const WindowServices& services, QWidget* parent = nullptr);

    // The line under the profile picker.
    // Names the profile's folders as this home names them.
    static QString description(CleanArchiveProfile profile, const HomeLayout& layout);
    CleanArchiveProfile selectedProfile() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateArchives();
    void updateSettings();
    void updateBusy();
    void requestRestore(const CleanArchiveSummary& archive);

    WindowServices m_services;
    bool m_listedOnce = false;
    QComboBox* m_profile = nullptr;
    QLabel* m_description = nullptr;
    QCheckBox* m_compress = nullptr;
    QPushButton* m_create = nullptr;
    QPushButton* m_refresh = nullptr;
    QLabel* m_empty = nullptr;
    QVBoxLayout* m_rows = nullptr;
};
