#include "Shell.h"

#include <QDesktopServices>
#include <QProcess>

namespace bv {

bool openOutsideLink(Shell& shell, const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    const bool web = (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
                     !url.host().isEmpty();
    if (!url.isValid() || !(web || scheme == QLatin1String("mailto")))
        return false;
    return shell.openUrl(url);
}

bool DesktopShell::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

bool DesktopShell::startProgram(const QString& program, const QStringList& arguments)
{
    return QProcess::startDetached(program, arguments);
}

} // namespace bv
