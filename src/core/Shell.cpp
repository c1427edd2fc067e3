#include "Shell.h"

#include <QDesktopServices>
#include <QProcess>

namespace bv {

bool DesktopShell::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

bool DesktopShell::startProgram(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace bv
