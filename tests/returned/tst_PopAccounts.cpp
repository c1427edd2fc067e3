#include "PopRows.h"
#include "returned/PopAccounts.h"
#include "MemorySecrets.h"
#include "TempProgramFolder.h"

#include <QtTest>

using namespace bv::returned;
using bv::data::Connection;

class TestPopAccounts : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void getDefault_data();
    void getDefault();
    void getDefault_readsAllSixFields();
    void getDefault_emptyTable_givesNothing();
    void setDefault_data();
    void setDefault();
    void setDefault_emptyTable_changesNothing();
    void secondDefault_firstStillWins();
    void passwords_moveToSecretStore_data();
    void passwords_moveToSecretStore();

private:
    bv::test::TempProgramFolder* m_folder = nullptr;
    Connection* m_conn = nullptr;
};

void TestPopAccounts::init()
{
    m_folder = new bv::test::TempProgramFolder;
    m_conn = new Connection(QStringLiteral("AdsConnection1"));
    m_conn->open(m_folder->path());
}

void TestPopAccounts::cleanup()
{
    delete m_conn;
    delete m_folder;
}

void TestPopAccounts::getDefault_data()
{
    QTest::addColumn<QStringList>("rows"); // address, '*' in front when default
    QTest::addColumn<QString>("expected");
    QTest::newRow("no default: first row") << QStringList{"a@x.com", "b@x.com"} << "a@x.com";
    QTest::newRow("one default") << QStringList{"a@x.com", "*b@x.com", "c@x.com"} << "b@x.com";
    QTest::newRow("two defaults: first in table order")
        << QStringList{"a@x.com", "*c@x.com", "*b@x.com"} << "c@x.com";
}

void TestPopAccounts::getDefault()
{
    QFETCH(QStringList, rows);
    QFETCH(QString, expected);
    for (const QString& r : rows)
        bv::test::addPopRow(*m_conn, r.startsWith('*') ? r.mid(1) : r, r.startsWith('*'));
    const auto a = GetDefaultAccount(*m_conn);
    QVERIFY(a.has_value());
    QCOMPARE(a->emailAddress, expected);
}

void TestPopAccounts::getDefault_readsAllSixFields()
{
    bv::test::addPopRow(*m_conn, "ann@x.com", true, "mail.x.com");
    const auto a = GetDefaultAccount(*m_conn);
    QVERIFY(a.has_value());
    QCOMPARE(a->popServer, QString("mail.x.com"));
    QCOMPARE(a->port, 995);
    QCOMPARE(a->account, QString("ann"));
    QCOMPARE(a->password, QString("pw"));
    QVERIFY(a->isDefault);
}

void TestPopAccounts::getDefault_emptyTable_givesNothing()
{
    QVERIFY(!GetDefaultAccount(*m_conn).has_value());
}

void TestPopAccounts::setDefault_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("known address")
        << "b@x.com" << QStringList{"a@x.com:0", "b@x.com:1", "o'neil@x.com:0"};
    QTest::newRow("unknown address marks the first row")
        << "zz@x.com" << QStringList{"a@x.com:1", "b@x.com:0", "o'neil@x.com:0"};
    QTest::newRow("quote in the address")
        << "o'neil@x.com" << QStringList{"a@x.com:0", "b@x.com:0", "o'neil@x.com:1"};
    QTest::newRow("exact case only")
        << "B@X.COM" << QStringList{"a@x.com:1", "b@x.com:0", "o'neil@x.com:0"};
}

void TestPopAccounts::setDefault()
{
    QFETCH(QString, address);
    QFETCH(QStringList, after);
    for (const char* a : {"a@x.com", "b@x.com", "o'neil@x.com"})
        bv::test::addPopRow(*m_conn, a, false);
    SetDefaultAccount(*m_conn, address);
    QCOMPARE(bv::test::popRows(*m_conn), after);
}

void TestPopAccounts::setDefault_emptyTable_changesNothing()
{
    SetDefaultAccount(*m_conn, "a@x.com");
    QVERIFY(bv::test::popRows(*m_conn).isEmpty());
}

void TestPopAccounts::secondDefault_firstStillWins()
{
    bv::test::addPopRow(*m_conn, "a@x.com", false);
    bv::test::addPopRow(*m_conn, "b@x.com", false);
    bv::test::addPopRow(*m_conn, "c@x.com", false);
    SetDefaultAccount(*m_conn, "b@x.com");
    SetDefaultAccount(*m_conn, "c@x.com");
    QCOMPARE(bv::test::popRows(*m_conn), (QStringList{"a@x.com:0", "b@x.com:1", "c@x.com:1"}));
    QCOMPARE(GetDefaultAccount(*m_conn)->emailAddress, QString("b@x.com"));
}

void TestPopAccounts::passwords_moveToSecretStore_data()
{
    QTest::addColumn<bool>("service");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QStringList>("columns"); // the Password column of the three rows after the move
    QTest::addColumn<QStringList>("stored");  // the store's for a@x.com and b@x.com, "-" for none

    QTest::newRow("no secret service: the table keeps them")
        << false << false << QStringList{"pa", "pb", "pa2"} << QStringList{"-", "-"};
    // The second row of a@x.com has a password of its own: it stays.
    QTest::newRow("secret service takes them")
        << true << false << QStringList{"", "", "pa2"} << QStringList{"pa", "pb"};
    QTest::newRow("secret service refuses: the table keeps them")
        << true << true << QStringList{"pa", "pb", "pa2"} << QStringList{"-", "-"};
}

void TestPopAccounts::passwords_moveToSecretStore()
{
    QFETCH(bool, service);
    QFETCH(bool, refuse);
    QFETCH(QStringList, columns);
    QFETCH(QStringList, stored);
    const QStringList addresses{"a@x.com", "b@x.com", "a@x.com"};
    const QStringList passwords{"pa", "pb", "pa2"};
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        bv::test::addPopRow(*m_conn, addresses.at(i), false);
        m_conn->execute("update PopAccounts set Password = :p where rowid = :r",
                        {{"p", passwords.at(i)}, {"r", i + 1}});
    }
    bv::test::MemorySecrets secrets;
    secrets.service = service;
    secrets.refuse = refuse;
    MovePopPasswords(*m_conn, secrets);

    const auto rows = m_conn->select("select EmailAddress, Password from PopAccounts order by rowid");
    QStringList got;
    for (int i = 0; i < rows.size(); ++i) {
        const QString column = rows.value(i, "Password").toString();
        got << column;
        // Wherever it went, each account still has its own password.
        QCOMPARE(PopPassword(secrets, rows.value(i, "EmailAddress").toString(), column), passwords.at(i));
    }
    QCOMPARE(got, columns);
    QCOMPARE((QStringList{secrets.secrets.value(bv::popSecretKey("a@x.com"), "-"),
                          secrets.secrets.value(bv::popSecretKey("b@x.com"), "-")}),
             stored);
}

QTEST_GUILESS_MAIN(TestPopAccounts)
#include "tst_PopAccounts.moc"
