#pragma once

#include <QString>

namespace bv {

// The folder that holds every data file of the program: BREVICAST_HOME when it
// is set; otherwise the folder of the executable, unless the program is
// installed or cannot write there: then the user's data folder. Always ends
// with "/".
QString programFolder();

// The folder of the executable.
QString executableFolder();

// The user guide: beside the program where it was built, in the system's
// documentation folder where it is installed.
QString helpGuidePath();
// Whether the executable runs from an installation (its guide lies in the
// documentation folder rather than beside it).
bool isInstalledProgram();

// Where a helper program of this one lies: beside the executable where it was
// built, in the installation's helper folder where it is installed. Empty when
// it is in neither.
QString helperProgram(const QString& name);

// path joined to the program folder when it is relative.
QString inProgramFolder(const QString& fileName);

} // namespace bv
