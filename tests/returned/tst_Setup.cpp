#include "PopRows.h"
#include "returned/PopAccounts.h"
#include "returned/Setup.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace bv;
using namespace bv::returned;

class TestSetup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void show_listsAddressesAndHidesFields();
    void leaving_initialText_startsNewAccount_savedBySave();
    void ok_existingAccount_editsThatRow();
    void close_postsAndAccepts();
    void cancel_discardsEdits();
    void cancel_discardsNewAccount();
    void delete_messages_data();
    void delete_messages();
    void focusLeavingAddressBox_looksUp();
    void secondAddress_keepsFirstRowsEdits();
    void password_isShownInClear();
    void fields_storeWhatTheyShow_data();
    void fields_storeWhatTheyShow();
    void allowPlainPassword_isKeptPerAccount();
    void password_keptInSecretStoreWhenThereIsOne_data();
    void password_keptInSecretStoreWhenThereIsOne();

private:
    void make();
    QComboBox* box() const { return m_w->findChild<QComboBox*>("cbEmailAddress"); }
    QLineEdit* field(const char* name) const { return m_w->findChild<QLineEdit*>(name); }
    void click(const char* name)
    {
        auto* b = m_w->findChild<QPushButton*>(name);
        QVERIFY2(b, name);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void typeAddress(const QString& text)
    {
        box()->clearEditText();
        QTest::keyClicks(box()->lineEdit(), text);
    }
    void retype(const char* name, const QString& text)
    {
        field(name)->selectAll();
        QTest::keyClick(field(name), Qt::Key_Delete);
        QTest::keyClicks(field(name), text);
    }
    // address, server, port, account, password, default of one row
    QStringList row(const QString& address)
    {
        bv::data::TableView v(*m_conn, "PopAccounts");
        v.open();
        if (!v.locate("EmailAddress", address))
            return {};
        QStringList out;
        for (const char* f :
             {"EmailAddress", "PopServer", "Port", "Account", "Password", "Default"})
            out << v.value(f).toString();
        return out;
    }

    std::unique_ptr<test::WindowFixture> m_f;
    std::unique_ptr<bv::data::Connection> m_conn;
    std::unique_ptr<TfmSetup> m_w;
};

void TestSetup::init()
{
    m_f = std::make_unique<test::WindowFixture>();
    m_conn = std::make_unique<bv::data::Connection>("AdsConnection1");
    m_conn->open(m_f->home.path());
}

void TestSetup::cleanup()
{
    m_w.reset();
    m_conn.reset();
    m_f.reset();
}

void TestSetup::make()
{
    m_w = std::make_unique<TfmSetup>(m_f->services, *m_conn);
    m_w->show();
}

void TestSetup::show_listsAddressesAndHidesFields()
{
    bv::test::addPopRow(*m_conn, "zed@x.com", false);
    bv::test::addPopRow(*m_conn, "ann@x.com", true);
    make();
    QCOMPARE(m_w->windowTitle(), QString("Setup"));
    QCOMPARE(box()->count(), 2);
    QCOMPARE(box()->itemText(0), QString("zed@x.com"));
    QCOMPARE(box()->currentText(), QString("My Reply-To Account"));
    for (const char* f : {"POPServer", "POPPort", "Account", "Password"})
        QVERIFY2(!field(f)->isVisible(), f);
}

void TestSetup::leaving_initialText_startsNewAccount_savedBySave()
{
    make();
    click("btnOK");
    QVERIFY(field("POPServer")->isVisible());
    QCOMPARE(field("POPPort")->text(), QString("110"));
    QCOMPARE(field("POPServer")->text(), TfmSetup::newServerHint());
    QVERIFY(row("My Reply-To Account").isEmpty()); // not stored before Save
    retype("POPServer", "pop.mine.com");
    retype("Account", "me");
    retype("Password", "secret");
    click("btnSave");
    QCOMPARE(row("My Reply-To Account"),
             (QStringList{"My Reply-To Account", "pop.mine.com", "110", "me", "secret", "true"}));
    QVERIFY(!field("POPServer")->isVisible());
    QCOMPARE(box()->count(), 1);
}

