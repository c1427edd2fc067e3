#include "WindowFixture.h"
#include "data/Database.h"
#include "lists/BadEmails.h"
#include "lists/ShowBadEmails.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QtTest>
#include <sqlite3.h>

using namespace bv;
using namespace bv::lists;

class TestShowBadEmails : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void query_data();
    void query();
    void show_countsAndGrid();
    void show_failure_leavesWindowAsItWas();
    void removeAll_data();
    void removeAll();
    void removeSelected_removesOnlyThose();
    void remove_engineFails_saysSoAndCountsNothing();

private:
    void addRecipient(const QVariant& email, const QString& first = "F");
    void showWindow();
    void click(const char* name);
    QString label(const char* name) const;
    QStringList gridEmails() const;

    std::unique_ptr<test::WindowFixture> m_f;
    std::unique_ptr<data::Connection> m_c;
    std::unique_ptr<TfrmShowBadEmails> m_w;
};

void TestShowBadEmails::init()
{
    m_f = std::make_unique<test::WindowFixture>();
    m_c = std::make_unique<data::Connection>("AdsConnection1");
    m_c->open(m_f->home.path());
}

void TestShowBadEmails::cleanup()
{
    m_w.reset();
    m_c.reset();
    m_f.reset();
}

void TestShowBadEmails::addRecipient(const QVariant& email, const QString& first)
{
    m_c->execute("insert into RecipientList (FirstName,LastName,Email,List,SendTo) values "
                 "(:f,'L',:e,'L1',True)",
                 {{"f", first}, {"e", email}});
}

void TestShowBadEmails::showWindow()
{
    m_w = std::make_unique<TfrmShowBadEmails>(m_f->services, *m_c);
    m_w->show();
}

void TestShowBadEmails::click(const char* name)
{
    auto* b = m_w->findChild<QPushButton*>(name);
    QVERIFY2(b, name);
    QTest::mouseClick(b, Qt::LeftButton);
}

QString TestShowBadEmails::label(const char* name) const
{
    auto* l = m_w->findChild<QLabel*>(name);
    return l ? l->text() : QString("<no %1>").arg(name);
}

QStringList TestShowBadEmails::gridEmails() const
{
    auto* grid = m_w->findChild<QTableView*>("dbgBadEmails");
    QStringList out;
    for (int r = 0; r < grid->model()->rowCount(); ++r)
        out << grid->model()->index(r, 0).data().toString();
    return out;
}

void TestShowBadEmails::query_data()
{
    QTest::addColumn<QVariant>("email");
    QTest::addColumn<bool>("flagged");

    QTest::newRow("valid") << QVariant("x@y.z") << false;
    QTest::newRow("leading blank trimmed") << QVariant("  x@y.z") << false;
    QTest::newRow("non-ASCII letters") << QVariant("jörg@müller.de") << false;
    QTest::newRow("dot anywhere two places on") << QVariant("x@yz.") << false;
    QTest::newRow("missing") << QVariant() << true;
    QTest::newRow("empty") << QVariant("") << true;
    QTest::newRow("blanks") << QVariant("   ") << true;
    QTest::newRow("no at") << QVariant("xy.z") << true;
    QTest::newRow("at first") << QVariant("@y.z") << true;
    QTest::newRow("at first after blanks") << QVariant("  @y.z") << true;
    QTest::newRow("second at") << QVariant("x@y@z.w") << true;
    QTest::newRow("dot beside the at") << QVariant("x@.y") << true;
    QTest::newRow("no dot") << QVariant("x@y") << true;
    QTest::newRow("two dots") << QVariant("x..w@y.z") << true;
    for (const char* c : {" ", "(", ")", "/", "\\", "'", "\"", "[", "]", ";", ":", ",", ">", "<"})
        QTest::addRow("forbidden %s", c) << QVariant(QString("a%1b@y.z").arg(c)) << true;
}

void TestShowBadEmails::query()
{
    QFETCH(QVariant, email);
    QFETCH(bool, flagged);
    addRecipient("ok@x.com", "Ok");
    addRecipient(email, "Tested");
    const auto rows = QueryBadEmails(*m_c);
    QCOMPARE(rows.size(), size_t(flagged ? 1 : 0));
    if (flagged)
        QCOMPARE(rows[0].firstName, QString("Tested"));
}

