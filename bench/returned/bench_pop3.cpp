// Fetching returned mail from dovecot into the inbox through the POP3
// session, next to Python's poplib doing TOP, RETR and DELE of the same
// messages from the same server (the mailbox seeded once for each); then the
// returned-mail window opened on the fetched messages and its Exclude All
// against a big recipient table.
//
//   bench_pop3 [messages] [recipients] [--rounds n] [--window]
//   (default 1000 1000000 1; --rounds repeats the pair and gives the median
//   ratio; --window seeds once more and also times the window's own Check
//   mail, which lists every message as it arrives)
#include "BenchTiming.h"
#include "core/Clock.h"
#include "data/Database.h"
#include "Pop3Peers.h"
#include "PopRows.h"
#include "returned/Inbox.h"
#include "returned/pop3Main.h"
#include "returned/Pop3Session.h"
#include "core/SenderAccounts.h"
#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

using namespace bv;
using namespace bv::returned;

namespace {

constexpr int kLists = 4;
const QByteArray kSender = "news@our-shop.test";

QByteArray recipient(int i)
{
    return "user" + QByteArray::number(i) + "@example" + QByteArray::number(i % 97) + ".com";
}

// The mailing that came back: a text part and a quoted-printable HTML part,
// lines of the length mail programs write, padded to about bytes.
QByteArray originalMessage(int n, const QByteArray& to, int bytes)
{
    QByteArray m = "Return-Path: <" + kSender + ">\r\nFrom: Our Shop <" + kSender +
                   ">\r\nTo: " + to +
                   "\r\nSubject: Spring offers\r\nDate: Tue, 03 Mar 2026 10:14:57 +0100\r\n"
                   "Message-ID: <spring-" +
                   QByteArray::number(n) +
                   "@our-shop.test>\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: multipart/alternative; boundary=\"alt-" +
                   QByteArray::number(n) + "\"\r\n\r\n";
    const QByteArray text = "Dear customer, this spring we have new garden furniture, tools and "
                            "seeds for you.\r\n";
    const QByteArray html =
        "<p style=3D\"margin:0;font-family:Arial,sans-serif;font-size:14px\">=\r\n"
        "New garden furniture, tools and seeds for you.</p>\r\n";
    m +=
        "--alt-" + QByteArray::number(n) + "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n";
    while (m.size() < bytes / 3)
        m += text;
    m += "\r\n--alt-" + QByteArray::number(n) +
         "\r\nContent-Type: text/html; charset=us-ascii\r\n"
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n<html><body>\r\n";
    while (m.size() < bytes)
        m += html;
    m += "</body></html>\r\n\r\n--alt-" + QByteArray::number(n) + "--\r\n";
    return m;
}

// A returned message of about 20 KB in one of three shapes that servers
// send: a multipart delivery report with the whole message (Postfix), a
// multipart report with the message after a plain notice (Exim), and a
// report whose failed recipient appears only in the report part and the
// returned headers (Exchange).
QByteArray bounce(int n, const QList<QByteArray>& failed)
{
    const QByteArray id = QByteArray::number(n);
    const QByteArray boundary = "report-" + id + "/mx.our-shop.test";
    QByteArray m;
    QByteArray notice;
    QByteArray status;
    for (const QByteArray& a : failed) {
        notice += "<" + a + ">: host mx.example.com[192.0.2.10] said: 550 5.1.1\r\n    <" + a +
                  ">: Recipient address rejected: User unknown in\r\n    local recipient table (in "
                  "reply to RCPT TO command)\r\n\r\n";
        status += "Final-Recipient: rfc822; " + a + "\r\nOriginal-Recipient: rfc822;" + a +
                  "\r\nAction: failed\r\nStatus: 5.1.1\r\nRemote-MTA: dns; mx.example.com\r\n"
                  "Diagnostic-Code: smtp; 550 5.1.1 <" +
                  a + ">: User unknown\r\n\r\n";
    }
    const QByteArray to = failed.join(", ");
    switch (n % 3) {
    case 0:
        m = "Return-Path: <>\r\nReceived: by mx.our-shop.test (Postfix)\r\n\tid 4F2A" + id +
            "; Tue,  3 Mar 2026 10:15:02 +0100 (CET)\r\nDate: Tue,  3 Mar 2026 10:15:02 +0100 "
            "(CET)\r\nFrom: MAILER-DAEMON@mx.our-shop.test (Mail Delivery System)\r\n"
            "Subject: Undelivered Mail Returned to Sender\r\nTo: " +
            kSender +
            "\r\nAuto-Submitted: auto-replied\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/report; report-type=delivery-status;\r\n\tboundary=\"" +
            boundary + "\"\r\nMessage-Id: <20260303091502." + id +
            "@mx.our-shop.test>\r\n\r\nThis is a MIME-encapsulated message.\r\n\r\n--" + boundary +
            "\r\nContent-Description: Notification\r\nContent-Type: text/plain; "
            "charset=us-ascii\r\n\r\nThis is the mail system at host mx.our-shop.test.\r\n\r\n"
            "I'm sorry to have to inform you that your message could not\r\nbe delivered to one or "
            "more recipients. It's attached below.\r\n\r\n" +
            notice + "--" + boundary +
            "\r\nContent-Description: Delivery report\r\nContent-Type: "
            "message/delivery-status\r\n\r\nReporting-MTA: dns; mx.our-shop.test\r\n\r\n" +
            status + "--" + boundary +
            "\r\nContent-Description: Undelivered Message\r\nContent-Type: message/rfc822\r\n\r\n" +
            originalMessage(n, to, 18500) + "\r\n--" + boundary + "--\r\n";
        break;
    case 1:
        m = "Return-path: <>\r\nEnvelope-to: " + kSender +
            "\r\nReceived: from Debian-exim by relay.example.com with local (Exim 4.96)\r\n\tid "
            "1vQ2" +
            id + "\r\n\tfor " + kSender +
            "; Wed, 04 Mar 2026 08:01:13 +0000\r\nX-Failed-Recipients: " + to +
            "\r\nAuto-Submitted: auto-replied\r\nFrom: Mail Delivery System "
            "<Mailer-Daemon@relay.example.com>\r\nTo: " +
            kSender + "\r\nContent-Type: multipart/report; report-type=delivery-status; boundary=" +
            boundary +
            "\r\nMIME-Version: 1.0\r\nSubject: Mail delivery failed: returning message to "
            "sender\r\n"
            "Message-Id: <E1vQ2" +
            id + "@relay.example.com>\r\nDate: Wed, 04 Mar 2026 08:01:13 +0000\r\n\r\n--" +
            boundary +
            "\r\nContent-type: text/plain; charset=us-ascii\r\n\r\nThis message was created "
            "automatically by mail delivery software.\r\n\r\nA message that you sent could not be "
            "delivered to one or more of its\r\nrecipients. This is a permanent error. The "
            "following "
            "address(es) failed:\r\n\r\n  " +
            to + "\r\n    550 5.1.1 No such user here\r\n\r\n--" + boundary +
            "\r\nContent-type: message/delivery-status\r\n\r\nReporting-MTA: dns; "
            "relay.example.com\r\n\r\n" +
            status + "--" + boundary + "\r\nContent-type: message/rfc822\r\n\r\n" +
            originalMessage(n, to, 18800) + "\r\n--" + boundary + "--\r\n";
        break;
    default:
        m = "From: postmaster@example.com\r\nTo: " + kSender +
            "\r\nDate: Thu, 5 Mar 2026 14:22:31 +0000\r\nMIME-Version: 1.0\r\n"
            "Content-Type: multipart/report; report-type=delivery-status;\r\n\tboundary=\"" +
            boundary + "\"\r\nX-MS-Exchange-Message-Is-Ndr:\r\nMessage-ID: <ndr-" + id +
            "@example.com>\r\nSubject: Undeliverable: Spring offers\r\n\r\n--" + boundary +
            "\r\nContent-Type: text/plain; charset=\"us-ascii\"\r\nContent-Transfer-Encoding: "
            "quoted-printable\r\n\r\nDelivery has failed to these recipients or groups:\r\n\r\n"
            "The email address you entered couldn't be found. Please check the recipie=\r\nnt's "
            "email address and try to resend the message.\r\n\r\n--" +
            boundary +
            "\r\nContent-Type: message/delivery-status\r\n\r\nReporting-MTA: dns; "
            "mail.example.com\r\n\r\n" +
            status + "--" + boundary + "\r\nContent-Type: message/rfc822\r\n\r\n" +
            originalMessage(n, to, 19200) + "\r\n--" + boundary + "--\r\n";
        break;
    }
    return m;
}

// The addresses message n names: one or two recipients spread over the table.
QList<QByteArray> failedOf(int n, int recipients)
{
    QList<QByteArray> out{recipient(int((qint64(n) * 997) % recipients))};
    if (n % 4 == 0)
        out << recipient(int((qint64(n) * 997 + 501) % recipients));
    return out;
}

void seed(test::Dovecot& server, int messages, int recipients)
{
    for (int n = 0; n < messages; ++n)
        server.addMessage(bounce(n, failedOf(n, recipients)));
}

const char* const kPoplib = R"(
import poplib, sys, time
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
start = time.monotonic()
pop = poplib.POP3(host, port)
pop.user(user)
pop.pass_(password)
count = pop.stat()[0]
fetched = 0
for i in range(1, count + 1):
    pop.top(i, 0)
    fetched += len(b"\r\n".join(pop.retr(i)[1]))
    pop.dele(i)
pop.quit()
print(count, fetched, time.monotonic() - start, time.process_time())
)";

