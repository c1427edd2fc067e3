#include "core/TextFile.h"
#include "Pop3Peers.h"
#include "PopRows.h"
#include "ProgramDatabase.h"
#include "returned/Inbox.h"
#include "returned/pop3Main.h"
#include "returned/Pop3Session.h"
#include "core/SenderAccounts.h"
#include "HostileText.h"
#include "WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace bv;
using namespace bv::returned;

class TestPop3Main : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void checkExcludeTrashClose();
    void stuckCheck_inboxStandsStill_closeEndsIt();
    void nothingToDo_data();
    void nothingToDo();
    void activation_data();
    void activation();
    void outsideText_showsAsWritten_data() { test::addHostileTextRows(); }
    void outsideText_showsAsWritten();

private:
    void trigger(const char* action) { m_w->findChild<QAction*>(action)->trigger(); }
    QString label(const char* name) const { return m_w->findChild<QLabel*>(name)->text(); }
    QStringList column(int c) const
    {
        QStringList out;
        auto* list = m_w->findChild<QTreeWidget*>("lvHeaders");
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(c);
        return out;
    }
    void select(const QList<int>& rows)
    {
        auto* list = m_w->findChild<QTreeWidget*>("lvHeaders");
        list->clearSelection();
        for (int r : rows)
            list->topLevelItem(r)->setSelected(true);
    }
    QStringList emails(const char* table, const char* field = "Email")
    {
        QStringList out;
        for (const QVariantList& row :
             m_conn
                 ->select(QStringLiteral("select %2, List from %1 order by 2, 1").arg(table, field))
                 .rows)
            out << row.value(1).toString() + QLatin1Char(':') + row.value(0).toString();
        return out;
    }
    void addRecipient(const QString& list, const QString& address)
    {
        m_conn->execute(
            QStringLiteral(
                "insert into RecipientList (FirstName, LastName, Email, List, Salutation, "
                "SendTo, New) values ('', '', :e, :l, '', True, False)"),
            {{"e", address}, {"l", list}});
    }
    void make()
    {
        m_w = std::make_unique<TfrmMain>(m_f->services, *m_conn, *m_local);
        m_w->show();
    }

    std::unique_ptr<test::WindowFixture> m_f;
    std::unique_ptr<data::Connection> m_conn;
    std::unique_ptr<data::Connection> m_local;
    std::unique_ptr<TfrmMain> m_w;
};

void TestPop3Main::init()
{
    m_f = std::make_unique<test::WindowFixture>();
    m_conn = std::make_unique<data::Connection>(QStringLiteral("AdsConnection1"));
    m_conn->open(m_f->home.path());
    m_local = std::make_unique<data::Connection>(QStringLiteral("LocalConnect"));
    m_local->open(m_f->home.path());
    for (const char* list : {"Spring", "Autumn"})
        m_conn->execute(QStringLiteral("insert into Lists (List) values (:l)"),
                        {{"l", QString::fromLatin1(list)}});
}

void TestPop3Main::cleanup()
{
    m_w.reset();
    m_local.reset();
    m_conn.reset();
    m_f.reset();
}

