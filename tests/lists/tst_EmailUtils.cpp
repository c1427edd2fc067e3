#include "lists/EmailUtils.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace bv::lists;

namespace {

// The scanning rules read literally, copying the remaining text at every "@":
// slow, but plain enough to hold the fast scanner to.
QStringList referenceHarvest(const QString& line)
{
    auto delimiter = [](QChar c) {
        return c.unicode() < 128 && isAddressDelimiter(c.unicode());
    };
    QStringList out;
    QString rest = line;
    while (rest.contains(QLatin1Char('@'))) {
        const int a = int(rest.indexOf(QLatin1Char('@')));
        auto scan = [&](int step, int& p) {
            p = a;
            bool dot = false, found = false;
            while (p + step >= 0 && p + step < rest.size()) {
                const QChar c = rest.at(p + step);
                if (delimiter(c) || (c == QLatin1Char('.') && dot))
                    break;
                if (c == QLatin1Char('.') && p == a) {
                    found = false;
                    break;
                }
                found = true;
                p += step;
                dot = c == QLatin1Char('.');
            }
            if (dot)
                p -= step;
            return found && p != a;
        };
        int end = 0, start = 0;
        const bool endFound = scan(+1, end);
        if (rest.at(end) == QLatin1Char('-'))
            --end;
        if (endFound && scan(-1, start)) {
            QString address = rest.mid(start, end - start + 1);
            for (QChar& c : address)
                if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
                    c = QChar(c.unicode() - 32);
            out << address;
        }
        rest = rest.mid(end + 1).left(1000);
    }
    return out;
}

QStringList harvestStrings(const QString& text)
{
    QStringList out;
    HarvestAddresses(QStringList{text}, [&](const QString& a) { out << a; });
    return out;
}

QStringList harvestBytes(const QByteArray& bytes, TextEncoding enc)
{
    QStringList out;
    HarvestText(bytes, enc, {}, [&](QByteArrayView a) {
        out << (enc == TextEncoding::Utf8 ? QString::fromUtf8(a) : QString::fromLatin1(a));
    });
    return out;
}

} // namespace

class TestEmailUtils : public QObject
{
    Q_OBJECT
private slots:
    void examples_data();
    void examples();
    void lineProgress_oneStepPerLine_data();
    void lineProgress_oneStepPerLine();
    void randomAndHostileLines_matchTheRules();
};

