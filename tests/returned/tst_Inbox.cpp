#include "data/Database.h"
#include "lists/EmailUtils.h"
#include "Pop3Peers.h"
#include "ProgramDatabase.h"
#include "returned/Inbox.h"
#include "returned/Pop3Session.h"
#include "core/SenderAccounts.h"

#include <QFile>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QtTest>

#include <memory>

using namespace bv;
using namespace bv::returned;

namespace {

// Every field the window shows, in one text, for comparing two readings.
QString shown(const MailFields& m)
{
    return QStringList{m.from,
                       m.to,
                       m.cc,
                       m.subject,
                       detailDateText(m.date),
                       m.receiptTo,
                       m.organization,
                       QString::number(m.priority),
                       m.body,
                       m.messageId,
                       m.partTexts.join(QStringLiteral("\n--\n"))}
        .join(QStringLiteral("\n|\n"));
}

} // namespace

class TestInbox : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void storedText_readsBackTheSame_data();
    void storedText_readsBackTheSame();
    void numbering_data();
    void numbering();
    void checkMail_storesEveryMessage();
    void harvest_findsTheFailedRecipients_data();
    void harvest_findsTheFailedRecipients();

private:
    QList<int> indexes();
    void addRow(int index);

    std::unique_ptr<test::ProgramDatabase> m_db;
    data::Connection* m_conn = nullptr;
};

void TestInbox::init()
{
    m_db = std::make_unique<test::ProgramDatabase>();
    m_conn = &m_db->conn;
}

void TestInbox::cleanup()
{
    m_db.reset();
}

QList<int> TestInbox::indexes()
{
    QList<int> out;
    for (const Inbox::Message& m : Inbox(*m_conn).messages())
        out << m.index;
    return out;
}

void TestInbox::addRow(int index)
{
    m_conn->execute(
        QStringLiteral("insert into IncomingEmail (Index, EmailMessage) values (:i, 'Subject: x')"),
        {{"i", index}});
}

void TestInbox::storedText_readsBackTheSame_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("cc");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("date"); // ISO, with the message's offset
    QTest::addColumn<QString>("receipt");
    QTest::addColumn<QString>("organization");
    QTest::addColumn<int>("priority");
    QTest::addColumn<QString>("bodyStart");
    QTest::addColumn<int>("parts");

    QTest::newRow("postfix report") << test::returnedFixture("postfix-report.eml")
                                    << "Mail Delivery System <MAILER-DAEMON@mx.our-shop.test>"
                                    << QString() << "Undelivered Mail Returned to Sender"
                                    << "2026-03-03T10:15:02+01:00" << QString() << QString() << 3
                                    << "This is the mail system at host mx.our-shop.test." << 2;
    QTest::newRow("exchange-style report: the plain alternative is the body")
        << test::returnedFixture("exchange-report.eml") << "postmaster@corp.test" << QString()
        << "Undeliverable: Spring offers"
        << "2026-03-05T14:22:31Z" << QString() << QString() << 3
        << "Delivery has failed to these recipients or groups:" << 3;
    QTest::newRow("base64 notification")
        << test::returnedFixture("gmail-style-report.eml")
        << "Mail Delivery Subsystem <mailer-daemon@webmail.test>" << QString()
        << "Delivery Status Notification (Failure)"
        << "2026-03-06T09:30:02-08:00" << QString() << QString() << 3 << "Address not found" << 2;
    QTest::newRow("out of office: every header, 8-bit ISO-8859-1 body")
        << test::returnedFixture("out-of-office.eml")
        << QString::fromUtf8("Gustav Åkesson <gustav.ivarsson@away.test>")
        << "Helga Nord <helga.nord@away.test>, ivan@away.test"
        << QString::fromUtf8("Frånvaro: Spring offers") << "2026-03-10T07:45:10+01:00"
        << "Gustav Ivarsson <gustav.ivarsson@away.test>"
        << "Away Trading AB" << 5 << QString::fromUtf8("Hej,\r\n\r\njag är på semester") << 0;
    QTest::newRow("raw 8-bit header, Importance high")
        << QByteArray("From: a@b.test\r\nSubject: Fr\xe5nvaro\r\nImportance: High\r\n"
                      "Date: Wed, 11 Mar 2026 12:00:00 +0000\r\n\r\nBody\r\n")
        << "a@b.test" << QString() << QString::fromUtf8("Frånvaro") << "2026-03-11T12:00:00Z"
        << QString() << QString() << 1 << "Body" << 0;
    QTest::newRow("raw Latin-1 header, UTF-8 body: each read in its own code")
        << QByteArray("From: a@b.test\r\nSubject: na\xefve \x80\r\n"
                      "Date: Wed, 11 Mar 2026 12:00:00 +0000\r\nContent-Type: text/plain\r\n"
                      "Content-Transfer-Encoding: 8bit\r\n\r\nna\xc3\xafve \xe2\x82\xac\r\n")
        << "a@b.test" << QString() << QString::fromUtf8("naïve €") << "2026-03-11T12:00:00Z"
        << QString() << QString() << 3 << QString::fromUtf8("naïve €") << 0;
    QTest::newRow("NUL bytes in the body and the report")
        << test::returnedFixture("nul-report.eml")
        << "Mail Delivery System <MAILER-DAEMON@mx.nul.test>" << QString()
        << "Undelivered Mail Returned to Sender" << "2026-03-12T08:00:00Z" << QString() << QString()
        << 3 << QStringLiteral("This is the mail system at host mx.nul.test.") + QChar(0) << 1;
    QTest::newRow("not a message: kept as it came")
        << QByteArray("\xff\xfe garbage without headers\r\n") << QString() << QString() << QString()
        << QString() << QString() << QString() << 3 << QString() << 0;
}

