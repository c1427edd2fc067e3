#include "Fuzz.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QtGlobal>

#include <cstdio>

namespace bv::test {

namespace {

const char kTricky[] = {0, 0x7f, char(0xff), char(0x80), '"', '\'', '\r', '\n', '<', '>', ':',
                        ';', ',', '=', '\\', '0', '9', ' ', '\t', '{', '}', '.', '/', '@'};

qint64 envNumber(const char* name, qint64 fallback)
{
    bool ok = false;
    const qint64 v = qEnvironmentVariable(name).toLongLong(&ok);
    return ok ? v : fallback;
}

} // namespace

QByteArray mutate(const QByteArray& input, QRandomGenerator& rng, const QList<QByteArray>& corpus)
{
    QByteArray b = input;
    const int steps = 1 + int(rng.bounded(4));
    for (int s = 0; s < steps; ++s) {
        const qsizetype n = b.size();
        const auto at = [&](qsizetype limit) { return limit > 0 ? qsizetype(rng.bounded(quint64(limit))) : 0; };
        switch (rng.bounded(8)) {
        case 0: // flip a bit
            if (n)
                b[at(n)] ^= char(1u << rng.bounded(8));
            break;
        case 1: // a byte parsers trip on
            if (n)
                b[at(n)] = kTricky[rng.bounded(int(sizeof kTricky))];
            break;
        case 2: { // delete a run
            if (!n)
                break;
            const qsizetype pos = at(n);
            b.remove(pos, 1 + at(qMin<qsizetype>(n - pos, 64)));
            break;
        }
        case 3: { // repeat a run, sometimes many times
            if (!n)
                break;
            const qsizetype pos = at(n);
            const QByteArray run = b.mid(pos, 1 + at(qMin<qsizetype>(n - pos, 32)));
            const int times = rng.bounded(8) == 0 ? 1 + int(rng.bounded(2000)) : 1;
            b.insert(pos, run.repeated(times));
            break;
        }
        case 4: { // splice in a piece of another input
            if (corpus.isEmpty())
                break;
            const QByteArray& other = corpus.at(rng.bounded(int(corpus.size())));
            if (other.isEmpty())
                break;
            const qsizetype from = at(other.size());
            b.insert(at(n + 1), other.mid(from, 1 + at(qMin<qsizetype>(other.size() - from, 256))));
            break;
        }
        case 5: // cut the tail
            if (n)
                b.truncate(at(n));
            break;
        case 6: { // a number made large or negative
            for (qsizetype i = at(n), seen = 0; i < n && seen < n; ++i, ++seen) {
                if (b[i] >= '0' && b[i] <= '9') {
                    static const char* big[] = {"2147483647", "4294967296", "-1", "99999999999999999999", "0"};
                    b.replace(i, 1, big[rng.bounded(5)]);
                    break;
                }
            }
            break;
        }
        default: // overwrite a byte at random
            if (n)
                b[at(n)] = char(rng.bounded(256));
            break;
        }
    }
    return b;
}

int fuzz(const char* name, const QList<QByteArray>& corpus,
         const std::function<void(const QByteArray&)>& parse, int defaultSeconds)
{
    const quint64 seed = quint64(envNumber("BV_FUZZ_SEED", QDateTime::currentMSecsSinceEpoch()));
    const qint64 only = envNumber("BV_FUZZ_ROUND", -1);
    const qint64 seconds = envNumber("BV_FUZZ_SECONDS", defaultSeconds);
    const qint64 maxRounds = envNumber("BV_FUZZ_ROUNDS", -1);
    std::fprintf(stderr, "fuzz %s: seed %llu (BV_FUZZ_SEED)\n", name, static_cast<unsigned long long>(seed));

    if (only < 0)
        for (const QByteArray& input : corpus)
            parse(input);
    if (corpus.isEmpty())
        return 0;

    QElapsedTimer clock;
    clock.start();
    int rounds = 0;
    for (qint64 i = only < 0 ? 0 : only;; ++i) {
        if (only >= 0 && i != only)
            break;
        if (only < 0 && (clock.elapsed() >= seconds * 1000 || (maxRounds >= 0 && rounds >= maxRounds)))
            break;
        QRandomGenerator rng(quint32(seed + quint64(i)));
        const QByteArray& base = corpus.at(rng.bounded(int(corpus.size())));
        const QByteArray input = mutate(base, rng, corpus);
        // Written over the same line so a crash leaves the round to replay.
        std::fprintf(stderr, "\rfuzz %s: round %lld (BV_FUZZ_ROUND)", name, static_cast<long long>(i));
        parse(input);
        ++rounds;
    }
    std::fprintf(stderr, "\nfuzz %s: %d rounds\n", name, rounds);
    return rounds;
}

} // namespace bv::test
