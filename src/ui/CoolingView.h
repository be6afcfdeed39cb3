#pragma once

#include "WindowServices.h"
#include "model/FanControlMode.h"

#include <QWidget>

#include <optional>

class IconTextLine;
class PanelCard;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSlider;

// The "Охлаждение" section over the fan control service: the status banner,
// a card per temperature sensor and per fan, the fan mode with its sliders,
// the way back to system control, and the disclaimer. Polling runs only while
// the section is shown: showEvent starts the service with the stored fan
// settings, hideEvent stores them and pauses it. Every change of mode or of a
// slider is written into the application state's settings and saved.
//
// Handing a boost over to the automatic mode: the service's releaseToSystem()
// also sets the mode to system, and its automatic step acts only in autoBoost
// mode and only while it holds no boost of its own. So when "Auto при
// перегреве" is chosen while a manual boost holds the fans, the view first
// releases the fans to the system, and only when that release has finished
// sets the mode to autoBoost and runs applyAutoBoostIfNeeded(): at or above
// the threshold the automatic boost takes the fans at its own target at once,
// below it they stay with the system. The picker shows the chosen mode during
// the handover. Without a boost held the mode is set and checked directly.
//
// Fan control is not a file operation, so the section stays usable while the
// application state is busy: a long copy is when a boost is wanted.
class CoolingView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int sliderStep = 5;
    static inline const QString monitoringOnlyText =
        QStringLiteral("Только мониторинг — управление SMC недоступно на этом Mac.");
    static inline const QString noSensorsText
        = QStringLiteral("Датчики не ответили — попробуйте перезапустить вкладку.");
    static inline const QString noFansText = QStringLiteral("Нет данных об оборотах.");
    static inline const QString adminPendingText = QStringLiteral("Запрос прав администратора…");

    explicit CoolingView(const WindowServices& services, QWidget* parent = nullptr);

    // Nearest multiple of the slider step.
    static int snapToStep(int value);
    // What the picker asks for; the view carries it out as described above.
    void chooseMode(FanControlMode mode);
    void returnToSystem();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildHeader();
    void buildReadings();
    void buildControls();
    QSlider* makeSlider(const QString& name, int minimum, int maximum);

    void persistSettings();
    void updateSnapshot();
    void updateBanner();
    void updateControls();
    void updateAdminState();
    void onManualSlider(int value);
    void onThresholdSlider(int value);
    void onTargetSlider(int value);

    WindowServices m_services;
    bool m_refreshing = false;
    // The mode chosen in the picker while the fans are being handed over.
    std::optional<FanControlMode> m_pendingMode;

    IconTextLine* m_banner = nullptr;
    IconTextLine* m_alert = nullptr;
    QLabel* m_maxTemperature = nullptr;
    QLabel* m_noSensors = nullptr;
    QGridLayout* m_temperatureGrid = nullptr;
    QList<PanelCard*> m_temperatureCards;
    QLabel* m_noFans = nullptr;
    QGridLayout* m_fanGrid = nullptr;
    QList<PanelCard*> m_fanCards;
    QWidget* m_controls = nullptr;
    QWidget* m_lock = nullptr;
    QComboBox* m_mode = nullptr;
    QWidget* m_manualForm = nullptr;
    QWidget* m_autoForm = nullptr;
    QSlider* m_manualSlider = nullptr;
    QLabel* m_manualValue = nullptr;
    QSlider* m_thresholdSlider = nullptr;
    QLabel* m_thresholdValue = nullptr;
    QSlider* m_targetSlider = nullptr;
    QLabel* m_targetValue = nullptr;
    QPushButton* m_release = nullptr;
    QLabel* m_adminPending = nullptr;
};
