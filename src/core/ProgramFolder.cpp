#include "ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef BV_INSTALLED_HELP_DIR
#define BV_INSTALLED_HELP_DIR "../share/doc/brevicast"
#endif
#ifndef BV_INSTALLED_HELPER_DIR
#define BV_INSTALLED_HELPER_DIR "../libexec/brevicast"
#endif

namespace bv {

namespace {
QString withSlash(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

const QString kGuide = QStringLiteral("Brevicast.html");

QString besideGuide()
{
    return executableFolder() + QStringLiteral("help/") + kGuide;
}

QString installedGuide()
{
    return QDir::cleanPath(executableFolder() + QStringLiteral(BV_INSTALLED_HELP_DIR "/") + kGuide);
}
} // namespace

QString programFolder()
{
    const QString home = qEnvironmentVariable("BREVICAST_HOME");
    if (!home.trimmed().isEmpty())
        return withSlash(QDir(home).absolutePath());
    const QString own = executableFolder();
    // An installed program shares its folder with every other program.
    if (!isInstalledProgram() && QFileInfo(own).isWritable())
        return own;
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return withSlash(data);
}

QString executableFolder()
{
    return withSlash(QCoreApplication::applicationDirPath());
}

QString helpGuidePath()
{
    const QString beside = besideGuide();
    if (QFileInfo::exists(beside) || !QFileInfo::exists(installedGuide()))
        return beside;
    return installedGuide();
}

QString helperProgram(const QString& name)
{
    for (const QString& candidate :
         {executableFolder() + name,
          QDir::cleanPath(executableFolder() + QStringLiteral(BV_INSTALLED_HELPER_DIR "/") + name)}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return {};
}

bool isInstalledProgram()
{
    return !QFileInfo::exists(besideGuide()) && QFileInfo::exists(installedGuide());
}

QString inProgramFolder(const QString& fileName)
{
    if (QDir::isAbsolutePath(fileName))
        return fileName;
    return programFolder() + fileName;
}

} // namespace bv
