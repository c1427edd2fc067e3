#include "compose/MimeEncoding.h"
#include "core/TextFile.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace bv::compose;

namespace {

// An independent reading of RFC 2045 quoted-printable, for round trips.
QByteArray decodeQp(const QByteArray& in)
{
    QByteArray out;
    qsizetype i = 0;
    while (i < in.size()) {
        const char c = in.at(i);
        if (c == '=') {
            if (in.mid(i + 1, 2) == "\r\n") {
                i += 3;
                continue;
            }
            bool ok = false;
            out += char(in.mid(i + 1, 2).toInt(&ok, 16));
            if (!ok)
                return "<bad escape>";
            i += 3;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

QList<QByteArray> linesOf(const QByteArray& encoded)
{
    QList<QByteArray> lines = encoded.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestMimeEncoding : public QObject
{
    Q_OBJECT
private slots:
    void quotedPrintable_knownAnswers_data();
    void quotedPrintable_knownAnswers();
    void quotedPrintable_textLines_data();
    void quotedPrintable_textLines();
    void quotedPrintable_randomText_roundTripsWithinLineLimits();
    void quotedPrintable_piecewiseFeed_sameAsWhole();
    void base64_knownAnswers_data();
    void base64_knownAnswers();
    void base64_piecewiseFeed_sameAsWhole();
    void headerText_nonAscii_becomesEncodedWords_data();
    void headerText_nonAscii_becomesEncodedWords();
    void headerText_longNonAscii_foldsWordsWithinLimits();
};

void TestMimeEncoding::quotedPrintable_knownAnswers_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("empty line") << QByteArray("\r\n") << QByteArray("\r\n");
    QTest::newRow("plain line") << QByteArray("Hello there\r\n") << QByteArray("Hello there\r\n");
    QTest::newRow("equals sign") << QByteArray("a=b\r\n") << QByteArray("a=3Db\r\n");
    QTest::newRow("code 233") << QByteArray("caf\xE9\r\n") << QByteArray("caf=E9\r\n");
    QTest::newRow("utf-8 bytes") << QByteArray("caf\xC3\xA9\r\n") << QByteArray("caf=C3=A9\r\n");
    QTest::newRow("control and delete")
        << QByteArray("a\x01z\x7F\r\n") << QByteArray("a=01z=7F\r\n");
    QTest::newRow("printable edges kept") << QByteArray("!<>~\r\n") << QByteArray("!<>~\r\n");
    QTest::newRow("space before hard break") << QByteArray("end \r\n") << QByteArray("end=20\r\n");
    QTest::newRow("tab before hard break") << QByteArray("end\t\r\n") << QByteArray("end=09\r\n");
    QTest::newRow("two spaces before hard break")
        << QByteArray("a  \r\n") << QByteArray("a =20\r\n");
    QTest::newRow("inner blanks kept") << QByteArray("a b\tc\r\n") << QByteArray("a b\tc\r\n");
    QTest::newRow("bare LF is data") << QByteArray("a\nb\r\n") << QByteArray("a=0Ab\r\n");
    QTest::newRow("bare CR is data") << QByteArray("a\rb\r\n") << QByteArray("a=0Db\r\n");
    QTest::newRow("no final line break ends softly")
        << QByteArray("Hello") << QByteArray("Hello=\r\n");
    QTest::newRow("200 letters")
        << QByteArray(200, 'x') + "\r\n"
        << QByteArray(74, 'x') + "=\r\n" + QByteArray(74, 'x') + "=\r\n" + QByteArray(52, 'x')
               + "\r\n";
    QTest::newRow("words wrap before 74")
        << QByteArray("abcd ").repeated(20) + "\r\n"
        << QByteArray("abcd ").repeated(14) + "=\r\n" + QByteArray("abcd ").repeated(5)
               + "abcd=20\r\n";
    QTest::newRow("escape never cut")
        << QByteArray(73, 'x') + "=\r\n" << QByteArray(73, 'x') + "=\r\n=3D\r\n";
    QTest::newRow("74 characters and a blank reach 76")
        << QByteArray(73, 'x') + " \r\n" << QByteArray(73, 'x') + "=20\r\n";
    QTest::newRow("long word after short one")
        << QByteArray("ab ") + QByteArray(80, 'y') + "\r\n"
        << QByteArray("ab =\r\n") + QByteArray(74, 'y') + "=\r\n" + QByteArray(6, 'y') + "\r\n";
    QTest::newRow("two lines") << QByteArray("one\r\ntwo\r\n") << QByteArray("one\r\ntwo\r\n");
}

void TestMimeEncoding::quotedPrintable_knownAnswers()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, encoded);
    QCOMPARE(quotedPrintable(source), encoded);
}

void TestMimeEncoding::quotedPrintable_textLines_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("LF ends a line") << QByteArray("a\nb\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("CR ends a line") << QByteArray("a\rb\r\n") << QByteArray("a\r\nb\r\n");
    QTest::newRow("last line is ended") << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n");
    QTest::newRow("trailing CR") << QByteArray("a\r") << QByteArray("a\r\n");
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\n") << QByteArray("a\r\n\r\n");
    QTest::newRow("blank at the very end") << QByteArray("end ") << QByteArray("end=20\r\n");
    QTest::newRow("empty lines kept") << QByteArray("\n\n") << QByteArray("\r\n\r\n");
}

void TestMimeEncoding::quotedPrintable_textLines()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, encoded);
    QCOMPARE(quotedPrintable(source, QuotedPrintableEncoder::TextLines), encoded);
}