void TestEmailUtils::examples_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("scanned"); // ScanAddress's address; empty: not found
    QTest::addColumn<QStringList>("harvested");

    QTest::newRow("in angle brackets") << "To: Ann <a.b@c.d>" << "a.b@c.d" << QStringList{"A.B@C.D"};
    QTest::newRow("two dots end the start") << "a..b@c.d" << "b@c.d" << QStringList{"B@C.D"};
    QTest::newRow("trailing dot dropped") << "a@c.d." << "a@c.d" << QStringList{"A@C.D"};
    QTest::newRow("one trailing hyphen dropped") << "a@c.d--" << "a@c.d-" << QStringList{"A@C.D-"};
    QTest::newRow("opening bracket belongs") << "[a@c.d]" << "[a@c.d" << QStringList{"[A@C.D"};
    QTest::newRow("mailto with a list")
        << "mailto:a@b.c,x@y.z" << "a@b.c" << QStringList{"A@B.C", "X@Y.Z"};
    QTest::newRow("second at ends the first") << "a@b@c.d" << "a@b" << QStringList{"A@B"};
    QTest::newRow("dot after the at") << "d@.e" << "" << QStringList{};
    QTest::newRow("dot before the at") << "f.@g.h" << "" << QStringList{};
    QTest::newRow("plus is a delimiter") << "a+b@c.d" << "b@c.d" << QStringList{"B@C.D"};
    QTest::newRow("underscore belongs") << "a_b@c.d" << "a_b@c.d" << QStringList{"A_B@C.D"};
    QTest::newRow("no at") << "no address here." << "" << QStringList{};
    QTest::newRow("every allowed sign")
        << "(a!#$%*?[^_{|}~`-b@y.z)" << "a!#$%*?[^_{|}~`-b@y.z" << QStringList{"A!#$%*?[^_{|}~`-B@Y.Z"};
    QTest::newRow("non-ASCII belongs, keeps its case")
        << "Jörg <jörg@müller.de>" << "jörg@müller.de" << QStringList{"JöRG@MüLLER.DE"};
    QTest::newRow("leading dot dropped") << ".a@b.c." << "a@b.c" << QStringList{"A@B.C"};
    QTest::newRow("two dots end the end") << "a@b..c" << "a@b" << QStringList{"A@B"};
    QTest::newRow("hyphen dropped after the nothing-taken test") << "a@-" << "a@" << QStringList{"A@"};
    QTest::newRow("scan goes on after a miss") << "d@.e x@y.z" << "" << QStringList{"X@Y.Z"};
    QTest::newRow("run of ats") << "@@@@ a@b.c" << "" << QStringList{"A@B.C"};
    QTest::newRow("an at ends the address before it") << "@@@@a@b.c" << "" << QStringList{};
    QTest::newRow("start scan stays in the remaining text")
        << "a@b.c@d.e" << "a@b.c" << QStringList{"A@B.C"};
    const QString far = QStringLiteral("a@b.c") + QString(995, ' ') + QStringLiteral("x@y.z");
    QTest::newRow("next address ends at the 1000th character")
        << far << "a@b.c" << QStringList{"A@B.C", "X@Y.Z"};
    QTest::newRow("next address cut by the 1000 characters")
        << QString(QStringLiteral("a@b.c") + QString(996, ' ') + QStringLiteral("x@y.z")) << "a@b.c"
        << QStringList{"A@B.C", "X@Y"};
    QTest::newRow("next address beyond the 1000 characters")
        << QString(QStringLiteral("a@b.c") + QString(998, ' ') + QStringLiteral("x@y.z")) << "a@b.c"
        << QStringList{"A@B.C"};
    QTest::newRow("1000 characters, not bytes")
        << QString(QStringLiteral("a@b.c ") + QString(993, QChar(0xE9)) + QStringLiteral(" x@y.z"))
        << "a@b.c" << QStringList{"A@B.C", "X@Y.Z"};
    QTest::newRow("the cut ends with the line")
        << QString(QStringLiteral("a@b.c") + QString(2000, ' ') + QStringLiteral("\r\np@q.r")) << "a@b.c"
        << QStringList{"A@B.C", "P@Q.R"};
    QTest::newRow("a lone CR ends a line")
        << QString(QStringLiteral("a@b.c") + QString(2000, ' ') + QStringLiteral("\rp@q.r")) << "a@b.c"
        << QStringList{"A@B.C", "P@Q.R"};

    // Every delimiter ends an address on both sides.
    QString delimiters;
    for (int c = 0; c < 128; ++c)
        if (c < 33 || c == 127 || QByteArray("\"&'()+,/:;<=>\\]").contains(char(c)))
            delimiters += QChar(c);
    for (QChar d : delimiters)
        QTest::addRow("delimiter %d", d.unicode())
            << QString("a" + QString(d) + "b@c.d" + QString(d) + "e") << "b@c.d"
            << QStringList{"B@C.D"};
}

void TestEmailUtils::examples()
{
    QFETCH(QString, text);
    QFETCH(QString, scanned);
    QFETCH(QStringList, harvested);

    if (!text.contains('\n') && !text.contains('\r')) {
        const ScanResult r = ScanAddress(text);
        QCOMPARE(r.found ? text.mid(r.start - 1, r.end - r.start + 1) : QString(), scanned);
        const QByteArray bytes = text.toUtf8();
        const ScanResult b = ScanAddress(QByteArrayView(bytes));
        QCOMPARE(b.found ? QString::fromUtf8(bytes.mid(b.start - 1, b.end - b.start + 1)) : QString(),
                 scanned);
    }
    QCOMPARE(harvestStrings(text), harvested);
    QCOMPARE(harvestBytes(text.toUtf8(), TextEncoding::Utf8), harvested);
}

