// Writes the program's icon as PNG files for the desktop's icon theme:
// brevicast_icon <folder> <size>...  ->  <folder>/<size>x<size>/brevicast.png
#include "app/ProgramIcon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: brevicast_icon <folder> <size>...\n");
        return 2;
    }
    for (const QString& sizeText : args.mid(2)) {
        const int size = sizeText.toInt();
        const QString folder = args.at(1) + QStringLiteral("/%1x%1").arg(size);
        if (size <= 0 || !QDir().mkpath(folder) ||
            !bv::app::programPixmap(size).save(folder + QStringLiteral("/brevicast.png"))) {
            std::fprintf(stderr, "brevicast_icon: cannot write the %s icon into %s\n",
                         qPrintable(sizeText), qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
