#include "app/SenderDomains.h"
#include "compose/DkimKeys.h"
#include "core/SenderAccounts.h"
#include "ExchangerPeers.h"
#include "WindowFixture.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

using namespace bv;
using namespace bv::app;

class TestSenderDomains : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void domains_ofTheAccountsAndTheKeyFolders();
    void createKey_showsTheRecordToPublish();
    void checkDns_saysWhatWasFoundAndWhatToDo_data();
    void checkDns_saysWhatWasFoundAndWhatToDo();

private:
    void choose(const QString& domain);
    template <typename T> T* child(const char* name) { return m_w->findChild<T*>(name); }

    test::WindowFixture m_f;
    test::Dnsmasq m_dns;
    std::unique_ptr<TfrmSenderDomains> m_w;
};

void TestSenderDomains::initTestCase()
{
    QVERIFY(WriteSenderAccounts(m_f.home.path(), {{"Ann", "ann@Example.com"},
                                                  {"Bob", "bob@bücher.example"},
                                                  {"Broken", "no address"}}));
    for (const char* domain : {"ok.test", "bare.test", "wrong.test"})
        compose::CreateDkimKey(m_f.home.path(), domain, "s1");
    const auto published = compose::ListDkimKeys(m_f.home.path(), "ok.test").first().key;
    const auto other = compose::DkimKey::generateRsa(2048, "s1");
    const auto txt = [](const QString& name, const QByteArray& value) {
        QString strings;
        for (const QByteArray& s : compose::SplitTxtStrings(value))
            strings += u',' + QString::fromLatin1(s);
        return "--txt-record=" + name + strings;
    };
    QVERIFY2(m_dns.start({txt("s1._domainkey.ok.test", published->txtRecord()),
                          "--txt-record=ok.test,v=spf1 mx -all", "--txt-record=ok.test,other=1",
                          "--txt-record=_dmarc.ok.test,v=DMARC1; p=reject",
                          "--mx-host=ok.test,mx.ok.test,10",
                          txt("s1._domainkey.wrong.test", other->txtRecord()),
                          "--txt-record=wrong.test,v=spf1 a -all",
                          "--txt-record=wrong.test,v=spf1 mx -all",
                          "--txt-record=_dmarc.wrong.test,v=DMARC1; p=none",
                          "--mx-host=wrong.test,mx.wrong.test,10"}),
             qPrintable(m_dns.error()));
    m_w = std::make_unique<TfrmSenderDomains>(m_f.services, [this] { return m_dns.server(); });
}

void TestSenderDomains::choose(const QString& domain)
{
    auto* list = child<QListWidget>("lstDomains");
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(Qt::UserRole).toString() == domain)
            list->setCurrentRow(i);
    QCOMPARE(list->currentItem()->data(Qt::UserRole).toString(), domain);
}

void TestSenderDomains::domains_ofTheAccountsAndTheKeyFolders()
{
    auto* list = child<QListWidget>("lstDomains");
    QStringList shown, domains;
    for (int i = 0; i < list->count(); ++i) {
        shown << list->item(i)->text();
        domains << list->item(i)->data(Qt::UserRole).toString();
    }
    QCOMPARE(domains, QStringList({"bare.test", "example.com", "ok.test", "wrong.test",
                                   "xn--bcher-kva.example"}));
    QCOMPARE(shown.last(), "bücher.example (xn--bcher-kva.example)");
}

