#include "AppTestFiles.h"
#include "MainWindowFixture.h"

#include "app/BrevicastMainUi.h"
#include "app/DirectMailFrame.h"
#include "app/Splash.h"
#include "data/TableView.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

using namespace bv;
using namespace bv::app;
using bv::test::contents;
using bv::test::writeFile;

namespace {

QStringList items(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

} // namespace

class TestMainState : public QObject
{
    Q_OBJECT

private slots:
    void showSequence_splashFirstThenMaintenance();
    void settings_surviveARestart();
    void settings_passwordMovesToSecretStore();
    void missingSettings_tickEveryBox();
    void vanishedEntries_comeBackUnchosen();
    void senders_loadedAndChosenByName();
    void listCount_countsRecipientsNotExcluded_data();
    void listCount_countsRecipientsNotExcluded();
    void newMessage_clearsTheMessage();
    void subjects_loadedAndSavedWithoutCaseDuplicates();
    void deleteSubject_removesFromList();
    void exitCommands_closeAndSave_data();
    void exitCommands_closeAndSave();
    void closeBeforeStart_writesNothing();
    void unwritableFolder_reportedOnClose();
    void unreadableSettings_notOverwrittenAtClose();
};

void TestMainState::showSequence_splashFirstThenMaintenance()
{
    test::MainWindowFixture f;
    auto& w = f.create();
    w.setStartupSplash(new TForm_Splash(f.clock, f.dialogs, SplashMode::StartUp));
    bool tablesSeenDuringSplash = true;
    f.dialogs.queueModal([&](QDialog&) {
        tablesSeenDuringSplash = w.recipientsView() != nullptr;
        return 1;
    });
    QVERIFY(f.start());
    QCOMPARE(f.dialogs.texts(), QStringList{"Splash"});
    QVERIFY(!tablesSeenDuringSplash);
    QVERIFY(w.recipientsView() && w.recipientsView()->isOpen());
    QVERIFY(w.exclusionsView() && w.exclusionsView()->isOpen());
    QCOMPARE(w.recipientsView()->tableName(), QString("RecipientList"));
    QCOMPARE(w.lblCurrentActivity->text(), QString());
}

void TestMainState::settings_surviveARestart()
{
    test::MainWindowFixture f;
    f.sql("insert into Lists (List) values ('Customers')");
    f.sql("insert into Lists (List) values ('Friends')");
    f.create();
    QVERIFY(f.start());
    auto& w = *f.window;
    w.memTextMessage->setPlainText(QStringLiteral("Dear {{-firstname-}},\n[Defaults]\ncbxSMTP=0\n\nBye"));
    w.memHTMLSource->setPlainText(QStringLiteral("<HTML>\n</HTML>"));
    w.AddStatusLine(QStringLiteral("a@x.org: refused"));
    w.txtDomain->setText(QStringLiteral("example.org"));
    w.txtSMTPServer->setText(QStringLiteral("mail.example.org:587"));
    w.txtUser->setText(QStringLiteral("me"));
    w.txtPassword->setText(QStringLiteral("p=ss word"));
    w.cbxAuth->setChecked(false);
    w.cbxAllowPlainPassword->setChecked(true);
    w.cbxSMTP->setChecked(false);
    w.fraDirectMail1->txtDNS->setText(QStringLiteral("127.0.0.1"));
    w.fraDirectMail1->txtHELO->setText(QStringLiteral("helo.example.org"));
    w.fraDirectMail1->txtEmailPath->setText(f.home.path());
    w.cbRecipientEmailFormat->setCurrentIndex(TfrmBrevicastMain::kCustomFormat);
    w.txtCustomRecipientName->setText(QStringLiteral("Dear reader"));
    w.rgSendTo->setItemIndex(1);
    w.txtSkipTheFirst->setText(QStringLiteral("12"));
    w.cbCurrentList->setCurrentIndex(1);
    w.cbEmailSubject->setEditText(QStringLiteral("Spring news"));
    const QStringList tests{"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"};
    w.txtTestEmail->addItems(tests);
    w.txtTestEmail->setEditText(QStringLiteral("c@x.org"));
    w.cbxErrorsByEmail->setChecked(false);
    w.opnImage = {f.home.file("logo.gif"), f.home.path()};
    w.close();
    QVERIFY(contents(f.home.file("BrevicastSettings.ini")).contains("\r\ntxtTestEmailItems5=e@x.org\r\n"));

    f.create();
    QVERIFY(f.start());
    auto& r = *f.window;
    QCOMPARE(r.memTextMessage->toPlainText(), QString("Dear {{-firstname-}},\n[Defaults]\ncbxSMTP=0\n\nBye"));
    QCOMPARE(r.memHTMLSource->toPlainText(), QString("<HTML>\n</HTML>"));
    QCOMPARE(r.memStatus->toPlainText(), QString("a@x.org: refused"));
    QCOMPARE(r.txtDomain->text(), QString("example.org"));
    QCOMPARE(r.txtSMTPServer->text(), QString("mail.example.org:587"));
    QCOMPARE(r.txtUser->text(), QString("me"));
    QCOMPARE(r.txtPassword->text(), QString("p=ss word"));
    QVERIFY(!r.cbxAuth->isChecked());
    QVERIFY(r.cbxAllowPlainPassword->isChecked());
    QVERIFY(!r.gbAuth->isEnabled());
    QVERIFY(!r.cbxSMTP->isChecked());
    QVERIFY(r.fraDirectMail1->cbxDirect->isChecked());
    QVERIFY(r.fraDirectMail1->gbDirectSend->isEnabled());
    QCOMPARE(r.fraDirectMail1->txtDNS->text(), QString("127.0.0.1"));
    QCOMPARE(r.fraDirectMail1->txtHELO->text(), QString("helo.example.org"));
    QCOMPARE(r.fraDirectMail1->txtEmailPath->text(), f.home.path());
    QCOMPARE(r.cbRecipientEmailFormat->currentText(), QString("Custom"));
    QVERIFY(r.txtCustomRecipientName->isVisible());
    QCOMPARE(r.txtCustomRecipientName->text(), QString("Dear reader"));
    QCOMPARE(r.rgSendTo->itemIndex(), 1);
    QVERIFY(r.txtSkipTheFirst->isEnabled());
    QCOMPARE(r.txtSkipTheFirst->text(), QString("12"));
    QCOMPARE(r.cbCurrentList->currentText(), QString("Friends"));
    QCOMPARE(r.txtSendAll->text(), QString("0"));
    QCOMPARE(r.cbEmailSubject->currentText(), QString("Spring news"));
    QCOMPARE(items(r.txtTestEmail), tests);
    // The show sequence puts its prompt over the restored test address.
    QCOMPARE(r.txtTestEmail->currentText(), QString("Enter Test Email Address"));
    QVERIFY(!r.cbxErrorsByEmail->isChecked());
    QCOMPARE(r.opnImage.fileName, f.home.file("logo.gif"));
    QCOMPARE(r.opnImage.initialDir, QDir::cleanPath(f.home.path()));
    QCOMPARE(r.opnMessage.initialDir, QDir::cleanPath(f.home.path()));
}

void TestMainState::settings_passwordMovesToSecretStore()
{
    test::MainWindowFixture f;
    f.secrets.service = true;
    const QString settings = f.home.file("BrevicastSettings.ini");
    // Written before there was a secret store.
    QVERIFY(writeFile(settings, "[Defaults]\r\ntxtSMTPServer=Mail.Example.org:587\r\ntxtUser=me\r\n"
                                "txtPassword=plain\r\n"));
    f.create();
    QVERIFY(f.start());
    QCOMPARE(f.window->txtPassword->text(), QString("plain"));
    f.window->close();
    QVERIFY(!contents(settings).contains("txtPassword"));
    QCOMPARE(f.secrets.secrets,
             (QHash<QString, QString>{{smtpSecretKey("mail.example.org:587", "me"), "plain"}}));

    f.create();
    QVERIFY(f.start());
    QCOMPARE(f.window->txtPassword->text(), QString("plain"));
}

void TestMainState::missingSettings_tickEveryBox()
{
    test::MainWindowFixture f;
    QVERIFY(f.start());
    auto& w = *f.window;
    for (QCheckBox* box : {w.cbxSMTP, w.cbxAuth, w.fraDirectMail1->cbxDirect, w.cbxErrorsByEmail})
        QVERIFY2(box->isChecked(), qPrintable(box->objectName()));
    // Except the one that lets a password go in the clear.
    QVERIFY(!w.cbxAllowPlainPassword->isChecked());
    QCOMPARE(w.cbCurrentList->currentIndex(), -1);
    QCOMPARE(w.cbRecipientEmailFormat->currentIndex(), -1);
    QVERIFY(!w.txtCustomRecipientName->isVisible());
    QCOMPARE(w.memTextMessage->toPlainText(), QString());
}

void TestMainState::vanishedEntries_comeBackUnchosen()
{
    test::MainWindowFixture f;
    f.sql("insert into Lists (List) values ('Customers')");
    QVERIFY(writeFile(f.home.file("BrevicastSettings.ini"), "[Defaults]\r\ncbCurrentList=Deleted list\r\ncbFromEmail=Gone\r\n"
                                                "cbRecipientEmailFormat=use email address for name\r\n"));
    QVERIFY(f.start());
    auto& w = *f.window;
    QCOMPARE(items(w.cbCurrentList), QStringList{"Customers"});
    QCOMPARE(w.cbCurrentList->currentIndex(), -1);
    QCOMPARE(w.cbFromEmail->currentIndex(), -1);
    QCOMPARE(w.cbRecipientEmailFormat->currentText(), QString("Use Email Address for Name"));
}

void TestMainState::senders_loadedAndChosenByName()
{
    test::MainWindowFixture f;
    QVERIFY(writeFile(f.home.file("Accounts.txt"), "Sales\r\nSupport\r\nsales@x.org\r\nhelp@x.org\r\n"));
    QVERIFY(writeFile(f.home.file("BrevicastSettings.ini"), "[Defaults]\r\ncbFromEmail=SUPPORT\r\n"));
    QVERIFY(f.start());
    QCOMPARE(items(f.window->cbFromEmail), (QStringList{"Sales", "Support"}));
    QCOMPARE(f.window->cbFromEmail->currentText(), QString("Support"));
}

void TestMainState::listCount_countsRecipientsNotExcluded_data()
{
    QTest::addColumn<QString>("list");
    QTest::newRow("plain name") << "Friends";
    QTest::newRow("name with a quote") << "O'Neil";
}

void TestMainState::listCount_countsRecipientsNotExcluded()
{
    QFETCH(QString, list);
    test::MainWindowFixture f;
    const QString q = data::quoted(list);
    f.sql("insert into Lists (List) values ('Other')");
    f.sql("insert into Lists (List) values (" + q + ")");
    auto recipient = [&](const QString& email, const QString& owner, bool sendTo) {
        f.sql(QStringLiteral("insert into RecipientList (Email, List, SendTo) values ('%1', %2, %3)")
                  .arg(email, data::quoted(owner), sendTo ? "True" : "False"));
    };
    recipient("a@x.org", list, true);
    recipient("b@x.org", list, false); // the count ignores SendTo
    recipient("c@x.org", list, true);  // excluded below
    recipient("d@x.org", list, true);  // excluded in another list only
    recipient("e@x.org", list, true);  // excluded in another letter case
    recipient("z@x.org", "Other", true);
    f.sql("insert into ExclusionList (Email, List) values ('c@x.org', " + q + ")");
    f.sql("insert into ExclusionList (Email, List) values ('d@x.org', 'Other')");
    f.sql("insert into ExclusionList (Email, List) values ('E@X.ORG', " + q + ")");

    QVERIFY(f.start());
    auto& w = *f.window;
    QCOMPARE(items(w.cbCurrentList), (QStringList{"Other", list}));
    w.cbCurrentList->setFocus();
    QTest::keyClick(w.cbCurrentList, Qt::Key_Down);
    QTest::keyClick(w.cbCurrentList, Qt::Key_Down);
    QCOMPARE(w.cbCurrentList->currentText(), list);
    QCOMPARE(w.txtSendAll->text(), QString("4"));
    QTest::keyClick(w.cbCurrentList, Qt::Key_Up);
    QCOMPARE(w.txtSendAll->text(), QString("1"));
    QVERIFY(f.dialogs.texts("error").isEmpty());
}

void TestMainState::newMessage_clearsTheMessage()
{
    test::MainWindowFixture f;
    f.sql("insert into Lists (List) values ('Friends')");
    QVERIFY(f.start());
    auto& w = *f.window;
    w.cbCurrentList->setCurrentIndex(0);
    w.cbRecipientEmailFormat->setCurrentIndex(2);
    w.cbEmailSubject->setEditText(QStringLiteral("Old news"));
    w.txtSkipTheFirst->setText(QStringLiteral("3"));
    w.memTextMessage->setPlainText(QStringLiteral("text"));
    w.memHTMLSource->setPlainText(QStringLiteral("html"));
    w.AddStatusLine(QStringLiteral("log"));
    w.lblLastError->setText(QStringLiteral("x: failed"));
    w.txtDomain->setText(QStringLiteral("kept.org"));
    w.txtSendAll->setText(QStringLiteral("99"));

    w.Action25->trigger();
    QCOMPARE(w.cbCurrentList->currentIndex(), -1);
    QCOMPARE(w.cbRecipientEmailFormat->currentIndex(), -1);
    QCOMPARE(w.cbEmailSubject->currentText(), QString());
    QCOMPARE(w.txtSkipTheFirst->text(), QString());
    QCOMPARE(w.memTextMessage->toPlainText(), QString());
    QCOMPARE(w.memHTMLSource->toPlainText(), QString());
    QCOMPARE(w.memStatus->toPlainText(), QString());
    QCOMPARE(w.lblLastError->text(), QString());
    QCOMPARE(w.txtDomain->text(), QString("kept.org"));
    QCOMPARE(w.txtSendAll->text(), QString("0"));
}

void TestMainState::subjects_loadedAndSavedWithoutCaseDuplicates()
{
    test::MainWindowFixture f;
    QVERIFY(writeFile(f.home.file("Subjects.txt"), "alpha\r\nBeta\r\n"));
    QVERIFY(f.start());
    auto& w = *f.window;
    QCOMPARE(items(w.cbEmailSubject), (QStringList{"alpha", "Beta"}));

    // Leaving the box remembers its text.
    w.cbEmailSubject->setFocus();
    QTRY_VERIFY(w.cbEmailSubject->hasFocus());
    w.cbEmailSubject->setEditText(QStringLiteral("Gamma"));
    w.memTextMessage->setFocus();
    QTRY_COMPARE(contents(f.home.file("Subjects.txt")), QByteArray("alpha\r\nBeta\r\nGamma\r\n"));

    w.cbEmailSubject->setEditText(QStringLiteral("ALPHA"));
    w.close();
    QCOMPARE(contents(f.home.file("Subjects.txt")), QByteArray("alpha\r\nBeta\r\nGamma\r\n"));
}

void TestMainState::deleteSubject_removesFromList()
{
    test::MainWindowFixture f;
    QVERIFY(writeFile(f.home.file("Subjects.txt"), "alpha\r\nBeta\r\n"));
    QVERIFY(f.start());
    auto& w = *f.window;
    w.cbEmailSubject->setEditText(QStringLiteral("beta"));
    QTest::mouseClick(w.btnDeleteSubject, Qt::LeftButton);
    QCOMPARE(items(w.cbEmailSubject), QStringList{"alpha"});
    QCOMPARE(w.cbEmailSubject->currentText(), QString());
}

void TestMainState::exitCommands_closeAndSave_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("Exit menu") << "Exit";
    QTest::newRow("Exit button") << "Action7";
    QTest::newRow("header Exit") << "SpeedButton1";
}