void TestMimeEncoding::quotedPrintable_randomText_roundTripsWithinLineLimits()
{
    QRandomGenerator random(4711);
    static const char pool[] = "ab =\t\r\n\xE9\x01~.";
    for (int round = 0; round < 300; ++round) {
        QByteArray source;
        const int n = random.bounded(400);
        for (int i = 0; i < n; ++i) {
            // Mostly letters so that lines grow long enough to wrap.
            source += random.bounded(3) ? char('a' + random.bounded(26))
                                        : pool[random.bounded(int(sizeof(pool) - 1))];
        }
        const QByteArray encoded = quotedPrintable(source);
        QCOMPARE(decodeQp(encoded), source);
        // As text, the same as its lines joined by CR LF.
        const QByteArray lines = bv::joinCrLf(bv::splitLines(QString::fromLatin1(source)));
        QCOMPARE(quotedPrintable(source, QuotedPrintableEncoder::TextLines),
                 quotedPrintable(QString::fromUtf8(lines).toLatin1()));
        for (const QByteArray& line : linesOf(encoded)) {
            QVERIFY2(line.endsWith('\r'), line.constData());
            const QByteArray text = line.chopped(1);
            QVERIFY2(text.size() <= 76, text.constData());
            QVERIFY2(!text.contains('\r'), text.constData());
            // Nothing the transport could strip at the end of a line.
            QVERIFY2(!text.endsWith(' ') && !text.endsWith('\t'), text.constData());
            for (char c : text)
                QVERIFY((uchar(c) >= 32 && uchar(c) < 127) || c == '\t');
        }
    }
}

void TestMimeEncoding::quotedPrintable_piecewiseFeed_sameAsWhole()
{
    const QByteArray source = QByteArray("Gr\xC3\xBC\xC3\x9F"
                                         " e ")
                                  .repeated(40)
                              + "\r\n" + QByteArray("line \r\n").repeated(5) + QByteArray(150, 'z');
    const QByteArray whole = quotedPrintable(source);
    for (int piece : {1, 2, 3, 7, 64}) {
        QByteArray out;
        QuotedPrintableEncoder enc(out);
        for (qsizetype i = 0; i < source.size(); i += piece)
            enc.feed(source.mid(i, piece));
        enc.finish();
        QCOMPARE(out, whole);

        // A staged body takes the output away after every piece.
        QByteArray drained;
        QByteArray chunk;
        QuotedPrintableEncoder staged(chunk);
        for (qsizetype i = 0; i < source.size(); i += piece) {
            staged.feed(source.mid(i, piece));
            drained += std::exchange(chunk, QByteArray());
        }
        staged.finish();
        QCOMPARE(drained + chunk, whole);
    }
}

