// The mailing run against postfix's smtp-sink, next to smtp-source sending
// the same number of messages to the same sink, one connection per message.
//   bench_send [messages]
#include "BenchTiming.h"
#include "RunFixture.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <cstdio>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? atoi(argv[1]) : 1000;
    const quint16 port = freePort();
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);

    QProcess sink;
    sink.start(QStringLiteral("/usr/sbin/smtp-sink"), {"-u", "nobody", "-a", address, "256"});
    if (!sink.waitForStarted()) {
        fprintf(stderr, "smtp-sink did not start: %s\n", qPrintable(sink.errorString()));
        return 1;
    }
    for (int i = 0; i < 100; ++i) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(100))
            break;
        QThread::msleep(50);
    }

    bv::test::RunFixture f;
    f.settings.smtpServer = address;
    f.addRecipients(messages);
    f.dialogs.queueAnswer(bv::Answer::Yes);
    const double run = bv::bench::timeIt([&] { f.run->btnSendClick(bv::send::RunKind::NewMailing); });
    const int sent = f.db.scalar("select count(*) from EmailBeingSent where Sent = True and Error = False").toInt();

    const double reference = bv::bench::timeIt([&] {
        QProcess source;
        source.start(QStringLiteral("/usr/sbin/smtp-source"),
                     {"-s", "1", "-m", QString::number(messages), "-f", "ann@example.com", "-t",
                      "r1@example.org", address});
        source.waitForFinished(-1);
    });
    sink.kill();
    sink.waitForFinished();

    printf("mailing run:  %d of %d sent in %.2f s, %.0f messages/s\n", sent, messages, run, sent / run);
    printf("smtp-source:  %d in %.2f s, %.0f messages/s\n", messages, reference, messages / reference);
    printf("ratio:        %.2fx the time of smtp-source\n", run / reference);
    return sent == messages ? 0 : 1;
}
