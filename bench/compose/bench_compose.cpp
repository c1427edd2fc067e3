// Composes and encodes personalised messages the way a mailing does, one after
// the other on one thread, and reports the rate and the peak memory.
//
//   bench_compose [messages=10000] [body bytes=20480] [image bytes=51200]
#include "SampleMessage.h"
#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "core/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentRssKb()
{
    QFile status("/proc/self/statm");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int messages = argc > 1 ? atoi(argv[1]) : 10000;
    const int bodyBytes = argc > 2 ? atoi(argv[2]) : 20 * 1024;
    const int imageSize = argc > 3 ? atoi(argv[3]) : 50 * 1024;

    QTemporaryDir dir;
    bv::compose::ComposeInput input;
    if (!bench::sampleInput(dir, bodyBytes, imageSize, input))
        return 1;

    bv::SystemClock clock;
    bv::compose::TIpMailMessage message(clock);
    message.setOnCodingProgress([](bv::compose::TIpMailMessage&, int, bool&) {});

    QByteArray text; // reused, as a sending client would
    qint64 encodedBytes = 0;
    long rssAtTenth = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < messages; ++i) {
        const QString n = QString::number(i);
        bv::compose::ComposeMessage(message, input, "Mr.", "First" + n, "Last" + n);
        message.setMailTo({"First" + n + " Last" + n + " <r" + n + "@example.org>"});
        message.Encode(text);
        encodedBytes += text.size();
        if (i == messages / 10)
            rssAtTenth = currentRssKb();
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;

    std::printf("messages:            %d (bodies %d bytes, two images of %d bytes)\n", messages,
                bodyBytes, imageSize);
    std::printf("encoded message:     %lld bytes\n", encodedBytes / qMax(1, messages));
    std::printf("time:                %.2f s\n", seconds);
    std::printf("messages per second: %.0f\n", messages / seconds);
    std::printf("encoded MB/s:        %.1f\n", double(encodedBytes) / seconds / 1e6);
    std::printf("resident after 10%%:  %ld KB\n", rssAtTenth);
    std::printf("resident at end:     %ld KB\n", currentRssKb());
    std::printf("peak resident:       %ld KB\n", peakRssKb());
    return 0;
}
