// Times the data engine on big lists against the sqlite3 shell running the
// same statements on a copy of the same file.
//
//   bench_data [rows]      (default 1,000,000)
#include "BenchTiming.h"
#include "data/Database.h"
#include "data/TableView.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <functional>

using namespace bv::data;

using bv::bench::timeIt;

namespace {

QString g_folder;

QString dbPath(const QString& folder)
{
    return folder + QLatin1Char('/') + Connection::databaseFileName();
}

// A fresh program folder holding a copy of the given database state.
QString makeFolder(const QString& name)
{
    const QString f = g_folder + QLatin1Char('/') + name;
    QDir().mkpath(f);
    QFile::remove(dbPath(f));
    return f;
}

void copyDatabase(const QString& from, const QString& to)
{
    Connection c;
    c.open(from);
    c.execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    c.close();
    QFile::remove(dbPath(to));
    QFile::remove(dbPath(to) + "-wal");
    QFile::remove(dbPath(to) + "-shm");
    QFile::copy(dbPath(from), dbPath(to));
}

double timeShell(const QString& folder, const QString& script)
{
    const QString scriptPath = folder + QStringLiteral("/script.sql");
    {
        QFile f(scriptPath);
        f.open(QIODevice::WriteOnly);
        f.write("PRAGMA synchronous = NORMAL;\n");
        f.write(script.toUtf8());
    }
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.setStandardInputFile(scriptPath);
    p.start(QStringLiteral("sqlite3"), {dbPath(folder)});
    p.waitForFinished(-1);
    const double s = t.nsecsElapsed() / 1e9;
    if (p.exitCode() != 0)
        std::fprintf(stderr, "sqlite3 failed: %s\n", p.readAllStandardError().constData());
    return s;
}

void report(const char* what, double ours, double shell)
{
    std::printf("%-48s %9.2f s %9.2f s %7.2fx\n", what, ours, shell, shell > 0 ? ours / shell : 0.0);
    std::fflush(stdout);
}

QString recipientInsert(int i, const QString& list, int dupEvery)
{
    // Every dupEvery-th row repeats the address of the row before it.
    const int n = (dupEvery > 0 && i % dupEvery == 0) ? i - 1 : i;
    return QStringLiteral("insert into RecipientList (FirstName,LastName,Email,List,Salutation,SendTo) "
                          "values ('First%1','Last%1','user%2@example.com','%3','Mr.',True)")
        .arg(i)
        .arg(n)
        .arg(list);
}

// The shell's side of the two append runs: one insert statement per row.
QString appendScript(int rows)
{
    QString script;
    script.reserve(rows * 130);
    for (int i = 1; i <= rows; ++i)
        script += recipientInsert(i, "L", 0) + QStringLiteral(";\n");
    return script;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QString::fromLatin1(argv[1]).toInt() : 1000000;
    QTemporaryDir dir;
    g_folder = dir.path();
    std::printf("rows: %d\n%-48s %11s %11s %8s\n", rows, "operation", "engine", "sqlite3", "ratio");

    // 1. Appending rows through statements, one statement per row.
    {
        const QString ours = makeFolder("stmt");
        const QString shell = makeFolder("stmt-shell");
        Connection c;
        c.open(ours);
        copyDatabase(ours, shell);
        const double t = timeIt([&] {
            for (int i = 1; i <= rows; ++i)
                c.execute(QStringLiteral("insert into RecipientList (FirstName,LastName,Email,List,Salutation,SendTo) "
                                         "values (:f,:l,:e,'L','Mr.',True)"),
                          {{"f", QStringLiteral("First%1").arg(i)},
                           {"l", QStringLiteral("Last%1").arg(i)},
                           {"e", QStringLiteral("user%1@example.com").arg(i)}});
        });
        const QString script = appendScript(rows);
        report("append rows through statements", t, timeShell(shell, script));
    }

    // 2. Appending rows through a table view.
    {
        const QString ours = makeFolder("view");
        const QString shell = makeFolder("view-shell");
        Connection c;
        c.open(ours);
        copyDatabase(ours, shell);
        TableView v(c, "RecipientList");
        v.open();
        const double t = timeIt([&] {
            for (int i = 1; i <= rows; ++i) {
                v.append();
                v.setValue("FirstName", QStringLiteral("First%1").arg(i));
                v.setValue("LastName", QStringLiteral("Last%1").arg(i));
                v.setValue("Email", QStringLiteral("user%1@example.com").arg(i));
                v.setValue("List", QStringLiteral("L"));
                v.setValue("Salutation", QStringLiteral("Mr."));
                v.setValue("SendTo", true);
                v.post();
            }
        });
        const QString script = appendScript(rows);
        report("append rows through a table view", t, timeShell(shell, script));
    }

    // 3. A filtered count on a big table with two lists.
    {
        const QString ours = makeFolder("count");
        Connection c;
        c.open(ours);
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO RecipientList (Email, List, SendTo) SELECT 'u' || i || '@x.com', "
                                 "CASE WHEN i % 2 = 0 THEN 'A' ELSE 'B' END, i % 3 <> 0 FROM n")
                      .arg(rows));
        c.close();
        const QString shell = makeFolder("count-shell");
        copyDatabase(ours, shell);
        c.open(ours);
        TableView v(c, "RecipientList");
        v.setFilter(QStringLiteral("List = 'A'"));
        v.setFiltered(true);
        v.open();
        const double t = timeIt([&] {
            for (int k = 0; k < 10; ++k)
                v.recordCount();
        });
        report("filtered count x10 (view)", t,
               timeShell(shell, QStringLiteral("select count(*) from RecipientList where List = 'A';\n").repeated(10)));
        QString countSql = QStringLiteral(
            "Select count(r.Email) as \"Ct\" From RecipientList r Where r.list = 'A' and not (r.Email in "
            "(select e.email from ExclusionList e where e.List = 'A'))");
        const double t2 = timeIt([&] { c.scalar(countSql); });
        report("list count less exclusions", t2, timeShell(shell, countSql + ";\n"));
    }

    // 4. Duplicate deletion on one list with 10% duplicates.
    {
        const QString ours = makeFolder("dups");
        Connection c;
        c.open(ours);
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO RecipientList (FirstName, Email, List, SendTo) SELECT 'F' || i, "
                                 "'user' || (CASE WHEN i % 10 = 0 THEN i - 1 ELSE i END) || '@x.com', 'L', True FROM n")
                      .arg(rows));
        c.close();
        const QString shell = makeFolder("dups-shell");
        copyDatabase(ours, shell);
        c.open(ours);
        const QString del = QStringLiteral(
            "DELETE\nFROM RecipientList\nWHERE (List = :lst) and ROWID in\n"
            "//-- List 1 - all rows that have duplicates\n"
            "(Select ROWID from RecipientList where (List = :lst) and Email in\n"
            "   (select Email from RecipientList where (List = :lst) group by Email having Count(Email) > 1)\n"
            "Group By ROWID\nHaving RowID not in\n//-- List 2 - one row from each set of duplicates\n"
            "(select min(ROWID)\nFrom RecipientList\nwhere (List = :lst) and Email in\n"
            "   (select Email from RecipientList where (List = :lst) group by Email having Count(Email) > 1)  \n"
            "group by Email\n  ) )");
        int deleted = 0;
        const double t = timeIt([&] { deleted = c.execute(del, {{"lst", QStringLiteral("L")}}); });
        QString shellSql = del;
        shellSql.replace(QStringLiteral(":lst"), QStringLiteral("'L'"));
        shellSql.remove(QRegularExpression(QStringLiteral("//[^\n]*")));
        char label[80];
        std::snprintf(label, sizeof label, "duplicate deletion (%d deleted)", deleted);
        report(label, t, timeShell(shell, shellSql + ";\n"));
    }

    // 5. Filling the send queue from a list with 100,000 exclusions.
    {
        const QString ours = makeFolder("queue");
        Connection c;
        c.open(ours);
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO RecipientList (FirstName, Email, List, SendTo) SELECT 'F' || i, "
                                 "'user' || i || '@x.com', 'L', True FROM n")
                      .arg(rows));
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
                                 "INSERT INTO ExclusionList (Email, List, SendTo) SELECT 'user' || (i * 7) || '@x.com', "
                                 "'L', True FROM n"));
        c.close();
        const QString shell = makeFolder("queue-shell");
        copyDatabase(ours, shell);
        c.open(ours);
        const QString fill = QStringLiteral(
            "Insert into emailbeingsent (Salutation, FirstName,LastName,Email,List,Sent,Error,EmailDate) Select "
            "r.Salutation, r.FirstName, r.LastName, r.Email, r.List, False, False,'2026-12-08 13:15:33'From "
            "RecipientList r Where r.SendTo = True and r.list = 'L' and not (r.Email in (select e.email from "
            "ExclusionList e where e.List = 'L'))");
        int queued = 0;
        const double t = timeIt([&] { queued = c.execute(fill); });
        char label[80];
        std::snprintf(label, sizeof label, "queue fill, 100,000 exclusions (%d queued)", queued);
        report(label, t, timeShell(shell, fill + ";\n"));
    }
    return 0;
}