void TestSenderDomains::createKey_showsTheRecordToPublish()
{
    choose("example.com");
    auto* grid = child<QTableWidget>("grdKeys");
    QCOMPARE(grid->rowCount(), 0);
    QCOMPARE(child<QLineEdit>("txtSelector")->text(), "bv202612");
    QTest::mouseClick(child<QPushButton>("btnCreateKey"), Qt::LeftButton);
    QCOMPARE(grid->rowCount(), 1);
    QStringList row;
    for (int c = 0; c < 4; ++c)
        row << grid->item(0, c)->text();
    QCOMPARE(row, QStringList({"bv202612", "RSA", "2048", "Signs"}));
    const QString path = m_f.home.path() + "DKIM/example.com/bv202612.pem";
    QCOMPARE(QFile::permissions(path) & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);

    QCOMPARE(child<QLineEdit>("txtRecordName")->text(), "bv202612._domainkey.example.com");
    const QString value = child<QPlainTextEdit>("txtRecordValue")->toPlainText();
    QVERIFY(value.startsWith("v=DKIM1; k=rsa; p=MIIBIjAN"));
    const QString strings = child<QPlainTextEdit>("txtRecordStrings")->toPlainText();
    QCOMPARE(strings, "\"" + value.left(255) + "\" \"" + value.mid(255) + "\"");

    // The same selector again is refused; the key stays.
    QTest::mouseClick(child<QPushButton>("btnCreateKey"), Qt::LeftButton);
    QCOMPARE(m_f.dialogs.texts().size(), 1);
    QVERIFY2(m_f.dialogs.texts().first().contains("is taken"), qPrintable(m_f.dialogs.texts().first()));
    QCOMPARE(grid->rowCount(), 1);
}

void TestSenderDomains::checkDns_saysWhatWasFoundAndWhatToDo_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QStringList>("lines"); // each line's beginning
    QTest::newRow("all in order")
        << "ok.test"
        << QStringList{"DKIM key \"s1\": found at s1._domainkey.ok.test, and it matches the key.",
                       "SPF: found \"v=spf1 mx -all\".", "DMARC: found, policy p=reject.",
                       "MX: mx.ok.test. Nothing to do."};
    QTest::newRow("other key, two SPF records, DMARC that only reports")
        << "wrong.test"
        << QStringList{"DKIM key \"s1\": the record at s1._domainkey.wrong.test holds a different key.",
                       "SPF: 2 records at wrong.test start with \"v=spf1\"",
                       "DMARC: found, policy p=none: receivers only report.", "MX: mx.wrong.test."};
    QTest::newRow("nothing published")
        << "bare.test"
        << QStringList{"DKIM key \"s1\": missing. Publish the TXT record shown above as "
                       "s1._domainkey.bare.test.",
                       "SPF: missing.", "DMARC: missing. Publish a TXT record at _dmarc.bare.test",
                       "MX: the domain bare.test does not exist in DNS."};
    QTest::newRow("no key") << "example.org"
                            << QStringList{"DKIM: example.org has no signing key"};
}

void TestSenderDomains::checkDns_saysWhatWasFoundAndWhatToDo()
{
    QFETCH(QString, domain);
    QFETCH(QStringList, lines);
    if (domain == "example.org") {
        // A domain with neither key nor records: only its accounts name it.
        QVERIFY(WriteSenderAccounts(m_f.home.path(), {{"Cy", "cy@example.org"}}));
        m_w = std::make_unique<TfrmSenderDomains>(m_f.services, [this] { return m_dns.server(); });
    }
    choose(domain);
    QSignalSpy finished(m_w.get(), &TfrmSenderDomains::checkFinished);
    QTest::mouseClick(child<QPushButton>("btnCheckDns"), Qt::LeftButton);
    // The lookups run elsewhere: the window is back before their answers.
    QVERIFY(m_w->checking());
    QVERIFY(!child<QPushButton>("btnCheckDns")->isEnabled());
    QVERIFY(child<QPlainTextEdit>("memDnsCheck")->toPlainText().startsWith("Checking " + domain));
    QVERIFY(finished.wait(10000));
    const QStringList shown = child<QPlainTextEdit>("memDnsCheck")->toPlainText().split('\n');
    QVERIFY2(shown.size() >= lines.size(), qPrintable(shown.join('\n')));
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(shown[i].startsWith(lines[i]), qPrintable(shown[i]));
    QVERIFY(child<QPushButton>("btnCheckDns")->isEnabled());
}

QTEST_MAIN(TestSenderDomains)
#include "tst_senderdomains.moc"