void TestInbox::storedText_readsBackTheSame()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, date);

    Inbox inbox(*m_conn);
    QCOMPARE(inbox.store(message), 1);
    const QString stored = inbox.messageText(1).value_or(QString());
    QVERIFY(!stored.isEmpty());
    QVERIFY2(!stored.contains(QChar(0xFFFD)), qPrintable(stored));
    QCOMPARE(stored.count(QLatin1Char('\n')), stored.count(QStringLiteral("\r\n")));
    // Every byte is kept: the text goes on after a NUL.
    QCOMPARE(stored.count(QChar(0)), message.count('\0'));

    const MailFields fetched = parseMessage(message);
    const MailFields read = parseMessage(stored);
    QCOMPARE(shown(read), shown(fetched));
    QTEST(read.from, "from");
    QTEST(read.cc, "cc");
    QTEST(read.subject, "subject");
    QCOMPARE(detailDateText(read.date),
             detailDateText(QDateTime::fromString(date, Qt::ISODate).toLocalTime()));
    QTEST(read.receiptTo, "receipt");
    QTEST(read.organization, "organization");
    QTEST(read.priority, "priority");
    QFETCH(QString, bodyStart);
    QVERIFY2(read.body.startsWith(bodyStart), qPrintable(read.body));
    QTEST(int(read.partTexts.size()), "parts");
    if (fetched.from.isEmpty())
        QVERIFY(stored.contains(QStringLiteral("garbage without headers")));
}

void TestInbox::numbering_data()
{
    QTest::addColumn<QList<int>>("before");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QList<int>>("after");
    QTest::addColumn<int>("answer");

    QTest::newRow("store into an empty inbox") << QList<int>() << "store" << QList<int>{1} << 1;
    QTest::newRow("store after the highest")
        << QList<int>{2, 4, 1} << "store" << QList<int>{1, 2, 4, 5} << 5;
    QTest::newRow("renumber closes the gaps")
        << QList<int>{9, 1, 5, 2} << "renumber" << QList<int>{1, 2, 3, 4} << 0;
    QTest::newRow("trash one, then renumber")
        << QList<int>{1, 2, 3, 4, 5} << "trash 2 4" << QList<int>{1, 2, 3} << 2;
    QTest::newRow("trash a missing number")
        << QList<int>{1, 2} << "trash 7" << QList<int>{1, 2} << 0;
    QTest::newRow("trash all") << QList<int>{1, 3} << "trashAll" << QList<int>() << 2;
}

void TestInbox::numbering()
{
    QFETCH(QList<int>, before);
    QFETCH(QString, operation);
    for (int i : before)
        addRow(i);
    Inbox inbox(*m_conn);
    int answer = 0;
    if (operation == QLatin1String("store")) {
        answer = inbox.store("Subject: new\r\n\r\nx\r\n");
    } else if (operation == QLatin1String("renumber")) {
        inbox.renumber();
    } else if (operation == QLatin1String("trashAll")) {
        answer = inbox.trashAll();
    } else {
        for (const QString& n : operation.mid(6).split(' '))
            answer += inbox.trash(n.toInt()) ? 1 : 0;
        inbox.renumber();
    }
    QFETCH(QList<int>, after);
    QCOMPARE(indexes(), after);
    QCOMPARE(inbox.count(), int(after.size()));
    QTEST(answer, "answer");
}