void TestShowBadEmails::show_countsAndGrid()
{
    addRecipient("ok@x.com");
    addRecipient("b@y");
    addRecipient("a b@y.z");
    addRecipient("o'neil@y.z");
    showWindow();
    QCOMPARE(m_w->windowTitle(), QString("Illegal Email Addresses"));
    QCOMPARE(label("lblBadCount"), QString("3 Bad addresses found."));
    QCOMPARE(label("lblTotalCount"), QString("4 Email addresses."));
    QCOMPARE(gridEmails(), QStringList({"a b@y.z", "b@y", "o'neil@y.z"}));
    auto* grid = m_w->findChild<QTableView*>("dbgBadEmails");
    QCOMPARE(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
    QAbstractItemModelTester tester(grid->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(m_f->dialogs.shown().isEmpty());
}

void TestShowBadEmails::show_failure_leavesWindowAsItWas()
{
    addRecipient("b@y");
    m_c->close();
    showWindow();
    QCOMPARE(label("lblBadCount"), QString());
    QVERIFY(gridEmails().isEmpty());
    QVERIFY(m_f->dialogs.shown().isEmpty());
}

void TestShowBadEmails::removeAll_data()
{
    QTest::addColumn<QVariantList>("emails");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("left");

    QTest::newRow("one") << QVariantList{"ok@x.com", "b@y"} << "1 Invalid address deleted." << 1;
    QTest::newRow("none") << QVariantList{"ok@x.com"} << "0 Invalid addresses deleted." << 1;
    QTest::newRow("same bad address twice")
        << QVariantList{"b@y", "ok@x.com", "b@y"} << "2 Invalid addresses deleted." << 1;
    // A missing address equals nothing, yet its row must go.
    QTest::newRow("missing address") << QVariantList{QVariant(), "ok@x.com"}
                                     << "1 Invalid address deleted." << 1;
}

void TestShowBadEmails::removeAll()
{
    QFETCH(QVariantList, emails);
    QFETCH(QString, message);
    QFETCH(int, left);
    for (const QVariant& e : emails)
        addRecipient(e);
    showWindow();
    click("btnRemoveAll");
    QCOMPARE(m_f->dialogs.texts(), QStringList{message});
    QCOMPARE(m_c->scalar("select count(*) from RecipientList").toInt(), left);
    QCOMPARE(m_c->scalar("select Email from RecipientList").toString(), QString("ok@x.com"));
    QCOMPARE(label("lblBadCount"), QString("0 Bad addresses found."));
    QCOMPARE(label("lblTotalCount"), QString("%1 Email addresses.").arg(left));
    QVERIFY(gridEmails().isEmpty());
}

void TestShowBadEmails::removeSelected_removesOnlyThose()
{
    for (const char* e : {"a@b", "b@c", "ok@x.com", "c@d", "d@e"})
        addRecipient(QString::fromLatin1(e));
    showWindow();
    auto* grid = m_w->findChild<QTableView*>("dbgBadEmails");
    const auto* model = grid->model();
    grid->selectionModel()->select(model->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    grid->selectionModel()->select(model->index(2, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    click("btnRemoveSelected");
    QCOMPARE(m_f->dialogs.texts(), QStringList{"2 Invalid addresses deleted."});
    QCOMPARE(gridEmails(), QStringList({"b@c", "d@e"}));
    QCOMPARE(label("lblBadCount"), QString("2 Bad addresses found."));
    QCOMPARE(label("lblTotalCount"), QString("3 Email addresses."));
    click("btnClose");
    QVERIFY(!m_w->isVisible());
}

void TestShowBadEmails::remove_engineFails_saysSoAndCountsNothing()
{
    addRecipient("b@y");
    QCOMPARE(sqlite3_exec(m_c->handle(),
                          "CREATE TRIGGER refuse BEFORE DELETE ON RecipientList "
                          "BEGIN SELECT RAISE(ABORT, 'database is locked'); END",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    showWindow();
    click("btnRemoveAll");
    QCOMPARE(m_f->dialogs.texts("error"), QStringList{"database is locked"});
    QCOMPARE(m_f->dialogs.lastText(), QString("0 Invalid addresses deleted."));
    QCOMPARE(gridEmails(), QStringList{"b@y"});
}

QTEST_MAIN(TestShowBadEmails)
#include "tst_ShowBadEmails.moc"
