#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace bv {

namespace {
QString withSlash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}
} // namespace

QString programFolder()
{
    const QString home = qEnvironmentVariable("BREVICAST_HOME");
    if (!home.trimmed().isEmpty())
        return withSlash(QDir(home).absolutePath());
    return executableFolder();
}

QString executableFolder()
{
    return withSlash(QCoreApplication::applicationDirPath());
}

QString inProgramFolder(const QString& fileName)
{
    if (QDir::isAbsolutePath(fileName))
        return fileName;
    return programFolder() + fileName;
}

} // namespace bv