void TestMimeEncoding::base64_knownAnswers_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("encoded");

    // RFC 4648 section 10.
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("f") << QByteArray("f") << QByteArray("Zg==\r\n");
    QTest::newRow("fo") << QByteArray("fo") << QByteArray("Zm8=\r\n");
    QTest::newRow("foo") << QByteArray("foo") << QByteArray("Zm9v\r\n");
    QTest::newRow("foob") << QByteArray("foob") << QByteArray("Zm9vYg==\r\n");
    QTest::newRow("fooba") << QByteArray("fooba") << QByteArray("Zm9vYmE=\r\n");
    QTest::newRow("foobar") << QByteArray("foobar") << QByteArray("Zm9vYmFy\r\n");
    QTest::newRow("all bits") << QByteArray("\xFB\xFF\xBF") << QByteArray("+/+/\r\n");
    QTest::newRow("57 bytes fill one line")
        << QByteArray(57, '\0') << QByteArray(76, 'A') + "\r\n";
    QTest::newRow("58 bytes start a second line")
        << QByteArray(58, '\0') << QByteArray(76, 'A') + "\r\nAA==\r\n";
    QTest::newRow("114 bytes fill two lines")
        << QByteArray(114, '\xFF') << (QByteArray(76, '/') + "\r\n").repeated(2);
}

void TestMimeEncoding::base64_knownAnswers()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, encoded);
    QCOMPARE(base64Lines(source), encoded);
    QCOMPARE(Base64LineEncoder::encodedSize(source.size()), encoded.size());
}

void TestMimeEncoding::base64_piecewiseFeed_sameAsWhole()
{
    QByteArray source;
    QRandomGenerator random(99);
    for (int i = 0; i < 1000; ++i)
        source += char(random.bounded(256));
    QByteArray expected;
    const QByteArray flat = source.toBase64();
    for (qsizetype i = 0; i < flat.size(); i += 76)
        expected += flat.mid(i, 76) + "\r\n";
    for (int piece : {1, 2, 56, 57, 58, 999}) {
        QByteArray out;
        Base64LineEncoder enc(out);
        for (qsizetype i = 0; i < source.size(); i += piece)
            enc.feed(source.mid(i, piece));
        enc.finish();
        QCOMPARE(out, expected);
    }
}

void TestMimeEncoding::headerText_nonAscii_becomesEncodedWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("address");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("ascii subject as it stands")
        << "Hello {{-firstname-}}" << false << QByteArray("Hello {{-firstname-}}");
    QTest::newRow("non-ascii subject")
        << QString::fromUtf8("Grüße") << false << QByteArray("=?utf-8?B?R3LDvMOfZQ==?=");
    QTest::newRow("ascii sender as it stands")
        << "Ann Smith <ann@example.com>" << true << QByteArray("Ann Smith <ann@example.com>");
    QTest::newRow("non-ascii name, address kept")
        << QString::fromUtf8("Jörg <j@example.com>") << true
        << QByteArray("=?utf-8?B?SsO2cmc=?= <j@example.com>");
    QTest::newRow("quoted non-ascii name loses its quotes")
        << QString::fromUtf8("\"Jörg\" <j@example.com>") << true
        << QByteArray("=?utf-8?B?SsO2cmc=?= <j@example.com>");
}

void TestMimeEncoding::headerText_nonAscii_becomesEncodedWords()
{
    QFETCH(QString, text);
    QFETCH(bool, address);
    QFETCH(QByteArray, encoded);
    QCOMPARE(address ? encodeAddressText(text) : encodeHeaderText(text), encoded);
}

void TestMimeEncoding::headerText_longNonAscii_foldsWordsWithinLimits()
{
    const QString subject = QString::fromUtf8("Ünïcödé wörds ").repeated(12)
                            + QString::fromUtf8("ü€").repeated(30);
    const QByteArray encoded = "Subject: " + encodeHeaderText(subject, 9);
    QString decoded;
    const QList<QByteArray> lines = encoded.split('\n');
    QVERIFY(lines.size() > 3);
    for (const QByteArray& line : lines) {
        // Readers that join the words before decoding need unpadded words.
        if (&line != &lines.last())
            QVERIFY2(!line.contains("=?="), line.constData());
        QVERIFY2(line.size() <= 77, line.constData()); // 76 and the CR
        const QByteArray text = line.trimmed();
        const qsizetype open = text.indexOf("=?utf-8?B?");
        QVERIFY(open >= 0);
        QVERIFY(text.endsWith("?="));
        const QByteArray payload = text.mid(open + 10, text.size() - open - 12);
        const QByteArray bytes = QByteArray::fromBase64(payload);
        // Each word holds whole characters.
        QVERIFY(QString::fromUtf8(bytes).toUtf8() == bytes);
        decoded += QString::fromUtf8(bytes);
    }
    QCOMPARE(decoded, subject);
}

QTEST_GUILESS_MAIN(TestMimeEncoding)
#include "tst_MimeEncoding.moc"