void TestPop3Main::checkExcludeTrashClose()
{
    test::Dovecot server;
    for (const char* name : {"postfix-report.eml", "exim-report.eml", "out-of-office.eml"})
        server.addMessage(test::returnedFixture(QString::fromLatin1(name)));
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    test::addPopRow(*m_conn, "news@our-shop.test", false, server.server());
    m_conn->execute(QStringLiteral(
        "update PopAccounts set Account = 'bounce', Password = 'secret', Port = 110"));
    Inbox inbox(*m_conn);
    for (int index : {5, 9})
        m_conn->execute(
            QStringLiteral("insert into IncomingEmail (Index, EmailMessage) values (:i, :t)"),
            {{"i", index}, {"t", storedMessageText(test::returnedFixture("plain-report.eml"))}});
    for (const char* a : {"anna.berg@far-away.test", "bo.lind@far-away.test",
                          "carl.dahl@elsewhere.test", "eva.ek@far-away.test", "news@our-shop.test"})
        addRecipient("Spring", QString::fromLatin1(a));
    addRecipient("Autumn", "carl.dahl@elsewhere.test");
    QVERIFY(WriteSenderAccounts(m_f->home.path(), {{"Our Shop", "news@our-shop.test"}}));
    QVERIFY(writeTextLines(m_f->home.file(TfrmMain::settingsFileName()),
                           {"[Defaults]", "cbxLeaveMailOnServer=0", "[Other]", "kept=yes"}));

    make();
    QVERIFY(QDir(m_f->home.file("Attach")).exists());
    QCOMPARE(m_w->cbAccount->currentText(), QStringLiteral("news@our-shop.test"));
    QVERIFY(!m_w->cbxLeaveMailOnServer->isChecked());
    QCOMPARE(m_w->cbLists->count(), 3);
    QCOMPARE(m_w->cbLists->currentText(), TfrmMain::allListsText());
    QCOMPARE(column(0), (QStringList{"   1", "   2"}));

    trigger("CheckMail");
    QVERIFY(m_w->session().busy());
    QVERIFY(!m_w->CheckMail->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!m_w->session().busy(), 20000);
    QVERIFY2(m_f->dialogs.shown().isEmpty(), qPrintable(m_f->dialogs.texts().join('|')));
    QCOMPARE(label("pnlStatus"), notConnectedText());
    QCOMPARE(column(0), (QStringList{"   1", "   2", "   3", "   4", "   5"}));
    QCOMPARE(column(1).mid(2), (QStringList{"Undelivered Mail Returned to Sender",
                                            "Mail delivery failed: returning message to sender",
                                            QString::fromUtf8("Frånvaro: Spring offers")}));
    QCOMPARE(label("pnlCount"), QStringLiteral("5"));
    QCOMPARE(server.messagesOnServer(), 0);

    select({4});
    QCOMPARE(label("lblPriority"), QStringLiteral("5"));
    QCOMPARE(label("lblOrganization"), QStringLiteral("Away Trading AB"));
    QCOMPARE(label("lblReceipt"), QStringLiteral("Gustav Ivarsson <gustav.ivarsson@away.test>"));
    QCOMPARE(label("pnlSubject"), QString::fromUtf8("Frånvaro: Spring offers"));
    QCOMPARE(label("lblDate"),
             detailDateText(
                 QDateTime::fromString("2026-03-10T07:45:10+01:00", Qt::ISODate).toLocalTime()));
    select({0, 4});
    QCOMPARE(label("lblSubject"), QString());

    // The two reports, into the exclusions of Spring only.
    m_w->cbLists->setCurrentText("Spring");
    select({2, 3});
    m_f->dialogs.queueAnswer(Answer::Yes);
    QStringList collected;
    m_f->dialogs.queueModal([&](QDialog&) {
        collected = emails("BadEmail", "EmailMemo");
        return int(QDialog::Accepted);
    });
    m_f->dialogs.queueAnswer(Answer::Yes);
    trigger("ExcludeSelected");
    QCOMPARE(m_f->dialogs.texts(),
             (QStringList{"Display Addresses found in the 2 selected messages?",
                          "Exclude Email Addresses",
                          "Remove the Recipients found, and add them to Exclusions?",
                          "3 Addresses Excluded, and 3 Recipients Removed."}));
    QCOMPARE(collected,
             (QStringList{"Spring:anna.berg@far-away.test", "Spring:bo.lind@far-away.test",
                          "Spring:carl.dahl@elsewhere.test"}));
    QCOMPARE(label("pnlStatus"), QStringLiteral("3 Addresses Excluded, and 3 Recipients Removed."));
    QCOMPARE(emails("RecipientList"),
             (QStringList{"Autumn:carl.dahl@elsewhere.test", "Spring:eva.ek@far-away.test",
                          "Spring:news@our-shop.test"}));
    QCOMPARE(emails("ExclusionList"),
             (QStringList{"Spring:anna.berg@far-away.test", "Spring:bo.lind@far-away.test",
                          "Spring:carl.dahl@elsewhere.test"}));

    m_f->dialogs.clear();
    select({0, 1});
    m_f->dialogs.queueAnswer(Answer::Yes);
    trigger("mnuTrashSelected");
    QCOMPARE(m_f->dialogs.texts(),
             (QStringList{"Delete the 2 selected messages?", "Cleared 2 Email Messages"}));
    QCOMPARE(column(0), (QStringList{"   1", "   2", "   3"}));
    QCOMPARE(column(1).first(), QStringLiteral("Undelivered Mail Returned to Sender"));
    QCOMPARE(inbox.count(), 3);

    m_w->cbxLeaveMailOnServer->setChecked(true);
    m_w->reject();
    QCOMPARE(column(0), QStringList());
    QCOMPARE(test::popRows(*m_conn), QStringList{"news@our-shop.test:1"});
    QStringList settings;
    QVERIFY(readTextLines(m_f->home.file(TfrmMain::settingsFileName()), settings));
    QCOMPARE(settings,
             (QStringList{"[Defaults]", "cbxLeaveMailOnServer=1", "[Other]", "kept=yes"}));
}

