#pragma once

#include "core/Services.h"
#include "core/Shell.h"
#include "MemorySecrets.h"
#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "TestClock.h"

namespace bv::test {

class NoShell : public Shell
{
public:
    bool openUrl(const QUrl&) override { return false; }
    bool startProgram(const QString&, const QStringList&) override { return false; }
};

struct WindowFixture
{
    TempProgramFolder home;
    TestClock clock;
    ScriptedDialogs dialogs;
    NoShell shell;
    MemorySecrets secrets;
    Services services{clock, dialogs, shell, home.path(), secrets};
};

} // namespace bv::test
