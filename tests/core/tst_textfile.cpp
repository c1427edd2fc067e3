#include "TempProgramFolder.h"
#include "core/TextFile.h"

#include <QFile>
#include <QtTest>

using namespace bv;

class TestTextFile : public QObject
{
    Q_OBJECT
private slots:
    void splitLines_data();
    void splitLines();
    void decode_utf8OrWindows1252();
    void writeThenRead_roundTripsWithCrLf();
    void unwritable_keepsOldFile();
};

void TestTextFile::splitLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("crlf") << "a\r\nb\r\n" << QStringList{"a", "b"};
    QTest::newRow("lf") << "a\nb" << QStringList{"a", "b"};
    QTest::newRow("cr") << "a\rb\r" << QStringList{"a", "b"};
    QTest::newRow("mixed with empties") << "a\r\n\n\rb" << QStringList{"a", "", "", "b"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("only a break") << "\r\n" << QStringList{""};
}

void TestTextFile::splitLines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(bv::splitLines(text), lines);
}

void TestTextFile::decode_utf8OrWindows1252()
{
    QCOMPARE(decodeText("Caf\xc3\xa9"), QString::fromUtf8("Café"));
    // An old 8-bit file is not lost to replacement characters, and its
    // euro sign, quotes, dashes and ellipsis are those of code page 1252.
    QCOMPARE(decodeText("Caf\xe9 cr\xe8me"), QString::fromUtf8("Café crème"));
    QCOMPARE(decodeText("\x80 5 \x93hi\x94 \x91x\x92 \x96\x97 \x85 \x8a\x9f \x81"),
             QString::fromUtf8("€ 5 “hi” ‘x’ –— … ŠŸ \u0081"));
}

void TestTextFile::writeThenRead_roundTripsWithCrLf()
{
    test::TempProgramFolder home;
    const QString path = home.file("lines.txt");
    const QStringList lines{"Jürgen", "", "last line  "};
    QVERIFY(writeTextLines(path, lines));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("J\xc3\xbcrgen\r\n\r\nlast line  \r\n"));
    QStringList back;
    QVERIFY(readTextLines(path, back));
    QCOMPARE(back, lines);
    QString error;
    QVERIFY(!readTextLines(home.file("missing.txt"), back, &error));
    QVERIFY(!error.isEmpty());
}

void TestTextFile::unwritable_keepsOldFile()
{
    test::TempProgramFolder home;
    const QString path = home.file("keep.txt");
    QVERIFY(writeTextLines(path, {"old"}));
    QString error;
    QVERIFY(!writeTextLines(home.file("no/such/folder/x.txt"), {"x"}, &error));
    QVERIFY(!error.isEmpty());
    QStringList back;
    QVERIFY(readTextLines(path, back));
    QCOMPARE(back, QStringList{"old"});
}

QTEST_GUILESS_MAIN(TestTextFile)
#include "tst_textfile.moc"