void TestSetup::ok_existingAccount_editsThatRow()
{
    bv::test::addPopRow(*m_conn, "ann@x.com", false);
    bv::test::addPopRow(*m_conn, "bob@x.com", false);
    make();
    typeAddress("bob@x.com");
    click("btnOK");
    QCOMPARE(field("Account")->text(), QString("bob"));
    QCOMPARE(field("POPPort")->text(), QString("995"));
    retype("POPPort", "1110");
    click("btnSave");
    QCOMPARE(row("bob@x.com"),
             (QStringList{"bob@x.com", "pop.x.com", "1110", "bob", "pw", "false"}));
    QCOMPARE(row("ann@x.com").at(2), QString("995"));
    QCOMPARE(bv::test::popRows(*m_conn).size(), 2);
}

void TestSetup::close_postsAndAccepts()
{
    bv::test::addPopRow(*m_conn, "ann@x.com", false);
    make();
    QSignalSpy accepted(m_w.get(), &QDialog::accepted);
    typeAddress("ann@x.com");
    click("btnOK");
    retype("Password", "new");
    click("btnClose");
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(row("ann@x.com").at(4), QString("new"));
}

void TestSetup::cancel_discardsEdits()
{
    bv::test::addPopRow(*m_conn, "ann@x.com", false);
    make();
    QSignalSpy rejected(m_w.get(), &QDialog::rejected);
    typeAddress("ann@x.com");
    click("btnOK");
    retype("Password", "new");
    click("btnCancel");
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(row("ann@x.com").at(4), QString("pw"));
}

void TestSetup::cancel_discardsNewAccount()
{
    make();
    typeAddress("new@x.com");
    click("btnOK");
    click("btnCancel");
    QVERIFY(bv::test::popRows(*m_conn).isEmpty());
}

void TestSetup::delete_messages_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("answer"); // -1: none asked
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("not found") << "zz@x.com" << -1
                               << QStringList{"Email Address: zz@x.com not found."}
                               << QStringList{"ann@x.com:0", "bob@x.com:0"};
    QTest::newRow("yes") << "bob@x.com" << int(Answer::Yes)
                         << QStringList{"Delete Account: bob@x.com?", "Account deleted."}
                         << QStringList{"ann@x.com:0"};
    QTest::newRow("no") << "bob@x.com" << int(Answer::No)
                        << QStringList{"Delete Account: bob@x.com?"}
                        << QStringList{"ann@x.com:0", "bob@x.com:0"};
    QTest::newRow("cancel") << "bob@x.com" << int(Answer::Cancel)
                            << QStringList{"Delete Account: bob@x.com?"}
                            << QStringList{"ann@x.com:0", "bob@x.com:0"};
}

void TestSetup::delete_messages()
{
    QFETCH(QString, address);
    QFETCH(int, answer);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, left);
    bv::test::addPopRow(*m_conn, "ann@x.com", false);
    bv::test::addPopRow(*m_conn, "bob@x.com", false);
    make();
    typeAddress(address);
    if (answer >= 0)
        m_f->dialogs.queueAnswer(Answer(answer));
    click("btnDelete");
    QCOMPARE(m_f->dialogs.texts(), texts);
    if (answer >= 0)
        QCOMPARE(m_f->dialogs.shown().at(0).buttons, Buttons::YesNoCancel);
    QCOMPARE(bv::test::popRows(*m_conn), left);
    QCOMPARE(box()->count(), left.size());
}

void TestSetup::focusLeavingAddressBox_looksUp()
{
    make();
    m_w->activateWindow();
    box()->setFocus();
    QTRY_VERIFY(box()->hasFocus());
    m_w->findChild<QPushButton*>("btnSave")->setFocus();
    QTRY_VERIFY(field("POPPort")->isVisible());
    QCOMPARE(field("POPPort")->text(), QString("110"));
}

void TestSetup::secondAddress_keepsFirstRowsEdits()
{
    bv::test::addPopRow(*m_conn, "ann@x.com", false);
    bv::test::addPopRow(*m_conn, "bob@x.com", false);
    make();
    typeAddress("ann@x.com");
    click("btnOK");
    retype("Account", "annie");
    typeAddress("bob@x.com");
    click("btnOK");
    retype("Account", "bobby");
    click("btnSave");
    QCOMPARE(row("ann@x.com").at(3), QString("annie"));
    QCOMPARE(row("bob@x.com").at(3), QString("bobby"));
}

void TestSetup::password_isShownInClear()
{
    make();
    QCOMPARE(field("Password")->echoMode(), QLineEdit::Normal);
    QCOMPARE(field("POPServer")->accessibleName(), QString("Incoming Mail Server (POP)"));
}

