#include "app/StartUp.h"

#include "app/BrevicastMain.h"
#include "app/OneInstance.h"
#include "app/ProgramIcon.h"
#include "app/Splash.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/BrevicastData.h"
#include "data/Database.h"
#include "data/GetListName.h"

#include <QApplication>
#include <QDir>
#include <QLabel>

#include <cstdlib>
#include <memory>

namespace bv::app {

QString databaseFailureText(const QString& folder, const QString& engineText)
{
    return QStringLiteral("The database %1 cannot be opened: %2")
        .arg(QDir::toNativeSeparators(QDir(folder).filePath(data::Connection::databaseFileName())), engineText);
}

int runBrevicast(QApplication& app, Services& services, const QStringList& arguments, const QString& guardName)
{
    data::Connection localConnect(QStringLiteral("LocalConnect"));
    try {
        localConnect.open(services.programFolder);
    } catch (const data::DbError& e) {
        services.dialogs.showError(databaseFailureText(services.programFolder, e.message()));
        return 1;
    }
    // The Expletive insert command draws its word from this generator.
    std::srand(unsigned(services.clock.now().toMSecsSinceEpoch()));

    app.setApplicationDisplayName(QStringLiteral("Brevicast"));
    app.setWindowIcon(programIcon());

    // Declared first so that it outlives the main window's record views.
    std::unique_ptr<data::TdmBrevicastData> dmBrevicastData;
    TfrmBrevicastMain frmBrevicastMain(services, localConnect);
    try {
        dmBrevicastData = std::make_unique<data::TdmBrevicastData>(services.programFolder);
    } catch (const data::DbError& e) {
        services.dialogs.showError(databaseFailureText(services.programFolder, e.message()));
        return 1;
    }
    frmBrevicastMain.setDataModule(dmBrevicastData.get());
    auto* frmGetListName = new data::TfrmGetListName(&frmBrevicastMain);
    frmBrevicastMain.setListNamePrompt(frmGetListName);

    auto splash = std::make_unique<TForm_Splash>(services.clock, services.dialogs, SplashMode::StartUp, guardName);
    if (splash->oneInstance() && splash->oneInstance()->isSecondCopy())
        return 0;
    frmBrevicastMain.setStartupSplash(splash.release());

    frmBrevicastMain.setMessageFileArgument(arguments.value(1));
    frmBrevicastMain.show();
    return app.exec();
}

} // namespace bv::app
