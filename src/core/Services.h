#pragma once

#include "core/SecretStore.h"

#include <QString>

namespace bv {

class Clock;
class Dialogs;
class Shell;

// The program-wide services every window is built with.
struct Services
{
    Clock& clock;
    Dialogs& dialogs;
    Shell& shell;
    QString programFolder; // ends with "/"
    // The SMTP and POP passwords; by default the files keep them.
    SecretStore& secrets = fileSecrets();
};

} // namespace bv
