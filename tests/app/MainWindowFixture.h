#pragma once

#include "app/BrevicastMain.h"
#include "core/Services.h"
#include "core/Shell.h"
#include "data/BrevicastData.h"
#include "data/Database.h"

#include "MemorySecrets.h"
#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "TestClock.h"

#include <QList>
#include <QUrl>
#include <QtTest>

#include <memory>

namespace bv::test {

class RecordingShell : public Shell
{
public:
    bool openUrl(const QUrl& url) override
    {
        urls.append(url);
        return !refuse;
    }
    bool startProgram(const QString& program, const QStringList&) override
    {
        programs.append(program);
        return !refuse;
    }
    QList<QUrl> urls;
    QStringList programs;
    // Nothing can be opened or started.
    bool refuse = false;
};

// One main window on a fresh program folder with a real database, the
// scripted dialogs and the test clock.
struct MainWindowFixture
{
    TempProgramFolder home;
    TestClock clock;
    ScriptedDialogs dialogs;
    RecordingShell shell;
    MemorySecrets secrets;
    Services services{clock, dialogs, shell, home.path(), secrets};
    data::Connection localConnect{QStringLiteral("LocalConnect")};
    std::unique_ptr<data::TdmBrevicastData> dataModule;
    std::unique_ptr<app::TfrmBrevicastMain> window;

    MainWindowFixture()
    {
        localConnect.open(home.path());
        dataModule = std::make_unique<data::TdmBrevicastData>(home.path());
    }
    ~MainWindowFixture()
    {
        window.reset();
        dataModule.reset();
    }

    app::TfrmBrevicastMain& create()
    {
        window = std::make_unique<app::TfrmBrevicastMain>(services, localConnect);
        window->setDataModule(dataModule.get());
        return *window;
    }

    // Shows the window and waits for the show sequence to finish.
    bool start()
    {
        if (!window)
            create();
        window->show();
        return QTest::qWaitFor([this] { return window->startupDone(); }) && QTest::qWaitForWindowActive(window.get());
    }

    template <typename T>
    T* find(const char* name) const
    {
        return window->findChild<T*>(QLatin1String(name));
    }

    void sql(const QString& statement) { localConnect.execute(statement); }
};

} // namespace bv::test
