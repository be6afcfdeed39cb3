#pragma once

#include "FakeClock.h"
#include "FaultInjectingFileSystem.h"
#include "RecordingSinks.h"
#include "TempHome.h"

#include "app/AppEnvironment.h"
#include "platform/PlatformTrash.h"
#include "platform/SettingsDefaultsStore.h"

#include <QTemporaryDir>

// Everything an application state is built from, in temporary places: a home
// folder, a defaults store file, a trash, recording sinks and a fault-injecting
// file system over the real one.
class AppFixture
{
public:
    class RecordingWorkspace : public Workspace
    {
    public:
        bool revealFile(const FilePath& file) override
        {
            revealed.append(file);
            return true;
        }
        bool openUrl(const QUrl&) override { return true; }
        QList<FilePath> revealed;
    };

    class FixedVolumes : public VolumeSource
    {
    public:
        std::optional<QList<VolumeFacts>> mountedVolumes() const override { return volumes; }
        QList<VolumeFacts> volumes;
    };

    // Answers the folder question with whatever the test put in answer.
    class ScriptedChooser : public FolderChooser
    {
    public:
        std::optional<FilePath> chooseFolder(const FilePath& startIn, const QString& confirmTitle) override
        {
            asked.append({startIn, confirmTitle});
            return answer;
        }
        std::optional<FilePath> answer;
        QList<std::pair<FilePath, QString>> asked;
    };

    AppFixture()
        : fs(std::make_shared<FaultInjectingFileSystem>())
        , clock(std::make_shared<FakeClock>())
        , store(std::make_shared<SettingsDefaultsStore>(storeDir.filePath(QStringLiteral("defaults.ini")),
                                                        QSettings::IniFormat))
        , usage(std::make_shared<RecordingUsageSink>())
        , errors(std::make_shared<RecordingErrorSink>())
        , workspace(std::make_shared<RecordingWorkspace>())
        , volumes(std::make_shared<FixedVolumes>())
        , chooser(std::make_shared<ScriptedChooser>())
    {
    }

    AppEnvironment environment() const
    {
        AppEnvironment env;
        env.home = home.home();
        // The original tables: the freedesktop ones have tests of their own.
        env.layout = HomeLayout::original(home.home());
        env.fileSystem = fs;
        env.defaults = store;
        env.clock = clock;
        env.volumes = volumes;
        env.workspace = workspace;
        env.trash = std::make_shared<PlatformTrash>(home.home().child(QByteArrayLiteral(".local/share")), fs, clock,
                                                    home.home());
        env.defaultsFile = FilePath::fromString(storeDir.filePath(QStringLiteral("defaults.ini")));
        env.lockWait = std::chrono::milliseconds(0);
        env.folderChooser = chooser;
        env.usage = usage;
        env.errors = errors;
        return env;
    }

    // A small real file that the file system reports with the given allocated size.
    QString sized(const QString& relative, qint64 bytes)
    {
        const QString path = home.makeFile(relative, 1);
        fs->setAllocatedSize(QFile::encodeName(path), bytes);
        return path;
    }

    TempHome home;
    QTemporaryDir storeDir;
    std::shared_ptr<FaultInjectingFileSystem> fs;
    std::shared_ptr<FakeClock> clock;
    std::shared_ptr<SettingsDefaultsStore> store;
    std::shared_ptr<RecordingUsageSink> usage;
    std::shared_ptr<RecordingErrorSink> errors;
    std::shared_ptr<RecordingWorkspace> workspace;
    std::shared_ptr<FixedVolumes> volumes;
    std::shared_ptr<ScriptedChooser> chooser;
};
