#pragma once

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>

#include <functional>

namespace bv::test {

// A mutating fuzzer for parsers of outside bytes, run as an ordinary test so
// that the sanitizer build of the suite checks every input it makes.
//
// Each round copies one input of the corpus and damages it a few times: bits
// flipped, bytes set to values parsers trip on (0, 0x7f, 0xff, '"', '\r',
// '\n', digits), runs deleted, repeated or spliced in from another input,
// the tail cut off. Round i draws only from the generator seeded with
// seed + i, so one failing round can be replayed alone.
//
// How long it runs: BV_FUZZ_SECONDS (default: defaultSeconds), at most
// BV_FUZZ_ROUNDS rounds when that is set. BV_FUZZ_SEED fixes the seed
// (default: from the clock); BV_FUZZ_ROUND replays that one round. The seed
// and the round in progress are printed so a crash can be replayed.
QByteArray mutate(const QByteArray& input, QRandomGenerator& rng, const QList<QByteArray>& corpus);

// Runs parse over mutated inputs, and over the corpus itself first. Returns
// the number of rounds run.
int fuzz(const char* name, const QList<QByteArray>& corpus,
         const std::function<void(const QByteArray&)>& parse, int defaultSeconds = 5);

} // namespace bv::test