void TestInbox::checkMail_storesEveryMessage()
{
    const QStringList names{"postfix-report.eml", "exim-report.eml", "plain-report.eml",
                            "out-of-office.eml", "no-message-id-1.eml"};
    test::Dovecot server;
    for (const QString& n : names)
        server.addMessage(test::returnedFixture(n));
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    addRow(7); // an earlier message stays and the new ones come after it

    Inbox inbox(*m_conn);
    Pop3Session session(*m_conn, [&inbox](const QByteArray& m) { return inbox.store(m); });
    QSignalSpy done(&session, &Pop3Session::finished);
    QVERIFY(
        session.checkMail({server.server(), 0, test::Dovecot::user(), test::Dovecot::password()}));
    QVERIFY(done.wait(20000));
    QVERIFY2(done.first().at(0).toBool(), qPrintable(done.first().at(1).toString()));

    const QList<Inbox::Message> stored = inbox.messages();
    QCOMPARE(stored.size(), names.size() + 1);
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(stored.at(i + 1).index, 8 + i);
        QCOMPARE(shown(parseMessage(stored.at(i + 1).text)),
                 shown(parseMessage(test::returnedFixture(names.at(i)))));
    }
}

void TestInbox::harvest_findsTheFailedRecipients_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("postfix, two recipients")
        << "postfix-report.eml" << QStringList{"anna.berg@far-away.test", "bo.lind@far-away.test"};
    QTest::newRow("exim: the returned body's addresses stay out")
        << "exim-report.eml" << QStringList{"carl.dahl@elsewhere.test"};
    QTest::newRow("exchange-style: the address only in the HTML part and the report")
        << "exchange-report.eml" << QStringList{"dan.falk@corp.test"};
    QTest::newRow("gmail-style: the address only in the report and the returned headers")
        << "gmail-style-report.eml" << QStringList{"erik.gran@mail.test"};
    QTest::newRow("older plain-text report")
        << "plain-report.eml" << QStringList{"frida.holm@old.test"};
    QTest::newRow("out of office: From and body, not Cc")
        << "out-of-office.eml" << QStringList{"gustav.ivarsson@away.test", "helga.nord@away.test"};
    QTest::newRow("without Message-ID")
        << "no-message-id-1.eml" << QStringList{"jon.kvist@tiny.test"};
    QTest::newRow("NUL bytes before the failed recipients")
        << "nul-report.eml" << QStringList{"lena.moss@nul.test", "olle.nyberg@nul.test"};
}

void TestInbox::harvest_findsTheFailedRecipients()
{
    QFETCH(QString, message);
    // The sender's own address stands in every report; it is never collected.
    QVERIFY(WriteSenderAccounts(m_db->home.path(), {{"Our Shop", "News@Our-Shop.test"}}));
    for (const char* address :
         {"anna.berg@far-away.test", "bo.lind@far-away.test", "carl.dahl@elsewhere.test",
          "eva.ek@far-away.test", "dan.falk@corp.test", "erik.gran@mail.test",
          "frida.holm@old.test", "gustav.ivarsson@away.test", "helga.nord@away.test",
          "ivan@away.test", "jon.kvist@tiny.test", "news@our-shop.test", "lena.moss@nul.test",
          "olle.nyberg@nul.test"})
        m_conn->execute(
            QStringLiteral(
                "insert into RecipientList (FirstName, LastName, Email, List, Salutation, "
                "SendTo, New) values ('', '', :e, 'Spring', '', True, False)"),
            {{"e", QString::fromLatin1(address)}});

    Inbox inbox(*m_conn);
    const int index = inbox.store(test::returnedFixture(message));
    lists::TExclude excluder(m_db->home.path());
    excluder.CollectAddresses(QString(), LoadSenderAddressesUpper(m_db->home.path()),
                              Inbox::harvestTexts(parseMessage(inbox.messageText(index).value())));
    QStringList found;
    for (const QVariantList& row :
         m_conn->select(QStringLiteral("select EmailMemo from BadEmail order by 1")).rows)
        found << row.value(0).toString();
    QTEST(found, "found");
}

QTEST_MAIN(TestInbox)
#include "tst_Inbox.moc"
