#pragma once

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
};

} // namespace bv