void TestPop3Main::stuckCheck_inboxStandsStill_closeEndsIt()
{
    test::ScriptedPop3 server(QStringLiteral("stall:TOP 2"), 3);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    test::addPopRow(*m_conn, "news@our-shop.test", false, server.server());
    m_conn->execute(QStringLiteral(
        "update PopAccounts set Account = 'bounce', Password = 'secret', Port = 110"));
    for (int index : {1, 2})
        m_conn->execute(
            QStringLiteral("insert into IncomingEmail (Index, EmailMessage) values (:i, :t)"),
            {{"i", index}, {"t", storedMessageText(test::returnedFixture("plain-report.eml"))}});
    make();
    trigger("CheckMail");
    QTRY_VERIFY_WITH_TIMEOUT(server.transcript().contains("TOP 2 0"), 20000);
    QVERIFY(m_w->session().busy());

    // Trashing now would renumber the inbox under the rows the check adds.
    for (const char* name : {"ExcludeAll", "ExcludeSelected", "mnuExcludeSelected", "TrashAll",
                             "TrashSelected", "mnuTrashSelected"})
        QVERIFY2(!m_w->findChild<QAction*>(name)->isEnabled(), name);
    select({0});
    trigger("TrashAll");
    trigger("mnuTrashSelected");
    trigger("ExcludeSelected");
    QCOMPARE(m_f->dialogs.texts(), QStringList());
    QCOMPARE(Inbox(*m_conn).count(), 3);

    // The server never answers; closing the window ends the check at once,
    // without QUIT, so the server deletes nothing.
    m_w->close();
    QVERIFY(!m_w->isVisible());
    QVERIFY(!m_w->session().busy());
    QVERIFY(!m_w->session().connected());
    QCOMPARE(m_f->dialogs.texts(), QStringList());
    QCOMPARE(server.transcript().join('|'),
             QStringLiteral("--|CAPA|USER bounce|PASS secret|STAT|LIST|TOP 1 0|RETR 1|DELE 1|TOP 2 0"));
    QCOMPARE(Inbox(*m_conn).count(), 3);
}

void TestPop3Main::nothingToDo_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("status");

    QTest::newRow("Check mail without an account")
        << "CheckMail" << QStringList{"Please add Account information."} << notConnectedText();
    QTest::newRow("Exclude All of an empty inbox")
        << "ExcludeAll" << QStringList{"No Messages to process."} << "Exclude Addresses Cancelled.";
    QTest::newRow("Exclude Selected with nothing selected")
        << "ExcludeSelected" << QStringList{"No Messages Selected."}
        << "Exclude Addresses Cancelled.";
    QTest::newRow("Trash Selected with nothing selected")
        << "TrashSelected" << QStringList{"No Messages Selected."} << notConnectedText();
    QTest::newRow("Trash All, not confirmed")
        << "TrashAll" << QStringList{"Delete all of the 0 messages in this list?"}
        << "Deletion Cancelled.";
}

void TestPop3Main::nothingToDo()
{
    QFETCH(QString, action);
    make();
    trigger(action.toLatin1().constData());
    QTEST(m_f->dialogs.texts(), "texts");
    QTEST(label("pnlStatus"), "status");
    QVERIFY(!m_w->session().busy());
}

void TestPop3Main::activation_data()
{
    QTest::addColumn<bool>("modal");
    QTest::addColumn<QString>("status");
    QTest::newRow("back from its own message box: the result stays")
        << true << "Cleared 2 Email Messages";
    QTest::newRow("back from another window: not connected") << false << notConnectedText();
}

void TestPop3Main::activation()
{
    QFETCH(bool, modal);
    make();
    m_w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
    QDialog other;
    other.setModal(modal);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    m_w->findChild<QLabel*>("pnlStatus")->setText("Cleared 2 Email Messages");
    other.close();
    m_w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
    QTEST(label("pnlStatus"), "status");
}

// The subject and sender of a returned message: read as markup, an image of
// /dev/zero ended the program each time the window opened.
void TestPop3Main::outsideText_showsAsWritten()
{
    QFETCH(QString, text);
    Inbox(*m_conn).store("From: \"" + text.toUtf8() + "\" <x@far-away.test>\r\nSubject: " +
                         text.toUtf8() + "\r\n\r\nBody\r\n");
    make();
    m_w->grab();
    QCOMPARE(column(1), QStringList{text});
    QCOMPARE(test::shownText(m_w->findChild<QLabel*>("lblSubject")), text);
    QCOMPARE(test::shownText(m_w->findChild<QLabel*>("pnlSubject")), text);
    QVERIFY2(test::shownText(m_w->findChild<QLabel*>("lblFrom")).contains(text),
             qPrintable(test::shownText(m_w->findChild<QLabel*>("lblFrom"))));
}

QTEST_MAIN(TestPop3Main)
#include "tst_pop3Main.moc"
