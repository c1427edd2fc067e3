#include "app/QtDialogs.h"

#include <QRegularExpression>
#include <QtTest>

using namespace bv::app;

class TestQtDialogs : public QObject
{
    Q_OBJECT

private slots:
    void nameFilters_data();
    void nameFilters();
    void masks_matchAnyLetterCase_data();
    void masks_matchAnyLetterCase();
};

void TestQtDialogs::nameFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("message files") << "Brevicast (*.BVC)|*.BVC|All Files (*.*)|*.*"
                                   << QStringList{"Brevicast (*.BVC) (*.[bB][vV][cC])", "All Files (*.*) (*)"};
    QTest::newRow("several masks") << "HTML Files (*.HTM, *.HTML)|*.HTM;*.HTML|Any File (*.*)|*.*"
                                   << QStringList{"HTML Files (*.HTM, *.HTML) (*.[hH][tT][mM] *.[hH][tT][mM][lL])",
                                                  "Any File (*.*) (*)"};
    // Masks written with a comma and a blank still name two masks.
    QTest::newRow("comma-separated masks")
        << "HTML Files (*.HTM, *.HTML)|*.HTM, *.HTML|Any File (*.*)|*.*"
        << QStringList{"HTML Files (*.HTM, *.HTML) (*.[hH][tT][mM] *.[hH][tT][mM][lL])", "Any File (*.*) (*)"};
    QTest::newRow("description without mask") << "Odd" << QStringList{};
    QTest::newRow("empty mask") << "Everything|" << QStringList{"Everything (*)"};
}

void TestQtDialogs::nameFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(qtNameFilters(filter), expected);
}

void TestQtDialogs::masks_matchAnyLetterCase_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("matches");
    QTest::newRow("upper mask, lower name") << "*.JPG" << "holiday.jpg" << true;
    QTest::newRow("mixed") << "*.Gif" << "LOGO.gIF" << true;
    QTest::newRow("other extension") << "*.TXT" << "notes.txt.bak" << false;
    QTest::newRow("digits stay") << "*.MP3" << "song.mp3" << true;
}

void TestQtDialogs::masks_matchAnyLetterCase()
{
    QFETCH(QString, mask);
    QFETCH(QString, file);
    QFETCH(bool, matches);
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(caseInsensitiveMask(mask)));
    QCOMPARE(re.match(file).hasMatch(), matches);
}

QTEST_GUILESS_MAIN(TestQtDialogs)
#include "tst_qtdialogs.moc"
