#pragma once

#include <QString>

namespace bv {

// The folder that holds every data file of the program: BREVICAST_HOME when it
// is set, otherwise the folder of the executable. Always ends with "/".
QString programFolder();

// The folder of the executable, where shipped files such as the help guide live.
QString executableFolder();

// path joined to the program folder when it is relative.
QString inProgramFolder(const QString& fileName);

} // namespace bv
