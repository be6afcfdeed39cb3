#pragma once

#include "AppFixture.h"
#include "RecordingWorkspace.h"
#include "ScriptedConfirmer.h"

#include "WindowServices.h"
#include "app/AppState.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

// What a section is built from in widget tests. The application state is made
// on first use, so that a test can set the volumes and files it starts with.
struct ViewTestBed
{
    AppFixture fixture;
    ScriptedConfirmer confirmer;
    RecordingWorkspace workspace;

    AppState* state()
    {
        if (!m_state)
            m_state = std::make_unique<AppState>(fixture.environment());
        return m_state.get();
    }
    WindowServices services()
    {
        WindowServices services;
        services.appState = state();
        services.confirmer = &confirmer;
        services.workspace = &workspace;
        return services;
    }
    // Runs one category's scan to its end.
    void scan(ScanCategory category)
    {
        const QFuture<void> done = state()->runScan({category});
        QTRY_VERIFY_WITH_TIMEOUT(done.isFinished(), 20000);
    }
    void setArchivePath(const QString& path)
    {
        AppSettings settings = state()->settings();
        settings.archivePath = path;
        state()->setSettings(settings);
    }
    // The settings record as stored (empty when nothing was stored).
    QJsonObject storedSettings() const
    {
        const std::optional<QByteArray> bytes = fixture.store->data(AppState::settingsKey);
        return bytes ? QJsonDocument::fromJson(*bytes).object() : QJsonObject();
    }
    // Types text as a user would, key by key (QTest::keyClicks takes Latin-1
    // only; a Russian keyboard sends the letters as text).
    static void typeText(QWidget* widget, const QString& text)
    {
        for (const QChar letter : text)
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(letter), Qt::NoModifier);
    }

private:
    std::unique_ptr<AppState> m_state;
};
