// Times the recipient list window's work on a big list: opening its two views
// and reading the first screen of the grid, and "Remove Exclusions", against
// the sqlite3 shell running the same statement on a copy of the same file.
//
//   bench_recipients [recipients] [exclusions]   (default 1000000 100000)
#include "BenchTiming.h"
#include "data/Database.h"
#include "data/ListManager.h"
#include "data/TableView.h"
#include "data/TableViewModel.h"
#include "lists/RecipientOperations.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace bv;
using namespace bv::data;

using bv::bench::residentKb;
using bv::bench::timeIt;

namespace {

double shell(const QString& db, const QString& sql)
{
    QProcess p;
    const double s = timeIt([&] {
        p.start(QStringLiteral("sqlite3"), {db, sql});
        p.waitForFinished(-1);
    });
    if (p.exitCode() != 0)
        std::fprintf(stderr, "sqlite3: %s\n", p.readAllStandardError().constData());
    return s;
}

void report(const char* what, double ours, double theirs)
{
    std::printf("%-44s %9.3f s %9.3f s %7.2fx\n", what, ours, theirs, theirs > 0 ? ours / theirs : 0.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int recipients = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const int exclusions = argc > 2 ? std::atoi(argv[2]) : 100000;
    QTemporaryDir dir;
    const QString db = QDir(dir.path()).filePath(Connection::databaseFileName());
    {
        Connection c;
        c.open(dir.path());
    }
    // Filled by the shell: the table's own triggers and indexes still apply.
    shell(db, QStringLiteral(
                  "with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                  "insert into RecipientList (FirstName, LastName, Email, List, Salutation, SendTo) "
                  "select 'First' || i, 'Last' || (i * 7919 % %1), 'user' || i || '@example' || (i % 97) || '.com', "
                  "'Big', 'Mr.', 1 from n; "
                  "with recursive n(i) as (select 1 union all select i + 1 from n where i < %2) "
                  "insert into ExclusionList (FirstName, LastName, Email, List, Salutation, SendTo) "
                  "select '', '', 'USER' || (i * 9) || '@EXAMPLE' || ((i * 9) % 97) || '.COM', 'Big', '', 1 from n; "
                  "insert into Lists (List) values ('Big');")
                  .arg(recipients)
                  .arg(exclusions));
    std::printf("%d recipients, %d exclusions\n%-44s %11s %11s %8s\n", recipients, exclusions, "", "ours",
                "sqlite3", "ratio");

    const long before = residentKb();
    Connection c;
    c.open(dir.path());
    TableView tbRecipients(c, QStringLiteral("RecipientList"));
    TableView tbExclusions(c, QStringLiteral("ExclusionList"));
    TableViewModel model(tbRecipients, {{QStringLiteral("Salutation"), {}}, {QStringLiteral("FirstName"), {}},
                                        {QStringLiteral("LastName"), {}}, {QStringLiteral("Email"), {}},
                                        {QStringLiteral("SendTo"), {}}});
    int shown = 0;
    const double open = timeIt([&] {
        for (TableView* v : {&tbRecipients, &tbExclusions}) {
            v->setFilter(listFilter(QStringLiteral("Big")));
            v->setFiltered(true);
            v->open();
        }
        for (int r = 0; r < 40 && r < model.rowCount(); ++r)
            shown += model.data(model.index(r, 3)).toString().isEmpty() ? 0 : 1;
    });
    report("open both views, first screen", open,
           shell(db, QStringLiteral("select rowid from RecipientList where List = 'Big' order by rowid; "
                                    "select rowid from ExclusionList where List = 'Big' order by rowid; "
                                    "select * from RecipientList where List = 'Big' order by rowid limit 40;")));
    std::printf("  %d rows shown, resident memory grew by %ld MB\n", shown, (residentKb() - before) / 1024);
    const double sorted = timeIt([&] {
        tbRecipients.setIndexName(QStringLiteral("LastNameDesc"));
        model.data(model.index(0, 2));
    });
    report("order by a column title (descending)", sorted,
           shell(db, QStringLiteral("select rowid from RecipientList where List = 'Big' "
                                    "order by LastName desc, rowid;")));

    QFile::copy(db, db + QStringLiteral(".copy"));
    int removed = 0;
    const double ours = timeIt([&] { removed = lists::removeExcludedRecipients(c, QStringLiteral("Big")); });
    report("Remove Exclusions", ours,
           shell(db + QStringLiteral(".copy"),
                 QStringLiteral("delete from RecipientList where List = 'Big' and upper(Email) in "
                                "(select upper(Email) from ExclusionList where List = 'Big');")));
    std::printf("  %d recipients removed\n", removed);
    return 0;
}
