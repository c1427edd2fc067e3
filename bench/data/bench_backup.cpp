// Times the backup and the restore of the lists on a big database against the
// sqlite3 shell copying the same tables of a copy of the same file.
//
//   bench_backup [recipients]      (default 1,000,000)
#include "BenchTiming.h"
#include "data/Backup.h"
#include "data/Database.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace bv::data;

using bv::bench::timeIt;

namespace {

QString dbPath(const QString& folder)
{
    return folder + Connection::databaseFileName();
}

double timeShell(const QString& folder, const QString& script)
{
    QFile f(folder + QStringLiteral("script.sql"));
    f.open(QIODevice::WriteOnly);
    f.write("PRAGMA synchronous = NORMAL;\n" + script.toUtf8());
    f.close();
    QProcess p;
    p.setStandardInputFile(f.fileName());
    const double s = timeIt([&] {
        p.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), dbPath(folder)});
        p.waitForFinished(-1);
    });
    if (p.exitCode() != 0)
        std::fprintf(stderr, "sqlite3 failed: %s\n", p.readAllStandardError().constData());
    return s;
}

void report(const char* what, double ours, double shell)
{
    std::printf("%-40s %9.2f s %9.2f s %7.2fx\n", what, ours, shell, shell > 0 ? ours / shell : 0.0);
    std::fflush(stdout);
}

QString attachAll(const QString& folder, const QString& prefix)
{
    QString s;
    for (const QString& t : backedUpTables())
        s += QStringLiteral("ATTACH '%1%2.adt' AS %3%2;\n").arg(folder, t, prefix);
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000000;
    QTemporaryDir dir;
    const QString ours = dir.path() + QStringLiteral("/ours/");
    const QString shell = dir.path() + QStringLiteral("/shell/");
    QDir().mkpath(ours);
    QDir().mkpath(shell);
    {
        Connection c;
        c.open(ours);
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO RecipientList (FirstName, LastName, Email, List, Salutation, SendTo) "
                                 "SELECT 'First' || i, 'Last' || i, 'user' || i || '@example.com', 'List' || (i % 10), "
                                 "'Mr.', True FROM n")
                      .arg(rows));
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO ExclusionList (FirstName, LastName, Email, List, Salutation, SendTo) "
                                 "SELECT 'First' || i, 'Last' || i, 'user' || (i * 7) || '@example.com', "
                                 "'List' || (i % 10), 'Mr.', True FROM n")
                      .arg(rows / 10));
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 9) "
                                 "INSERT INTO Lists (List) SELECT 'List' || i FROM n"));
        c.execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    QFile::copy(dbPath(ours), dbPath(shell));
    std::printf("recipients: %d, exclusions: %d\n%-40s %11s %11s %8s\n", rows, rows / 10, "operation", "engine",
                "sqlite3", "ratio");

    Connection c;
    c.open(ours);
    BackupOutcome made;
    const double backup = timeIt([&] { made = CreateBackup(c, ours, QStringLiteral("bench")); });
    if (!made.ok)
        std::fprintf(stderr, "%s\n", qPrintable(made.error));
    const QString shellBackup = shell + QStringLiteral("copy/");
    QDir().mkpath(shellBackup);
    QString script = attachAll(shellBackup, QStringLiteral("b_")) + QStringLiteral("BEGIN;\n");
    for (const QString& t : backedUpTables())
        script += QStringLiteral("CREATE TABLE b_%1.%1 AS SELECT * FROM main.%1;\n").arg(t);
    report("backup of the three tables", backup, timeShell(shell, script + QStringLiteral("COMMIT;\n")));

    BackupOutcome restored;
    const double restore = timeIt([&] { restored = RestoreBackup(c, ours, QStringLiteral("bench")); });
    if (!restored.ok)
        std::fprintf(stderr, "%s\n", qPrintable(restored.error));
    const QString backupFolder = ours + QStringLiteral("Backups/bench/");
    script = attachAll(backupFolder, QStringLiteral("r_")) + QStringLiteral("BEGIN IMMEDIATE;\n");
    for (const QString& t : backedUpTables())
        script += QStringLiteral("delete from %1;\n").arg(t);
    for (const QString& t : backedUpTables())
        script += QStringLiteral("insert into %1 select * from r_%1.%1;\n").arg(t);
    report("restore of the three tables", restore, timeShell(shell, script + QStringLiteral("COMMIT;\n")));
    return 0;
}
