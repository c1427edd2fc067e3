#include "app/Splash.h"

#include "ScriptedDialogs.h"
#include "TestClock.h"

#include <QLabel>
#include <QtTest>

using namespace bv;
using namespace bv::app;

class TestSplash : public QObject
{
    Q_OBJECT

private slots:
    void startUp_growsShrinksHoldsAndCloses();
    void startUp_ignoresKeysClicksAndCloseRequests();
    void about_staysUntilKeyOrClick_data();
    void about_staysUntilKeyOrClick();
};

void TestSplash::startUp_growsShrinksHoldsAndCloses()
{
    test::TestClock clock;
    test::ScriptedDialogs dialogs;
    TForm_Splash splash(clock, dialogs, SplashMode::StartUp);
    QCOMPARE(splash.size(), QSize(436, 224));
    QSignalSpy accepted(&splash, &QDialog::accepted);

    splash.show();
    QCOMPARE(splash.lblApp->text(), QString("Brevicast 1 Beta"));
    QCOMPARE(splash.size(), QSize(536, 324));
    const QPoint centre = splash.geometry().center();

    QList<QSize> sizes;
    for (int tick = 0; tick < 10; ++tick) {
        clock.advance(20);
        sizes << splash.size();
        QCOMPARE(splash.geometry().center(), centre);
    }
    QList<QSize> expected;
    for (int step = 1; step <= 9; ++step)
        expected << QSize(536 - 8 * step, 324 - 8 * step);
    expected << QSize(464, 252); // the tick that starts the hold
    QCOMPARE(sizes, expected);

    clock.advance(3999);
    QVERIFY(splash.isVisible());
    QCOMPARE(splash.size(), QSize(464, 252));
    clock.advance(1);
    QCOMPARE(accepted.size(), 1);
    QVERIFY(!splash.isVisible());
    // The label is completed once, however often the window is shown.
    splash.show();
    QCOMPARE(splash.lblApp->text(), QString("Brevicast 1 Beta"));
}

void TestSplash::startUp_ignoresKeysClicksAndCloseRequests()
{
    test::TestClock clock;
    test::ScriptedDialogs dialogs;
    TForm_Splash splash(clock, dialogs, SplashMode::StartUp);
    splash.show();
    QTest::keyClick(&splash, Qt::Key_Escape);
    QTest::keyClick(&splash, Qt::Key_Return);
    QTest::mouseClick(&splash, Qt::LeftButton);
    QVERIFY(!splash.close());
    QVERIFY(splash.isVisible());
    clock.advance(200 + 4000);
    QVERIFY(!splash.isVisible());
}

void TestSplash::about_staysUntilKeyOrClick_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("key") << true;
    QTest::newRow("click") << false;
}

void TestSplash::about_staysUntilKeyOrClick()
{
    QFETCH(bool, byKey);
    test::TestClock clock;
    test::ScriptedDialogs dialogs;
    TForm_Splash splash(clock, dialogs, SplashMode::About);
    QSignalSpy accepted(&splash, &QDialog::accepted);
    splash.show();
    QCOMPARE(splash.lblApp->text(), QString("Brevicast 1 Beta"));
    clock.advance(60000);
    QVERIFY(splash.isVisible());
    QCOMPARE(splash.size(), QSize(464, 252));
    QCOMPARE(splash.Timer1->interval(), 4000);
    QVERIFY(splash.Timer1->isActive());

    if (byKey)
        QTest::keyClick(&splash, Qt::Key_Space);
    else
        QTest::mouseClick(&splash, Qt::LeftButton);
    QCOMPARE(accepted.size(), 1);
    QVERIFY(!splash.isVisible());
}

QTEST_MAIN(TestSplash)
#include "tst_splash.moc"
