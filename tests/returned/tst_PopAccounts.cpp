#include "PopRows.h"
#include "returned/PopAccounts.h"
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

QTEST_GUILESS_MAIN(TestPopAccounts)
#include "tst_PopAccounts.moc"