void TestEmailUtils::lineProgress_oneStepPerLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("one line, no break") << QByteArray("no at here") << 1;
    QTest::newRow("final break starts no line") << QByteArray("a@b.c\r\n") << 1;
    QTest::newRow("CR LF, LF and CR") << QByteArray("a\r\nb\nc\rd") << 4;
    QTest::newRow("empty lines count") << QByteArray("\n\n\r\n") << 3;
    QTest::newRow("byte-order mark is not text") << QByteArray("\xEF\xBB\xBF" "a@b.c\n") << 1;
}

void TestEmailUtils::lineProgress_oneStepPerLine()
{
    QFETCH(QByteArray, text);
    QFETCH(int, lines);
    QList<qsizetype> steps;
    QStringList found;
    HarvestText(text, TextEncoding::Utf8, [&](qsizetype i) { steps << i; },
                [&](QByteArrayView a) { found << QString::fromUtf8(a); });
    QCOMPARE(steps.size(), lines);
    for (int i = 0; i < steps.size(); ++i)
        QCOMPARE(steps[i], qsizetype(i));
    QCOMPARE(countLines(text), qsizetype(lines));
    if (text.contains('@'))
        QCOMPARE(found, QStringList{"A@B.C"});
}

void TestEmailUtils::randomAndHostileLines_matchTheRules()
{
    QRandomGenerator rng(20261208);
    const QString alphabet = QStringLiteral("ab@@@@....--- <>\"'[]+,\t\x7f" "éü中");
    auto randomLine = [&](int maxLength) {
        QString s(int(rng.bounded(maxLength + 1)), Qt::Uninitialized);
        for (QChar& c : s)
            c = alphabet.at(rng.bounded(int(alphabet.size())));
        return s;
    };
    auto check = [&](const QString& line) {
        const QStringList expected = referenceHarvest(line);
        QCOMPARE(harvestStrings(line), expected);
        QCOMPARE(harvestBytes(line.toUtf8(), TextEncoding::Utf8), expected);
    };

    for (int i = 0; i < 200000; ++i)
        check(randomLine(i % 100 == 0 ? 3000 : 120));

    // Every byte value, read as 8-bit text and, mostly invalid, as UTF-8.
    for (int i = 0; i < 100000; ++i) {
        QByteArray bytes(int(rng.bounded(200)), Qt::Uninitialized);
        for (char& c : bytes)
            c = char(rng.bounded(256));
        const QString latin1 = QString::fromLatin1(bytes);
        QStringList lines;
        for (const QString& l : latin1.split(QRegularExpression("\r\n|\n|\r")))
            lines << referenceHarvest(l);
        QCOMPARE(harvestBytes(bytes, TextEncoding::Latin1), lines);
        for (const QString& a : harvestBytes(bytes, TextEncoding::Utf8))
            QVERIFY(!a.isEmpty());
    }

    const int mega = 1 << 20;
    const QString hostile[] = {
        QString(mega, '@'),
        QString(mega, '.'),
        QString(QStringLiteral("a@")).repeated(mega / 2),
        QString(QStringLiteral("a.")).repeated(mega / 2),
        QString(mega / 2, 'a') + '@' + QString(mega / 2, 'b'),
        QString(mega / 2, QChar(0x4E2D)) + '@' + QString(mega / 2, '-'),
        QString(QStringLiteral("x@y.z-")).repeated(mega / 6),
        randomLine(mega),
    };
    for (const QString& line : hostile)
        check(line);
}

QTEST_GUILESS_MAIN(TestEmailUtils)
#include "tst_EmailUtils.moc"
