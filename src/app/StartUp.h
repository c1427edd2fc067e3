#pragma once

#include <QString>
#include <QStringList>

class QApplication;

namespace bv {
struct Services;
}

namespace bv::app {

// The text shown when the database in folder cannot be opened.
QString databaseFailureText(const QString& folder, const QString& engineText);

// The program from start to end: opens LocalConnect, creates the windows in
// their order, shows the main window and runs the event loop. arguments are
// the command line as given (the program first). guardName names the
// single-instance guard. Returns the exit status: 0 also for a second copy
// that handed over to the first, 1 when the database cannot be opened.
int runBrevicast(QApplication& app, Services& services, const QStringList& arguments, const QString& guardName);

} // namespace bv::app
