#include "core/SenderAccounts.h"
#include "TempProgramFolder.h"

#include <QtTest>

using namespace bv;

namespace {

void writeAccounts(const bv::test::TempProgramFolder& folder, const QByteArray& bytes)
{
    QFile file(folder.file("Accounts.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestSenderAccounts : public QObject
{
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void formatSender_data();
    void formatSender();
    void upper_changesAsciiLettersOnly();
    void close_writesNamesThenAddresses();
    void lineBreaksInValues_neverShiftTheAccounts_data();
    void lineBreaksInValues_neverShiftTheAccounts();
    void emptiedGrid_readsBackAsOneEmptyAccount();
    void unreadableFile_isAnErrorNotAnEmptyBook();
};

void TestSenderAccounts::split_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("addresses");

    QTest::newRow("two accounts") << QByteArray("Ann\r\nBob\r\nann@x.com\r\nbob@y.org\r\n")
                                  << QStringList{"Ann", "Bob"}
                                  << QStringList{"ann@x.com", "bob@y.org"};
    QTest::newRow("five lines: two names, three addresses")
        << QByteArray("A\r\nB\r\na@x.com\r\nb@x.com\r\nc@x.com\r\n") << QStringList{"A", "B"}
        << QStringList{"a@x.com", "b@x.com", "c@x.com"};
    QTest::newRow("one line is an address without a name")
        << QByteArray("a@x.com\r\n") << QStringList() << QStringList{"a@x.com"};
    QTest::newRow("LF and CR line ends")
        << QByteArray("Ann\nBob\ra@x.com\nb@x.com") << QStringList{"Ann", "Bob"}
        << QStringList{"a@x.com", "b@x.com"};
    QTest::newRow("values as typed")
        << QByteArray(" Ann \r\n a@x.com \r\n") << QStringList{" Ann "} << QStringList{" a@x.com "};
    QTest::newRow("empty file") << QByteArray() << QStringList() << QStringList();
}

void TestSenderAccounts::split()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, names);
    QFETCH(QStringList, addresses);
    bv::test::TempProgramFolder folder;
    writeAccounts(folder, file);
    QCOMPARE(LoadSenderNames(folder.path()), names);
    QCOMPARE(LoadSenderAddresses(folder.path()), addresses);
    QCOMPARE(LoadSenderAccounts(folder.path()).size(), names.size());
}

void TestSenderAccounts::formatSender_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("from");

    QTest::newRow("exact") << "Sales"
                           << "Sales <sales@x.com>";
    QTest::newRow("other letter case, blanks trimmed") << "  SUPPORT "
                                                       << "Support <help@x.com>";
    QTest::newRow("first match wins") << "SALES"
                                      << "Sales <sales@x.com>";
    QTest::newRow("unknown") << "Nobody"
                             << "";
    QTest::newRow("unpaired address is no account") << "extra@x.com"
                                                    << "";
}

void TestSenderAccounts::formatSender()
{
    QFETCH(QString, name);
    QFETCH(QString, from);
    bv::test::TempProgramFolder folder;
    writeAccounts(folder, "Sales\r\n  Support \r\nsales\r\nsales@x.com\r\n help@x.com\r\n"
                          "other@x.com\r\nextra@x.com\r\n");
    QCOMPARE(FormatSender(folder.path(), name), from);
}

void TestSenderAccounts::upper_changesAsciiLettersOnly()
{
    bv::test::TempProgramFolder folder;
    writeAccounts(folder, QString("N\r\nzoë@exämple.com\r\n").toUtf8());
    QCOMPARE(LoadSenderAddressesUpper(folder.path()), QStringList{QString("ZOë@EXäMPLE.COM")});
}

void TestSenderAccounts::close_writesNamesThenAddresses()
{
    bv::test::TempProgramFolder folder;
    QVERIFY(WriteSenderAccounts(folder.path(), {{"Ann", "a@x.com"}, {"Bob", "b@x.com"}}));
    QFile file(folder.file("Accounts.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Ann\r\nBob\r\na@x.com\r\nb@x.com\r\n"));
    QCOMPARE(FormatSender(folder.path(), "bob"), QString("Bob <b@x.com>"));
}

void TestSenderAccounts::lineBreaksInValues_neverShiftTheAccounts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("from"); // of the account written second

    QTest::newRow("pasted address with its line end")
        << "Sales" << "sales@x.com\r\n" << "Sales <sales@x.com>";
    QTest::newRow("address split over two lines")
        << "Sales" << "sales@\nx.com" << "Sales <sales@x.com>";
    QTest::newRow("name over two lines, bare CR and NUL")
        << "Sa\rles\n" << QStringLiteral("sales@x.com") + QChar(0) << "Sales <sales@x.com>";
}

void TestSenderAccounts::lineBreaksInValues_neverShiftTheAccounts()
{
    QFETCH(QString, name);
    QFETCH(QString, address);
    bv::test::TempProgramFolder folder;
    QVERIFY(WriteSenderAccounts(folder.path(),
                                {{"Ann", "a@x.com"}, {name, address}, {"Bob", "b@x.com"}}));
    QCOMPARE(LoadSenderNames(folder.path()).size(), 3);
    QCOMPARE(LoadSenderAddresses(folder.path()).size(), 3);
    QCOMPARE(FormatSender(folder.path(), "Ann"), QString("Ann <a@x.com>"));
    QTEST(FormatSender(folder.path(), "Sales"), "from");
    QCOMPARE(FormatSender(folder.path(), "Bob"), QString("Bob <b@x.com>"));
}

void TestSenderAccounts::emptiedGrid_readsBackAsOneEmptyAccount()
{
    bv::test::TempProgramFolder folder;
    QVERIFY(WriteSenderAccounts(folder.path(), {{"", ""}}));
    QFile file(folder.file("Accounts.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\r\n\r\n"));
    QCOMPARE(LoadSenderNames(folder.path()), QStringList{""});
    QCOMPARE(LoadSenderAddresses(folder.path()), QStringList{""});
    QCOMPARE(FormatSender(folder.path(), ""), QString(" <>"));
}

void TestSenderAccounts::unreadableFile_isAnErrorNotAnEmptyBook()
{
    bv::test::TempProgramFolder folder;
    QVERIFY(LoadSenderNames(folder.path()).isEmpty()); // missing: no accounts
    QVERIFY(QDir(folder.path()).mkdir("Accounts.txt"));
    QVERIFY_THROWS_EXCEPTION(AccountsError, LoadSenderNames(folder.path()));
    QVERIFY_THROWS_EXCEPTION(AccountsError, FormatSender(folder.path(), "Ann"));
    QVERIFY(!WriteSenderAccounts(folder.path(), {{"Ann", "a@x.com"}}));
}

QTEST_GUILESS_MAIN(TestSenderAccounts)
#include "tst_SenderAccounts.moc"
