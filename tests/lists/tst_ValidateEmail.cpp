#include "lists/ValidateEmail.h"

#include <QtTest>

using bv::lists::IsValidEmail;

class TestValidateEmail : public QObject
{
    Q_OBJECT
private slots:
    void rules_data();
    void rules();
};

void TestValidateEmail::rules_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("plain") << "a@b.c" << true;
    QTest::newRow("blanks around are trimmed") << " a@b.c " << true;
    // A control character would end or bend the line the address goes in.
    QTest::newRow("control characters around") << "\ta@b.c\r\n" << false;
    QTest::newRow("line break inside") << "a\r\nRSET@b.c" << false;
    QTest::newRow("NUL inside") << QString("a") + QChar(0) + "b@c.d" << false;
    QTest::newRow("DEL") << "a\x7f@b.c" << false;
    QTest::newRow("C1 next line") << QString("a") + QChar(0x85) + "@b.c" << false;
    QTest::newRow("letters beyond ASCII pass") << QString("jos") + QChar(0xe9) + "@b.c" << true;
    QTest::newRow("no dot after the at") << "a@b" << false;
    QTest::newRow("second at") << "a@b@c.d" << false;
    QTest::newRow("nothing before the at") << "@b.c" << false;
    QTest::newRow("blank before the at") << "  @b.c" << false;
    QTest::newRow("inner space") << "a b@c.d" << false;
    QTest::newRow("braces") << "{a}@b.c" << false;
    QTest::newRow("semicolon passes") << "a;b@c.d" << true;
    QTest::newRow("angle brackets pass") << "<a@b.c>" << true;
    QTest::newRow("dot beside the at passes") << "a@.b" << true;
    QTest::newRow("trailing dot passes") << "x@y." << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("only blanks") << "   " << false;
    QTest::newRow("no at") << "ab.c" << false;
    QTest::newRow("nothing after the at") << "a@" << false;
    QTest::newRow("blank after the at") << "a@   " << false;
    QTest::newRow("open parenthesis") << "a(@b.c" << false;
    QTest::newRow("close parenthesis") << "a)@b.c" << false;
    QTest::newRow("slash") << "a/b@c.d" << false;
    QTest::newRow("comma") << "a,b@c.d" << false;
    QTest::newRow("backslash") << "a\\b@c.d" << false;
    QTest::newRow("single quote") << "o'neil@c.d" << false;
    QTest::newRow("double quote") << "\"a\"@c.d" << false;
    QTest::newRow("open square bracket") << "[a@c.d" << false;
    QTest::newRow("close square bracket") << "a@c.d]" << false;
    QTest::newRow("dot only before the at") << "a.b@c" << false;
    // Only 100 characters after the "@" are looked at.
    QTest::newRow("dot beyond 100 characters")
        << QString("a@" + QString(100, 'x') + ".c") << false;
    QTest::newRow("dot at the 100th character")
        << QString("a@" + QString(99, 'x') + ".c") << true;
    QTest::newRow("second at beyond 100 characters")
        << QString("a@b." + QString(98, 'x') + "@") << true;
}

void TestValidateEmail::rules()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(IsValidEmail(text), valid);
}

QTEST_GUILESS_MAIN(TestValidateEmail)
#include "tst_ValidateEmail.moc"
