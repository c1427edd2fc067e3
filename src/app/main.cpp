#include "app/OneInstance.h"
#include "app/QtDialogs.h"
#include "app/StartUp.h"
#include "core/Clock.h"
#include "core/KeychainSecretStore.h"
#include "core/ProgramFolder.h"
#include "core/Services.h"
#include "core/Shell.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Brevicast"));

    bv::SystemClock clock;
    bv::app::QtDialogs dialogs;
    bv::DesktopShell shell;
    bv::KeychainSecretStore secrets;
    bv::Services services{clock, dialogs, shell, bv::programFolder(), secrets};
    return bv::app::runBrevicast(app, services, app.arguments(), bv::app::TOneInstance::executableGuardName());
}