void TestSetup::fields_storeWhatTheyShow_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("column"); // of row()
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("kept");

    const QString long60 = QString(40, 'p') + QString(20, 'q');
    QTest::newRow("password with trailing blanks")
        << "Password" << 4 << "secret  " << "secret  ";
    QTest::newRow("password longer than stored") << "Password" << 4 << long60 << long60.left(50);
    QTest::newRow("password pasted with a line break")
        << "Password" << 4 << "se\r\ncret\r\n" << "secret";
    QTest::newRow("log-in name carrying a command") << "Account" << 3 << "me\r\nDELE 1"
                                                    << "meDELE 1";
    QTest::newRow("server longer than stored") << "POPServer" << 1 << long60 << long60.left(50);
}

void TestSetup::fields_storeWhatTheyShow()
{
    QFETCH(QString, field);
    QFETCH(QString, input);
    QFETCH(QString, kept);
    bv::test::addPopRow(*m_conn, "ann@x.com", false);
    make();
    typeAddress("ann@x.com");
    click("btnOK");
    QLineEdit* edit = m_w->findChild<QLineEdit*>(field);
    edit->selectAll();
    edit->insert(input);
    QCOMPARE(edit->text(), kept);
    click("btnSave");
    QFETCH(int, column);
    QCOMPARE(row("ann@x.com").value(column), kept);
}

void TestSetup::allowPlainPassword_isKeptPerAccount()
{
    bv::test::addPopRow(*m_conn, "ann@x.com", false);
    make();
    auto* allow = m_w->findChild<QCheckBox*>("cbxAllowPlainPassword");
    QVERIFY(allow);
    QCOMPARE(allow->text(), QString("Allow password without encryption"));
    QVERIFY(!allow->isVisible());
    typeAddress("bob@x.com");
    click("btnOK");
    QVERIFY(allow->isVisible());
    QVERIFY(!allow->isChecked());
    QTest::mouseClick(allow, Qt::LeftButton);
    click("btnSave");
    typeAddress("ann@x.com");
    click("btnOK");
    QVERIFY(!allow->isChecked());
    typeAddress("bob@x.com");
    click("btnOK");
    QVERIFY(allow->isChecked());
    QStringList allowed;
    for (const PopAccount& a : LoadPopAccounts(*m_conn))
        allowed << a.emailAddress + ':' + (a.allowPlainPassword ? '1' : '0');
    QCOMPARE(allowed, (QStringList{"ann@x.com:0", "bob@x.com:1"}));
}

void TestSetup::password_keptInSecretStoreWhenThereIsOne_data()
{
    QTest::addColumn<bool>("service");
    QTest::newRow("no secret service: the table keeps it") << false;
    QTest::newRow("secret service") << true;
}

void TestSetup::password_keptInSecretStoreWhenThereIsOne()
{
    QFETCH(bool, service);
    test::MemorySecrets& secrets = m_f->secrets;
    secrets.service = service;
    bv::test::addPopRow(*m_conn, "old@x.com", false); // stored in the table before
    make();
    click("btnOK");
    retype("Password", "secret");
    click("btnSave");
    QCOMPARE(row("My Reply-To Account").at(4), service ? QString() : QString("secret"));
    // Saving moves the older plain passwords too.
    QCOMPARE(row("old@x.com").at(4), service ? QString() : QString("pw"));
    QCOMPARE(secrets.secrets.value(popSecretKey("My Reply-To Account"), "-"), service ? "secret" : "-");
    QCOMPARE(secrets.secrets.value(popSecretKey("old@x.com"), "-"), service ? "pw" : "-");

    typeAddress("My Reply-To Account");
    click("btnOK");
    QCOMPARE(field("Password")->text(), QString("secret"));
    retype("Password", "changed");
    click("btnClose");
    QCOMPARE(row("My Reply-To Account").at(4), service ? QString() : QString("changed"));
    QCOMPARE(secrets.secrets.value(popSecretKey("My Reply-To Account"), "-"), service ? "changed" : "-");

    make();
    typeAddress("My Reply-To Account");
    m_f->dialogs.queueAnswer(Answer::Yes);
    click("btnDelete");
    QVERIFY(!secrets.secrets.contains(popSecretKey("My Reply-To Account")));
    QCOMPARE(secrets.secrets.value(popSecretKey("old@x.com"), "-"), service ? "pw" : "-");
}

QTEST_MAIN(TestSetup)
#include "tst_Setup.moc"