void TestMainState::exitCommands_closeAndSave()
{
    QFETCH(QString, command);
    test::MainWindowFixture f;
    QVERIFY(f.start());
    auto& w = *f.window;
    w.txtDomain->setText(QStringLiteral("saved.org"));
    w.cbEmailSubject->setEditText(QStringLiteral("Last words"));
    if (auto* action = w.findChild<QAction*>(command))
        action->trigger();
    else
        QTest::mouseClick(f.find<QToolButton>(qPrintable(command)), Qt::LeftButton);
    QVERIFY(!w.isVisible());
    QVERIFY(contents(f.home.file("BrevicastSettings.ini")).contains("\r\ntxtDomain=saved.org\r\n"));
    QCOMPARE(contents(f.home.file("Subjects.txt")), QByteArray("Last words\r\n"));
}

void TestMainState::closeBeforeStart_writesNothing()
{
    test::MainWindowFixture f;
    auto& w = f.create();
    w.txtDomain->setText(QStringLiteral("half-built.org"));
    w.close();
    QVERIFY(!QFile::exists(f.home.file("BrevicastSettings.ini")));
    QVERIFY(!QFile::exists(f.home.file("Subjects.txt")));
}

void TestMainState::unwritableFolder_reportedOnClose()
{
    test::MainWindowFixture f;
    f.services.programFolder = f.home.file("vanished/");
    QVERIFY(f.start());
    f.window->close();
    QVERIFY2(f.dialogs.texts("error").contains("Unable to write to " + f.home.file("vanished/BrevicastSettings.ini")),
             qPrintable(f.dialogs.texts("error").join(" | ")));
}

void TestMainState::unreadableSettings_notOverwrittenAtClose()
{
    test::MainWindowFixture f;
    // There, but no file can be read from it (root reads any plain file).
    QVERIFY(QDir().mkpath(f.home.file("BrevicastSettings.ini")));
    QVERIFY(f.start());
    QCOMPARE(f.dialogs.texts("error").size(), 1);
    QVERIFY(f.dialogs.texts("error").first().startsWith("Unable to read "));
    f.window->txtDomain->setText(QStringLiteral("blank.org"));
    f.window->close();
    // Shut-down tried no write over it.
    QCOMPARE(f.dialogs.texts("error").size(), 1);
    QVERIFY(QFileInfo(f.home.file("BrevicastSettings.ini")).isDir());
    QVERIFY(QFile::exists(f.home.file("Subjects.txt")));
}

QTEST_MAIN(TestMainState)
#include "tst_mainstate.moc"
