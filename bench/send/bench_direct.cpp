// Direct delivery of spool files to postfix's smtp-sink on a loopback
// exchanger found through dnsmasq, next to smtp-source with 15 sessions at
// once; then the same with the dispatch loop's 200 ms wait as the program
// runs it.
//   bench_direct [files] [files with the 200 ms wait]
#include "BenchTiming.h"
#include "ExchangerPeers.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "core/Clock.h"
#include "data/Database.h"
#include "send/DirectMail.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>

#include <cstdio>

using namespace bv;

namespace {

void spool(data::Connection& db, const QString& folder, const Clock& clock, int count)
{
    data::Transaction t(db);
    const int first = db.scalar("select count(*) from EmailBeingSent").toInt();
    for (int i = 0; i < count; ++i)
        db.execute(QStringLiteral("insert into EmailBeingSent (Email, List, Sent, Error) values "
                                  "('r%1@example.org', 'L1', True, False)")
                       .arg(first + i));
    t.commit();
    const auto rows =
        db.select(QStringLiteral("select EmailNo, Email from EmailBeingSent order by EmailNo")).rows;
    compose::TIpMailMessage m(clock);
    for (size_t i = size_t(first); i < rows.size(); ++i) {
        compose::ComposeMessage(m, {"Ann <ann@example.org>", "News", "Hello", ""}, "", "", "");
        m.setMailTo({rows.at(i).at(1).toString()});
        m.SaveToFile(folder + "BVC_" + rows.at(i).at(0).toString() + "_.eml");
    }
}

double deliver(Clock& clock, data::Connection& db, const QString& dns, const QString& folder, int waitMs,
               int& delivered)
{
    send::TDirectMail pool(clock, [&](const QString& path, const send::TSettings& s) {
        send::TSpoolDelivery d(db, clock, {s.DNSServer, s.HeloName}, [](const QString&) {});
        return d.DeliverAndRecord(path);
    });
    pool.setDispatchWaitMs(waitMs);
    pool.setFileMask(QStringLiteral("BVC_*.eml"));
    const double seconds = bench::timeIt([&] { pool.RunDeliveryPass(dns, QStringLiteral("bench.test"), folder); });
    delivered = pool.Successes();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? atoi(argv[1]) : 1000;
    const int slowFiles = argc > 2 ? atoi(argv[2]) : 50;

    test::SmtpSink sink;
    if (!sink.start()) {
        fprintf(stderr, "smtp-sink: %s\n", qPrintable(sink.error()));
        return 1;
    }
    test::Dnsmasq dns;
    if (!dns.start({"--mx-host=example.org," + sink.address() + ",10"})) {
        fprintf(stderr, "dnsmasq: %s\n", qPrintable(dns.error()));
        return 1;
    }
    test::TempProgramFolder home;
    const QString folder = home.file(QStringLiteral("spool/"));
    QDir().mkpath(folder);
    data::Connection db;
    db.open(home.path());

    test::TestClock instant;
    spool(db, folder, instant, files);
    int delivered = 0;
    const double fast = deliver(instant, db, dns.server(), folder, 0, delivered);
    printf("pool, no dispatch wait:  %d of %d in %.2f s, %.0f messages/s\n", delivered, files, fast,
           delivered / fast);

    const double reference = bench::timeIt([&] {
        QProcess source;
        source.start(QStringLiteral("/usr/sbin/smtp-source"),
                     {"-c", "-s", "15", "-m", QString::number(files), "-f", "ann@example.org", "-t",
                      "r@example.org", sink.address() + ":25"});
        source.waitForFinished(-1);
    });
    printf("smtp-source -c -s 15:    %d in %.2f s, %.0f messages/s\n", files, reference, files / reference);
    printf("ratio:                   %.2fx the time of smtp-source\n", fast / reference);

    SystemClock real;
    spool(db, folder, real, slowFiles);
    const double slow = deliver(real, db, dns.server(), folder, 200, delivered);
    printf("pool, 200 ms wait:       %d of %d in %.2f s, %.1f messages/s\n", delivered, slowFiles, slow,
           delivered / slow);
    return 0;
}