// Runs poplib over the mailbox; answers its seconds, or a negative number.
double poplibRun(const test::Dovecot& server, int* count, double* cpu)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-I"), QStringLiteral("-c"), QLatin1String(kPoplib), server.host(),
             QString::number(server.port()), test::Dovecot::user(), test::Dovecot::password()});
    p.waitForFinished(-1);
    const QList<QByteArray> out = p.readAllStandardOutput().trimmed().split(' ');
    if (p.exitCode() != 0 || out.size() != 4) {
        std::fprintf(stderr, "poplib failed: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    *count = out.at(0).toInt();
    *cpu = out.at(3).toDouble();
    return out.at(2).toDouble();
}

// Waits for the session's end; false (with the text on stderr) on a failure.
bool waitFinished(Pop3Session& session)
{
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&session, &Pop3Session::finished, &loop, [&](bool done, const QString& error) {
        ok = done;
        if (!done)
            std::fprintf(stderr, "check failed: %s\n", qPrintable(error));
        loop.quit();
    });
    loop.exec();
    return ok;
}

// Processor seconds of this process so far, user and system.
double cpuSeconds()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

void report(const char* what, double seconds, int messages, qint64 bytes = 0, double cpu = -1)
{
    std::printf("%-44s %8.2f s %7.0f messages/s", what, seconds, messages / seconds);
    if (bytes > 0)
        std::printf(" %6.1f MB/s", bytes / seconds / (1 << 20));
    if (cpu >= 0)
        std::printf(", processor %.2f s", cpu);
    std::printf("\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool windowCheck = args.removeAll(QStringLiteral("--window")) > 0;
    int rounds = 1;
    if (const qsizetype at = args.indexOf(QStringLiteral("--rounds")); at >= 0) {
        rounds = qMax(1, args.value(at + 1).toInt());
        args.remove(at, qMin<qsizetype>(2, args.size() - at));
    }
    const int messages = args.value(0, QStringLiteral("1000")).toInt();
    const int recipients = args.value(1, QStringLiteral("1000000")).toInt();

    test::TempProgramFolder home;
    data::Connection conn(QStringLiteral("AdsConnection1"));
    conn.open(home.path());
    data::Connection local(QStringLiteral("LocalConnect"));
    local.open(home.path());
    WriteSenderAccounts(home.path(), {{QStringLiteral("Our Shop"), QString::fromLatin1(kSender)}});

    test::Dovecot server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    // 1. The session into IncomingEmail against poplib, a fresh seeding each.
    qint64 seededBytes = 0;
    for (int n = 0; n < messages; ++n)
        seededBytes += bounce(n, failedOf(n, recipients)).size();
    std::printf("%d returned messages, %.1f MB, from dovecot on %s\n", messages,
                seededBytes / double(1 << 20), qPrintable(server.server()));

    // dovecot starts its log-in and mail processes at the first log-in.
    int popCount = 0;
    double popCpu = 0;
    poplibRun(server, &popCount, &popCpu);

    Inbox inbox(conn);
    Pop3Session session(conn, [&inbox](const QByteArray& m) { return inbox.store(m); });
    const Pop3Account account{server.server(), server.port(), test::Dovecot::user(),
                              test::Dovecot::password()};
    // With BENCH_PERF_CTL naming the control fifo of "perf record -D -1
    // --control fifo:...", perf samples the session's checks only.
    QFile perfCtl(qEnvironmentVariable("BENCH_PERF_CTL"));
    if (!perfCtl.fileName().isEmpty())
        perfCtl.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    auto perf = [&perfCtl](const char* command) {
        if (perfCtl.isOpen())
            perfCtl.write(command);
    };
    QList<double> ratios;
    for (int round = 1; round <= rounds; ++round) {
        // Every round fetches the same messages anew.
        conn.execute(QStringLiteral("delete from IncomingEmail"));
        conn.execute(QStringLiteral("delete from MessageIDs"));
        seed(server, messages, recipients);
        bool ok = false;
        const double cpuBefore = cpuSeconds();
        perf("enable\n");
        const double ours = bench::timeIt([&] {
            session.checkMail(account);
            ok = waitFinished(session);
        });
        perf("disable\n");
        const double ourCpu = cpuSeconds() - cpuBefore;
        const int stored = inbox.count();
        report("session into IncomingEmail", ours, stored, seededBytes, ourCpu);

        seed(server, messages, recipients);
        const double reference = poplibRun(server, &popCount, &popCpu);
        if (reference > 0)
            report("poplib TOP, RETR, DELE", reference, popCount, seededBytes, popCpu);
        if (!ok || stored != messages || popCount != messages || reference <= 0) {
            std::fprintf(stderr, "stored %d and poplib saw %d of %d messages\n", stored, popCount,
                         messages);
            return 1;
        }
        ratios << ours / reference;
        std::printf("ratio: %.2fx the time of poplib\n", ratios.last());
    }
    if (rounds > 1) {
        std::sort(ratios.begin(), ratios.end());
        std::printf("median ratio of %d rounds: %.2fx\n", rounds, ratios.at(rounds / 2));
    }

    // 2. The window over the fetched messages: opening it lists them all.
    conn.execute(QStringLiteral(
                     "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                     "INSERT INTO RecipientList (FirstName, LastName, Email, List, Salutation, "
                     "SendTo) SELECT 'F' || i, 'L' || i, 'user' || i || '@example' || (i % 97) || "
                     "'.com', 'List' || (i % %2), 'Mr.', True FROM n")
                     .arg(recipients - 1)
                     .arg(kLists));
    for (int l = 0; l < kLists; ++l)
        conn.execute(QStringLiteral("insert into Lists (List) values (:l)"),
                     {{QStringLiteral("l"), QStringLiteral("List%1").arg(l)}});
    test::addPopRow(conn, QString::fromLatin1(kSender), true, server.server());
    conn.execute(QStringLiteral("update PopAccounts set Account = :u, Password = :p, Port = 110"),
                 {{QStringLiteral("u"), test::Dovecot::user()},
                  {QStringLiteral("p"), test::Dovecot::password()}});

    SystemClock clock;
    test::ScriptedDialogs dialogs;
    test::NoShell shell;
    Services services{clock, dialogs, shell, home.path()};
    std::unique_ptr<TfrmMain> window;
    const double open = bench::timeIt([&] {
        window = std::make_unique<TfrmMain>(services, conn, local);
        window->show();
    });
    report("window opened, inbox listed", open, messages);

    if (windowCheck) {
        conn.execute(QStringLiteral("delete from MessageIDs"));
        seed(server, messages, recipients);
        perf("enable\n");
        const double check = bench::timeIt([&] {
            window->CheckMail->trigger();
            waitFinished(window->session());
        });
        perf("disable\n");
        report("window's Check mail, listing as it goes", check, messages, seededBytes);
        // Exclude All goes over the first fetch only.
        conn.execute(QStringLiteral("delete from IncomingEmail where Index > :n"),
                     {{QStringLiteral("n"), messages}});
    }

    // 3. Exclude All, as the window runs it: harvest every stored message,
    // collect the recipients of every list, review, move.
    QElapsedTimer clockRun;
    double collect = 0;
    int collected = 0;
    dialogs.queueAnswer(Answer::Yes);
    dialogs.queueModal([&](QDialog&) {
        collect = clockRun.nsecsElapsed() / 1e9;
        collected = conn.scalar(QStringLiteral("select count(*) from BadEmail")).toInt();
        clockRun.restart();
        return int(QDialog::Accepted);
    });
    dialogs.queueAnswer(Answer::Yes);
    clockRun.start();
    window->ExcludeAll->trigger();
    const double move = clockRun.nsecsElapsed() / 1e9;
    const int inboxCount = inbox.count();
    char label[120];
    std::snprintf(label, sizeof label, "Exclude All: harvest and collect (%d found)", collected);
    report(label, collect, inboxCount);
    report("Exclude All: move to the exclusions", move, inboxCount);
    std::printf("  %s\n",
                qPrintable(window->findChild<QLabel*>(QStringLiteral("pnlStatus"))->text()));
    std::printf("  of %d recipients in %d lists; resident memory %ld MB\n", recipients, kLists,
                bench::residentKb() / 1024);
    window->reject();
    return 0;
}
