// Times "Load More (CSV)" on a big file: ImportCsvFile into RecipientList
// through the list window's filtered view, against the sqlite3 shell
// importing the same file into the same table; and, given a workbook,
// "View Data" reading it into the staging table.
//
//   bench_import [lines] [workbook]   (default 1000000, no workbook)
#include "BenchTiming.h"
#include "data/Database.h"
#include "data/TableView.h"
#include "lists/DbImport.h"
#include "lists/XLImport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

using namespace bv;
using bv::bench::residentKb;
using bv::bench::timeIt;

namespace {

void writeCsv(const QString& path, int lines)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    f.write("Salutation,FirstName,LastName,Email,Phone\r\n");
    QByteArray line;
    for (int i = 1; i <= lines; ++i) {
        line = "Mr.,\"First" + QByteArray::number(i) + "\",Last" +
               QByteArray::number(i * 7919 % lines) + ",user" + QByteArray::number(i) + "@example" +
               QByteArray::number(i % 97) + ".com,555-" + QByteArray::number(i % 10000) + "\r\n";
        f.write(line);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir dir;
    const QString csv = QDir(dir.path()).filePath(QStringLiteral("big.csv"));
    writeCsv(csv, lines);
    std::printf("%d lines, %.1f MB\n", lines, QFile(csv).size() / 1e6);

    QDir(dir.path()).mkdir(QStringLiteral("ours"));
    QDir(dir.path()).mkdir(QStringLiteral("shell"));
    const QString ours = QDir(dir.path()).filePath(QStringLiteral("ours"));
    const QString shellFolder = QDir(dir.path()).filePath(QStringLiteral("shell"));
    data::Connection c;
    c.open(ours);
    {
        data::Connection s;
        s.open(shellFolder);
    }
    data::TableView view(c, QStringLiteral("RecipientList"));
    view.setFilter(QStringLiteral("List = 'Big'"));
    view.setFiltered(true);
    view.setIndexName(QStringLiteral("EMAIL"));
    view.open();

    const long before = residentKb();
    int rows = 0;
    const double t =
        timeIt([&] { rows = lists::ImportCsvFile(QStringLiteral("Big"), csv, view).rows; });
    const long after = residentKb();
    std::printf("%-40s %9.3f s  %d rows, %d in the view, +%ld MB resident\n", "ImportCsvFile", t,
                rows, view.recordCount(), (after - before) / 1024);

    // The shell's own CSV import into a scratch table, then into the real
    // one with its triggers and indexes.
    const QString db = QDir(shellFolder).filePath(data::Connection::databaseFileName());
    QProcess p;
    const double s = timeIt([&] {
        p.start(
            QStringLiteral("sqlite3"),
            {db, QStringLiteral(".import --csv %1 csv").arg(csv),
             QStringLiteral(
                 "insert into RecipientList (Salutation, FirstName, LastName, Email, List, SendTo) "
                 "select Salutation, FirstName, LastName, Email, 'Big', 1 from csv")});
        p.waitForFinished(-1);
    });
    if (p.exitCode() != 0)
        std::fprintf(stderr, "sqlite3: %s\n", p.readAllStandardError().constData());
    std::printf("%-40s %9.3f s  (ours / shell %.2fx)\n", "sqlite3 .import + insert select", s,
                t / s);

    if (argc > 2) {
        const long start = residentKb();
        lists::StagingResult staged;
        const double w = timeIt([&] {
            staged =
                lists::fillStaging(c, QString::fromLocal8Bit(argv[2]), [](int) { return true; });
        });
        std::printf("%-40s %9.3f s  %d staging rows, +%ld MB resident\n", "fillStaging (View Data)",
                    w, staged.rows, (residentKb() - start) / 1024);
    }
    return 0;
}
