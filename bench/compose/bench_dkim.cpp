// Messages composed and signed per second (RSA 2048, the sample message with
// two images), beside the same messages composed unsigned and beside
// "openssl speed -seconds 3 rsa2048" signs per second, measured in the same
// run. Signing should cost its RSA operation and little else: the goal is at
// least 0.8 of the slower of composing alone and openssl's signing. All rates
// are per second of this process's CPU time, as openssl speed counts them, so
// that other work on the machine does not skew the comparison.
//
//   bench_dkim [seconds per measurement=3] [body bytes=20480] [image bytes=51200]
#include "SampleMessage.h"
#include "compose/ComposeMessage.h"
#include "compose/Dkim.h"
#include "compose/MailMessage.h"
#include "core/Clock.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>

namespace {

// Signs per second by "openssl speed -mr": "+F2:<n>:2048:<signs/s>:<verifies/s>".
double opensslSignsPerSecond(int seconds)
{
    QProcess p;
    p.start("openssl", {"speed", "-seconds", QString::number(seconds), "-mr", "rsa2048"});
    if (!p.waitForFinished(seconds * 10000 + 30000))
        return 0;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (line.startsWith("+F2:")) {
            const QList<QByteArray> fields = line.split(':');
            if (fields.size() >= 5 && fields[2] == "2048")
                return fields[3].toDouble();
        }
    return 0;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? atoi(argv[1]) : 3;
    const int bodyBytes = argc > 2 ? atoi(argv[2]) : 20 * 1024;
    const int imageSize = argc > 3 ? atoi(argv[3]) : 50 * 1024;

    QTemporaryDir dir;
    bv::compose::ComposeInput input;
    if (!bench::sampleInput(dir, bodyBytes, imageSize, input))
        return 1;

    bv::SystemClock clock;
    bv::compose::TIpMailMessage message(clock);
    const auto signer = std::make_shared<bv::compose::DkimSigner>(
        "example.com",
        std::vector{bv::compose::DkimKey::generateRsa(2048, "bv202612")});

    qint64 bytes = 0;
    // Messages per second for seconds of composing, signed or not.
    const auto rate = [&](bool sign) {
        message.setSigner(sign ? signer : nullptr);
        QByteArray text;
        int count = 0;
        const double start = cpuSeconds();
        while (cpuSeconds() - start < seconds) {
            const QString n = QString::number(count);
            bv::compose::ComposeMessage(message, input, "Mr.", "First" + n, "Last" + n);
            message.setMailTo({"First" + n + " Last" + n + " <r" + n + "@example.org>"});
            message.Encode(text);
            bytes = text.size();
            ++count;
        }
        return count / (cpuSeconds() - start);
    };

    // The RSA operation alone, as the signer calls it.
    const auto& key = signer->keys().front();
    int signs = 0;
    const double signStart = cpuSeconds();
    while (cpuSeconds() - signStart < seconds) {
        key->sign("header data of about the usual length, which is hashed first");
        ++signs;
    }
    const double ownSigns = signs / (cpuSeconds() - signStart);

    // The body's canonical form and hash alone, over one unsigned message.
    bv::compose::ComposeMessage(message, input, "Mr.", "First", "Last");
    const QByteArray sample = message.Encode();
    int hashes = 0;
    const double hashStart = cpuSeconds();
    while (cpuSeconds() - hashStart < 1) {
        bv::compose::RelaxedBodyHash hash;
        hash.feed(sample);
        hash.finish();
        ++hashes;
    }
    const double hashUs = (cpuSeconds() - hashStart) / hashes * 1e6;

    const double unsignedRate = rate(false);
    const double signedRate = rate(true);
    const double openssl = opensslSignsPerSecond(seconds);
    const double slower = std::min(unsignedRate, openssl);

    std::printf("message:                         %lld bytes signed (bodies %d, two images of %d)\n",
                bytes, bodyBytes, imageSize);
    std::printf("composed per second, unsigned:   %.0f\n", unsignedRate);
    std::printf("composed and signed per second:  %.0f\n", signedRate);
    std::printf("openssl speed rsa2048 signs/s:   %.0f\n", openssl);
    std::printf("signs/s through the signer:      %.0f\n", ownSigns);
    std::printf("body hash of one message:        %.0f us\n", hashUs);
    std::printf("signed / slower of the two:      %.2f (goal 0.80 or more)\n",
                slower > 0 ? signedRate / slower : 0.0);
    // What signing costs beyond its RSA operation: canonical forms, hashes,
    // the header.
    std::printf("signing beyond RSA, per message: %.0f us\n",
                (1 / signedRate - 1 / unsignedRate - 1 / ownSigns) * 1e6);
    return 0;
}
