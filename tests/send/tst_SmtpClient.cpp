#include "TestClock.h"
#include "compose/ComposeMessage.h"
#include "send/SmtpClient.h"

#include <QtTest>

using namespace bv::send;

class TestSmtpClient : public QObject
{
    Q_OBJECT
private slots:
    void stateTexts_data();
    void stateTexts();
    void newClient_isIdleWithAnEmptyMessage();
    void replaceMessage_startsEmptyAndKeepsTheProgressHandler();
};

void TestSmtpClient::stateTexts_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    const char* texts[] = {"No operation",
                           "Connecting",
                           "Logging on with EHLO",
                           "Logging on with HELO",
                           "Sending sender's info",
                           "Sending MailTo info",
                           "Sending CC info",
                           "Sending BCC info",
                           "Sending Data",
                           "Resetting server",
                           "Help",
                           "Sending Envelope",
                           "Sending Message",
                           "Sending special command",
                           "Quit",
                           "Requesting authentication",
                           "Authenticating username",
                           "Authenticating password"};
    for (int i = 0; i < int(std::size(texts)); ++i)
        QTest::newRow(texts[i]) << i << QString(texts[i]);
}

void TestSmtpClient::stateTexts()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QCOMPARE(SmtpStateText(TIpSmtpStates(state)), text);
}

void TestSmtpClient::newClient_isIdleWithAnEmptyMessage()
{
    bv::test::TestClock clock;
    TIpSmtpClient client(clock);
    QCOMPARE(client.state(), ssNoOp);
    QCOMPARE(client.task(), stNoTask);
    QCOMPARE(client.xMailer(), QString("Internet Professional v1.15"));
    QCOMPARE(client.property("XMailer").toString(), QString("Internet Professional v1.15"));
    QCOMPARE(client.idleTimeout(), 0);
    QVERIFY(!client.includeBCC());
    QCOMPARE(client.message().Encode(), QByteArray("\r\n"));
}

void TestSmtpClient::replaceMessage_startsEmptyAndKeepsTheProgressHandler()
{
    bv::test::TestClock clock;
    TIpSmtpClient client(clock);
    int reports = 0;
    client.message().setOnCodingProgress([&](bv::compose::TIpMailMessage&, int, bool&) { ++reports; });
    bv::compose::ComposeMessage(client.message(), {"A <a@x.com>", "S", "p", "h"}, "", "", "");
    client.message().setMailTo({"b@y.org"});
    const auto* before = &client.message();
    client.replaceMessage();
    QVERIFY(&client.message() != before);
    QCOMPARE(client.message().Encode(), QByteArray("\r\n"));
    QVERIFY(client.message().mailTo().isEmpty());
    reports = 0;
    bv::compose::ComposeMessage(client.message(), {"A <a@x.com>", "S", "p", "h"}, "", "", "");
    QCOMPARE(reports, 20);
}

QTEST_GUILESS_MAIN(TestSmtpClient)
#include "tst_SmtpClient.moc"
