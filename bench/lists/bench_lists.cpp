// Times address harvesting on a generated mailbox against grep, tr and sort,
// and TExclude and the intake's "Add All" and "Exclude All" on a big
// recipient table against the sqlite3 shell running the same statements on a
// copy of the same file.
//
//   bench_lists [megabytes] [recipients] [collected] [sections]
//   (default 200 1000000 100000 harvest,texclude,intake)
#include "BenchTiming.h"
#include "core/Clock.h"
#include "data/Database.h"
#include "lists/EmailUtils.h"
#include "lists/HarvestFile.h"
#include "lists/Intake.h"
#include "data/Dialect.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace bv;
using namespace bv::data;
using namespace bv::lists;

using bv::bench::timeIt;

namespace {

// Runs a shell command line; returns its seconds and its output.
double timeCommand(const QString& commandLine, QByteArray* output = nullptr,
                   const QString& inputFile = QString())
{
    QProcess p;
    if (!inputFile.isEmpty())
        p.setStandardInputFile(inputFile);
    const double s = timeIt([&] {
        p.start(QStringLiteral("bash"), {QStringLiteral("-c"), commandLine});
        p.waitForFinished(-1);
    });
    if (p.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(commandLine), p.readAllStandardError().constData());
    if (output)
        *output = p.readAllStandardOutput();
    return s;
}

void report(const char* what, double ours, double theirs)
{
    std::printf("%-52s %9.2f s %9.2f s %7.2fx\n", what, ours, theirs, theirs > 0 ? ours / theirs : 0.0);
    std::fflush(stdout);
}

QString address(quint32 i)
{
    return QStringLiteral("user%1@example%2.com").arg(i).arg(i % 97);
}

// A mailbox of plain and encoded messages naming addresses from a pool, each
// pooled address at least once, some in other letter cases.
QByteArray makeMailbox(qint64 bytes, quint32 pool)
{
    QRandomGenerator rng(42);
    QByteArray out;
    out.reserve(bytes + 4096);
    auto pick = [&](quint32 i) {
        QByteArray a = address(i).toLatin1();
        if (i % 5 == 0)
            a = a.toUpper();
        return a;
    };
    quint32 next = 0;
    auto anyAddress = [&] { return pick(next < pool ? next++ : rng.bounded(pool)); };
    const QByteArray text =
        "Thank you for your order. Please write back to us if anything is missing or if the\n"
        "parcel arrived damaged; our support desk answers within two working days.\n";
    const QByteArray base64 = QByteArray(76, 'Q') + '\n';
    for (quint64 n = 0; out.size() < bytes; ++n) {
        const QByteArray from = anyAddress();
        out += "From " + from + " Mon Dec  7 10:00:00 2026\n";
        out += "From: \"Sender " + QByteArray::number(n) + "\" <" + from + ">\n";
        out += "To: " + anyAddress() + ", Someone Else <" + anyAddress() + ">\n";
        out += "Cc: " + anyAddress() + "\n";
        out += "Message-ID: <" + QByteArray::number(n) + ".x@mail.example.net>\n";
        out += "Subject: Your order\n\n";
        out += text;
        out += "On Monday, " + anyAddress() + " wrote:\n";
        for (int k = 0; k < 4; ++k)
            out += text;
        for (int k = 0; k < 20; ++k)
            out += base64;
        out += "\n";
    }
    return out;
}

QString dbPath(const QString& folder)
{
    return folder + QLatin1Char('/') + Connection::databaseFileName();
}

void copyDatabase(Connection& from, const QString& toFolder)
{
    from.execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    QDir().mkpath(toFolder);
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(dbPath(toFolder) + QLatin1String(suffix));
    QFile::copy(dbPath(from.folder()), dbPath(toFolder));
}

// A new database in folder with recipients in four lists; every tenth of the
// collected addresses (every step-th recipient) is already excluded from its
// list.
void openFilled(Connection& c, const QString& folder, int recipients, int collected)
{
    QDir().mkpath(folder);
    c.open(folder);
    c.execute(QStringLiteral(
                  "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                  "INSERT INTO RecipientList (FirstName, LastName, Email, List, Salutation, SendTo) "
                  "SELECT 'F' || i, 'L' || i, 'user' || i || '@example' || (i % 97) || '.com', "
                  "'List' || (i % 4), 'Mr.', True FROM n")
                  .arg(recipients - 1));
    c.execute(QStringLiteral(
                  "INSERT INTO ExclusionList SELECT FirstName, LastName, upper(Email), List, "
                  "Salutation, SendTo FROM RecipientList WHERE rowid % %1 = 1")
                  .arg(qMax(1, recipients / collected * 10)));
}

double timeShell(const QString& folder, const QString& script)
{
    const QString scriptPath = folder + QStringLiteral("/script.sql");
    QFile f(scriptPath);
    f.open(QIODevice::WriteOnly);
    // The settings the program's connection works with.
    f.write("PRAGMA synchronous = NORMAL;\nPRAGMA temp_store = MEMORY;\nPRAGMA cache_size = -65536;\n");
    f.write(script.toUtf8());
    f.close();
    return timeCommand(QStringLiteral("sqlite3 '%1'").arg(dbPath(folder)), nullptr, scriptPath);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const int recipients = argc > 2 ? QByteArray(argv[2]).toInt() : 1000000;
    const int collected = argc > 3 ? QByteArray(argv[3]).toInt() : 100000;
    const QStringList sections =
        QString::fromLocal8Bit(argc > 4 ? argv[4] : "harvest,texclude,intake").split(QLatin1Char(','));
    QTemporaryDir dir;
    const QString root = dir.path();
    std::printf("%-52s %11s %11s %8s\n", "operation", "ours", "reference", "ratio");

    // 1. The unique-address harvest against grep | tr | sort -u.
    if (sections.contains(QStringLiteral("harvest"))) {
        const QString mailbox = root + QStringLiteral("/mailbox.mbx");
        const QByteArray bytes = makeMailbox(megabytes << 20, 500000);
        QFile f(mailbox);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        f.close();
        const qsizetype lineCount = countLines(bytes);
        std::printf("mailbox: %lld MB, %lld lines\n", qint64(bytes.size() >> 20), qint64(lineCount));

        const QString folder = root + QStringLiteral("/harvest");
        QDir().mkpath(folder);
        Connection c;
        c.open(folder);
        copyDatabase(c, folder + QStringLiteral("-shell"));
        SystemClock clock;
        EventThrottle throttle(clock);
        qsizetype progressed = 0;
        int count = 0;
        const double ours = timeIt([&] {
            count = HarvestUniqueAddresses(c, mailbox, {}, [&](qsizetype line, qsizetype) {
                progressed = line;
                throttle.tick();
            });
        });
        QByteArray theirs;
        const double reference = timeCommand(
            QStringLiteral("LC_ALL=C grep -aoE '[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\\.[A-Za-z]+' '%1' "
                           "| LC_ALL=C tr a-z A-Z | LC_ALL=C sort -u | wc -l")
                .arg(mailbox),
            &theirs);
        char label[120];
        std::snprintf(label, sizeof label, "unique harvest (%d vs %d addresses)", count,
                      theirs.trimmed().toInt());
        report(label, ours, reference);
        if (progressed + 1 != lineCount)
            std::fprintf(stderr, "progress stopped at line %lld\n", qint64(progressed));

        // Its two halves: finding the distinct addresses against the same
        // pipeline, writing the table against the shell's bulk insert of them.
        std::unique_ptr<UniqueAddresses> unique;
        const double find = timeIt([&] {
            QFile in(mailbox);
            in.open(QIODevice::ReadOnly);
            unique = std::make_unique<UniqueAddresses>(in.readAll(), QStringList());
        });
        report("  reading and finding the distinct addresses", find, reference);
        QByteArray json = "[";
        for (std::string_view a : unique->sorted())
            json += (json.size() > 1 ? ",\"" : "\"") + QByteArray(a.data(), qsizetype(a.size())) + '"';
        json += ']';
        QFile list(root + QStringLiteral("/unique.json"));
        list.open(QIODevice::WriteOnly);
        list.write(json);
        list.close();
        c.execute(QStringLiteral("delete from bademail"));
        const double write = timeIt([&] { unique->writeTo(c); });
        report("  writing BadEmail", write,
               timeShell(folder + QStringLiteral("-shell"),
                         QStringLiteral("BEGIN;\ninsert into bademail (emailmemo) select value from "
                                        "json_each(readfile('%1'));\nCOMMIT;\n")
                             .arg(list.fileName())));
        QFile::remove(mailbox);
    }

    // 2. TExclude: CollectAddresses and ExcludeCollected on a big table.
    if (sections.contains(QStringLiteral("texclude"))) {
        const QString ours = root + QStringLiteral("/exclude");
        const QString shell = root + QStringLiteral("/exclude-shell");
        Connection c;
        openFilled(c, ours, recipients, collected);
        copyDatabase(c, shell);
        c.close();

        QStringList lines;
        QString script = QStringLiteral("delete from bademail;\n");
        const QString collect = TExclude::collectStatement(QString());
        const int step = qMax(1, recipients / collected);
        for (int i = 0; i < collected; ++i) {
            const QString a = address(quint32(i * step)).toUpper();
            lines << QStringLiteral("Final-Recipient: rfc822; ") + a;
            script += QString(collect).replace(QStringLiteral(":eml"), quoted(a)) + QStringLiteral(";\n");
        }

        TExclude x(ours);
        int reports = 0;
        x.OnStatus = [&](int, int) { ++reports; };
        const double t1 = timeIt([&] { x.CollectAddresses(QString(), {}, lines); });
        char label[120];
        std::snprintf(label, sizeof label, "CollectAddresses (%d addresses, %d recipients)", collected,
                      recipients);
        report(label, t1, timeShell(shell, script));

        const auto sql = TExclude::excludeStatements();
        const double t2 = timeIt([&] { x.ExcludeCollected(); });
        std::snprintf(label, sizeof label, "ExcludeCollected (%d added, %d removed)", x.NewExclusions,
                      x.DeletedRecipients);
        report(label, t2,
               timeShell(shell, sql.countNew + ";\n" + sql.copy + ";\n" + sql.countDeleted + ";\n" +
                                    sql.remove + ";\n"));

        // Ten returned messages against the same big table: no statement may read
        // the whole recipient list.
        QStringList few;
        for (int i = 0; i < 10; ++i)
            few << QStringLiteral("To: ") + address(quint32(i * step + 1));
        const double t3 = timeIt([&] {
            x.CollectAddresses(QString(), {}, few);
            x.ExcludeCollected();
        });
        report("Collect + Exclude of 10 addresses", t3, 0);
    }

    // 3. The intake: "Add All" and "Exclude All" of the returned addresses in
    // unique-address form, against the shell running the engine's text of
    // the same statements.
    if (sections.contains(QStringLiteral("intake"))) {
        const QString ours = root + QStringLiteral("/intake");
        const QString shell = root + QStringLiteral("/intake-shell");
        Connection c;
        openFilled(c, ours, recipients, collected);
        const int step = qMax(1, recipients / collected);
        c.execute(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO BadEmail (EmailMemo) SELECT upper('user' || (i * %2) || "
                                 "'@example' || ((i * %2) % 97) || '.com') FROM n")
                      .arg(collected - 1)
                      .arg(step));
        copyDatabase(c, shell);
        auto engineText = [](const QString& sql) { return rewriteStatement(sql).sql + QStringLiteral(";\n"); };
        char label[120];

        const int before = c.scalar(QStringLiteral("select count(*) from RecipientList")).toInt();
        const int excludedBefore = c.scalar(QStringLiteral("select count(*) from ExclusionList")).toInt();
        int reports = 0;
        const auto sql = excludeAllStatements();
        const double t2 = timeIt([&] { ExcludeAll(c, [&](int) { ++reports; }); });
        std::snprintf(label, sizeof label, "Exclude All (%d added, %d removed)",
                      c.scalar(QStringLiteral("select count(*) from ExclusionList")).toInt() - excludedBefore,
                      before - c.scalar(QStringLiteral("select count(*) from RecipientList")).toInt());
        report(label, t2, timeShell(shell, engineText(sql.copy) + engineText(sql.remove)));
        std::printf("  progress reports: %d\n", reports);

        AddResult added;
        const double t1 = timeIt([&] { added = AddAll(c, QStringLiteral("Returned"), [](int) {}); });
        std::snprintf(label, sizeof label, "Add All (%d addresses to %d recipients)", added.added, recipients);
        report(label, t1,
               timeShell(shell, engineText(QString(addAllStatement()).replace(QStringLiteral(":lst"),
                                                                            QStringLiteral("'Returned'")))));
    }
    return 0;
}
