#include "DataSet.h"
#include "TempProgramFolder.h"
#include "data/BrevicastData.h"
#include "data/Database.h"
#include "data/ListManager.h"
#include "data/TableView.h"
#include "data/TableViewModel.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <sqlite3.h>

using namespace bv;
using namespace bv::data;

namespace {

QStringList walk(TableView& v, const QString& field)
{
    QStringList out;
    for (v.first(); !v.eof(); v.next())
        out << v.value(field).toString();
    return out;
}

void queue(Connection& c, int rows)
{
    for (int i = 1; i <= rows; ++i)
        c.execute("insert into EmailBeingSent (FirstName, Email, Sent, Error) values (:n, :e, False, False)",
                  {{"n", QString::number(i)}, {"e", QStringLiteral("r%1@x.com").arg(i)}});
}

QStringList column(const QAbstractItemModel& model, int col)
{
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r)
        out << model.data(model.index(r, col)).toString();
    return out;
}

// The sqlite3 shell, holding a write transaction on the program's database
// until it is closed.
class WritingProgram
{
public:
    explicit WritingProgram(const QString& folder)
    {
        m_shell.start("sqlite3", {QDir(folder).filePath(Connection::databaseFileName())});
        m_shell.waitForStarted();
        m_shell.write("BEGIN IMMEDIATE;\ninsert into Lists (List) values ('held');\nselect 'holding';\n");
        m_holding = m_shell.waitForReadyRead(10000);
    }
    ~WritingProgram()
    {
        m_shell.closeWriteChannel();
        if (!m_shell.waitForFinished(10000))
            m_shell.kill();
    }
    bool holding() const { return m_holding; }

private:
    QProcess m_shell;
    bool m_holding = false;
};

int traceStatement(unsigned, void* context, void* statement, void*)
{
    auto* seen = static_cast<QStringList*>(context);
    *seen << QString::fromUtf8(sqlite3_sql(static_cast<sqlite3_stmt*>(statement)));
    return 0;
}

} // namespace

class TestTableView : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void postedRow_leavesPendingView_nextBecomesCurrent();
    void count_isFreshAndRespectsFilter();
    void ordering_byIndexNameAscendingAndDescending();
    void appendedRow_takesItsPlaceInOrder();
    void editedKey_movesRowButKeepsItCurrent();
    void delete_makesNextCurrent_lastLeavesEnd();
    void locate_exactOrIgnoringCase();
    void noListFilter_showsNothing();
    void logicalFilter_defaultTrue();
    void exclusiveOpen_refusedWhileShared();
    void startupMaintenance_swallowsErrors();
    void startupMaintenance_rebuildsAndPacks();
    void startupMaintenance_tablesHeldByAnotherProgram_startsAtOnce();
    void ordering_anyFieldAndItsDesc_data();
    void ordering_anyFieldAndItsDesc();
    void rowDeletedBehindTheView_editIsAnEngineError_data();
    void rowDeletedBehindTheView_editIsAnEngineError();
    void editOutsideEditMode_isAnError();
    void model_followsTheView();
    void model_outlivesItsView_isEmpty();

private:
    test::TempProgramFolder* m_folder = nullptr;
    Connection* m_conn = nullptr;
};

void TestTableView::init()
{
    m_folder = new test::TempProgramFolder;
    m_conn = new Connection;
    m_conn->open(m_folder->path());
}

void TestTableView::cleanup()
{
    delete m_conn;
    delete m_folder;
}

void TestTableView::postedRow_leavesPendingView_nextBecomesCurrent()
{
    queue(*m_conn, 4);
    TableView v(*m_conn, "EmailBeingSent");
    v.setFilter("(Error = False) and (Sent = False)");
    v.setFiltered(true);
    v.open();
    v.first();
    QCOMPARE(v.value("FirstName").toString(), QStringLiteral("1"));
    v.edit();
    v.setValue("Sent", true);
    v.post();
    QCOMPARE(v.recordCount(), 3);
    QCOMPARE(v.value("FirstName").toString(), QStringLiteral("2"));
    // A row that still passes stays current.
    v.edit();
    v.setValue("ErrorMsg", "note");
    v.post();
    QCOMPARE(v.value("FirstName").toString(), QStringLiteral("2"));
    // Walking the queue by posting each row leaves it empty, in stored order.
    QStringList sent;
    while (!v.eof()) {
        sent << v.value("FirstName").toString();
        v.edit();
        v.setValue("Error", true);
        v.post();
    }
    QCOMPARE(sent, QStringList({"2", "3", "4"}));
    QCOMPARE(v.recordCount(), 0);
    QCOMPARE(m_conn->scalar("select count(*) from EmailBeingSent where ErrorMsg = 'note'").toInt(), 1);
}

void TestTableView::count_isFreshAndRespectsFilter()
{
    queue(*m_conn, 3);
    TableView v(*m_conn, "EmailBeingSent");
    v.setFilter("(Error = False) and (Sent = False)");
    v.open();
    QCOMPARE(v.recordCount(), 3);
    v.setFiltered(true);
    m_conn->execute("update EmailBeingSent set Sent = True where FirstName = '2'");
    // Changed by a statement elsewhere: the count sees it at once.
    QCOMPARE(v.recordCount(), 2);
    v.setFiltered(false);
    QCOMPARE(v.recordCount(), 3);
}

void TestTableView::ordering_byIndexNameAscendingAndDescending()
{
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.setFilter(listFilter("L1"));
    v.setFiltered(true);
    v.setIndexName("LastName");
    v.open();
    QCOMPARE(walk(v, "LastName"), QStringList({"Goldsmith", "Jones", "Kim", "Park", "Smith", "Smithers"}));
    v.setIndexName("LASTNAMEDESC");
    QCOMPARE(walk(v, "LastName"), QStringList({"Smithers", "Smith", "Park", "Kim", "Jones", "Goldsmith"}));
    v.setIndexName("SendTo");
    QCOMPARE(walk(v, "FirstName").first(), QStringLiteral("Cy"));
    QVERIFY_THROWS_EXCEPTION(DbError, v.setIndexName("NoSuchIndex"));
}

void TestTableView::appendedRow_takesItsPlaceInOrder()
{
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.setFilter(listFilter("L2"));
    v.setFiltered(true);
    v.setIndexName("EMAIL");
    v.open();
    v.append();
    v.setValue("Email", "aaa@z.com");
    v.setValue("List", "L2");
    v.setValue("SendTo", true);
    v.post();
    QCOMPARE(v.value("Email").toString(), QStringLiteral("aaa@z.com"));
    QCOMPARE(v.recNo(), 0);
    QCOMPARE(walk(v, "Email"), QStringList({"aaa@z.com", "gus@z.com"}));
    // Appended to another list: stored, but not in this view.
    v.append();
    v.setValue("Email", "b@b.b");
    v.setValue("List", "L1");
    v.post();
    QCOMPARE(v.recordCount(), 2);
    QCOMPARE(m_conn->scalar("select count(*) from RecipientList where Email = 'b@b.b' and SendTo = False").toInt(), 1);
}

void TestTableView::editedKey_movesRowButKeepsItCurrent()
{
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.setFilter(listFilter("L1"));
    v.setFiltered(true);
    v.setIndexName("FIRSTNAME");
    v.open();
    QVERIFY(v.locate("FirstName", "Cy"));
    v.edit();
    v.setValue("FirstName", "Zoe");
    v.post();
    QCOMPARE(v.value("FirstName").toString(), QStringLiteral("Zoe"));
    QCOMPARE(v.recNo(), 5);
}

void TestTableView::delete_makesNextCurrent_lastLeavesEnd()
{
    queue(*m_conn, 3);
    TableView v(*m_conn, "EmailBeingSent");
    v.open();
    v.first();
    v.deleteRecord();
    QCOMPARE(v.value("FirstName").toString(), QStringLiteral("2"));
    v.last();
    v.deleteRecord();
    QVERIFY(v.eof());
    QCOMPARE(walk(v, "FirstName"), QStringList({"2"}));
    // The usual walk that deletes some rows and steps over others.
    queue(*m_conn, 4);
    v.refresh();
    for (v.first(); !v.eof();) {
        if (v.value("FirstName").toInt() % 2 == 0)
            v.deleteRecord();
        else
            v.next();
    }
    QCOMPARE(walk(v, "FirstName"), QStringList({"1", "3"}));
}

void TestTableView::locate_exactOrIgnoringCase()
{
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.setIndexName("EMAIL");
    v.open();
    QVERIFY(v.findKey("dee@y.com"));
    QCOMPARE(v.value("LastName").toString(), QStringLiteral("O'Neil"));
    QVERIFY(!v.findKey("DEE@Y.COM"));
    QCOMPARE(v.value("LastName").toString(), QStringLiteral("O'Neil"));
    QVERIFY(v.locate("Email", "GUS@z.com", true));
    QCOMPARE(v.value("FirstName").toString(), QStringLiteral("Gus"));
    QVERIFY(v.locate("LastName", "O'Neil"));
}

void TestTableView::noListFilter_showsNothing()
{
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.setFilter(QString::fromLatin1(NoListFilter));
    v.setFiltered(true);
    v.open();
    QVERIFY(v.eof());
    QCOMPARE(v.recordCount(), 0);
    // A list whose name holds a quote.
    v.setFilter(listFilter("O'Neil's"));
    QCOMPARE(walk(v, "FirstName"), QStringList({"Dee"}));
}

void TestTableView::logicalFilter_defaultTrue()
{
    m_conn->execute("insert into PopAccounts (EmailAddress, Default) values ('a@x.com', False)");
    m_conn->execute("insert into PopAccounts (EmailAddress, Default) values ('b@x.com', True)");
    m_conn->execute("insert into PopAccounts (EmailAddress, Default) values ('c@x.com', True)");
    TableView v(*m_conn, "PopAccounts");
    v.setFilter("Default = True");
    v.setFiltered(true);
    v.open();
    QCOMPARE(walk(v, "EmailAddress"), QStringList({"b@x.com", "c@x.com"}));
    v.first();
    QCOMPARE(v.value("Default").toBool(), true);
    v.setFilter("EmailAddress = 'c@x.com'");
    QCOMPARE(v.recordCount(), 1);
}

void TestTableView::exclusiveOpen_refusedWhileShared()
{
    TableView a(*m_conn, "RecipientList");
    TableView b(*m_conn, "RecipientList");
    Connection other;
    other.open(m_folder->path());
    TableView c(other, "RecipientList");
    a.open();
    QVERIFY_THROWS_EXCEPTION(DbError, b.open(OpenMode::Exclusive));
    QVERIFY_THROWS_EXCEPTION(DbError, c.open(OpenMode::Exclusive));
    a.close();
    b.open(OpenMode::Exclusive);
    QVERIFY_THROWS_EXCEPTION(DbError, c.open());
    b.close();
    c.open();
    QVERIFY(c.isOpen());
}

void TestTableView::startupMaintenance_swallowsErrors()
{
    test::fillSmallDataSet(*m_conn);
    TableView recipients(*m_conn, "RecipientList");
    TableView exclusions(*m_conn, "ExclusionList");
    recipients.open();
    exclusions.open();
    runStartupMaintenance(recipients, exclusions);
    QVERIFY(recipients.isOpen() && exclusions.isOpen());
    // Held by another view: maintenance fails quietly and both views end up open again.
    TableView holder(*m_conn, "RecipientList");
    holder.open();
    runStartupMaintenance(recipients, exclusions);
    QVERIFY(recipients.isOpen() && exclusions.isOpen());
    QCOMPARE(recipients.recordCount(), 8);
    m_conn->execute("delete from RecipientList");
    holder.close();
    runStartupMaintenance(recipients, exclusions);
    QCOMPARE(recipients.recordCount(), 0);
    QCOMPARE(m_conn->scalar("pragma integrity_check").toString(), QStringLiteral("ok"));
}

void TestTableView::editOutsideEditMode_isAnError()
{
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.open();
    QVERIFY_THROWS_EXCEPTION(DbError, v.setValue("Email", "x"));
    QVERIFY_THROWS_EXCEPTION(DbError, v.value("NoSuchField"));
    v.append();
    QVERIFY_THROWS_EXCEPTION(DbError, v.setValue("SendTo", "yes-ish"));
    v.setValue("SendTo", "True");
    v.cancel();
    QCOMPARE(v.recordCount(), 8);
}

void TestTableView::model_followsTheView()
{
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.setIndexName("EMAIL");
    v.setFilter(listFilter("L1"));
    v.setFiltered(true);
    v.open();
    TableViewModel model(v, {{"Salutation", "(Sal.)"}, {"FirstName", "First Name"}, {"Email", "Email"},
                             {"SendTo", "Snd?"}});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 6);
    QCOMPARE(model.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Snd?"));
    QCOMPARE(model.data(model.index(0, 2)).toString(), QStringLiteral("ANN@X.COM"));
    // Read every row once so that the model holds them; then each change must
    // reach it through its signals, never through a stale block.
    column(model, 2);

    v.append();
    v.setValue("Email", "bz@x.com");
    v.setValue("List", "L1");
    v.post();
    QCOMPARE(column(model, 2), walk(v, "Email"));
    QCOMPARE(model.rowCount(), 7);
    QCOMPARE(column(model, 2).indexOf("bz@x.com"), 5);

    QVERIFY(v.locate("Email", "bob@x.com"));
    v.edit();
    v.setValue("Email", "zz@x.com");
    v.setValue("FirstName", "Bobby");
    v.post();
    QCOMPARE(v.recNo(), 6);
    QCOMPARE(column(model, 2), walk(v, "Email"));
    QCOMPARE(model.data(model.index(6, 1)).toString(), QStringLiteral("Bobby"));

    QVERIFY(v.locate("Email", "cy@x.com"));
    v.edit();
    v.setValue("FirstName", "Cyrus");
    v.post();
    QCOMPARE(model.data(model.index(v.recNo(), 1)).toString(), QStringLiteral("Cyrus"));

    v.first();
    v.deleteRecord();
    QCOMPARE(column(model, 2), walk(v, "Email"));
    QCOMPARE(model.rowCount(), 6);

    v.setFilter(listFilter("L2"));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, 3), Qt::CheckStateRole).toInt(), int(Qt::Checked));
    v.first();
    v.edit();
    v.setValue("List", "L1");
    v.post();
    QCOMPARE(model.rowCount(), 0);
}

void TestTableView::model_outlivesItsView_isEmpty()
{
    // A window's member views go before its child grids.
    test::fillSmallDataSet(*m_conn);
    auto v = std::make_unique<TableView>(*m_conn, "RecipientList");
    v->open();
    TableViewModel model(*v, {{"Email", "Email"}});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QCOMPARE(model.rowCount(), 8);
    v.reset();
    QCOMPARE(reset.size(), 1);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.data(model.index(0, 0)).isValid());
}

void TestTableView::startupMaintenance_rebuildsAndPacks()
{
    for (int i = 0; i < 3000; ++i)
        m_conn->execute("insert into RecipientList (Email, List) values (:e, 'L1')",
                        {{"e", QStringLiteral("r%1@x.com").arg(i)}});
    m_conn->execute("delete from RecipientList where Email <> 'r7@x.com'");
    QVERIFY(m_conn->scalar("pragma freelist_count").toInt() > 0);
    TableView recipients(*m_conn, "RecipientList");
    TableView exclusions(*m_conn, "ExclusionList");
    recipients.open();
    exclusions.open();
    QStringList seen;
    sqlite3_trace_v2(m_conn->handle(), SQLITE_TRACE_STMT, traceStatement, &seen);
    runStartupMaintenance(recipients, exclusions);
    sqlite3_trace_v2(m_conn->handle(), 0, nullptr, nullptr);
    QVERIFY2(seen.contains("REINDEX \"RecipientList\"") && seen.contains("REINDEX \"ExclusionList\""),
             qPrintable(seen.join(" | ")));
    QCOMPARE(m_conn->scalar("pragma freelist_count").toInt(), 0);
    QCOMPARE(recipients.recordCount(), 1);
    QVERIFY(recipients.isOpen() && exclusions.isOpen());
}

void TestTableView::startupMaintenance_tablesHeldByAnotherProgram_startsAtOnce()
{
    test::fillSmallDataSet(*m_conn);
    TableView recipients(*m_conn, "RecipientList");
    TableView exclusions(*m_conn, "ExclusionList");
    WritingProgram other(m_folder->path());
    QVERIFY(other.holding());
    QElapsedTimer timer;
    timer.start();
    runStartupMaintenance(recipients, exclusions);
    // Not the whole busy timeout: the program starts while the other one writes.
    QVERIFY2(timer.elapsed() < Connection::DefaultBusyTimeoutMs / 2, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(recipients.isOpen() && exclusions.isOpen());
    QCOMPARE(recipients.recordCount(), 8);
    QCOMPARE(m_conn->busyTimeout(), Connection::DefaultBusyTimeoutMs);
}

void TestTableView::ordering_anyFieldAndItsDesc_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("ordering");
    QTest::addColumn<QStringList>("firstNames");
    QTest::newRow("exclusions by SendTo") << "ExclusionList" << "SendTo" << QStringList{"Dee", "Bob", "Zed", "Zed"};
    QTest::newRow("exclusions by SendToDesc")
        << "ExclusionList" << "SendToDesc" << QStringList{"Bob", "Zed", "Zed", "Dee"};
    QTest::newRow("exclusions by ListDesc") << "ExclusionList" << "listdesc" << QStringList{"Dee", "Bob", "Zed", "Zed"};
    QTest::newRow("recipients by SendToDesc")
        << "RecipientList" << "SendToDesc" << QStringList{"Ann", "Bob", "Ann", "Dee", "Ed", "Fay", "Gus", "Cy"};
}

void TestTableView::ordering_anyFieldAndItsDesc()
{
    QFETCH(QString, table);
    QFETCH(QString, ordering);
    QFETCH(QStringList, firstNames);
    test::fillSmallDataSet(*m_conn);
    m_conn->execute("update ExclusionList set SendTo = False where FirstName = 'Dee'");
    TableView v(*m_conn, table);
    v.open();
    v.setIndexName(ordering);
    QCOMPARE(walk(v, "FirstName"), firstNames);
    // A row appended through the view takes the same place a fresh read gives it.
    v.append();
    v.setValue("FirstName", "New");
    v.setValue("List", "L1");
    v.setValue("SendTo", true);
    v.post();
    const QStringList placed = walk(v, "FirstName");
    v.refresh();
    QCOMPARE(walk(v, "FirstName"), placed);
}

void TestTableView::rowDeletedBehindTheView_editIsAnEngineError_data()
{
    QTest::addColumn<bool>("deletedBeforeEdit");
    QTest::newRow("deleted, then edited") << true;
    QTest::newRow("deleted while being edited") << false;
}

void TestTableView::rowDeletedBehindTheView_editIsAnEngineError()
{
    QFETCH(bool, deletedBeforeEdit);
    test::fillSmallDataSet(*m_conn);
    TableView v(*m_conn, "RecipientList");
    v.setIndexName("EMAIL");
    v.open();
    QVERIFY(v.locate("Email", "gus@z.com"));
    v.value("FirstName"); // the row is read and held
    const auto deleteBehind = [this] { m_conn->execute("delete from RecipientList where Email = 'gus@z.com'"); };
    if (deletedBeforeEdit) {
        deleteBehind();
        QVERIFY_THROWS_EXCEPTION(DbError, v.edit());
        QVERIFY_THROWS_EXCEPTION(DbError, v.setValue("FirstName", "X"));
    } else {
        v.edit();
        deleteBehind();
        v.setValue("FirstName", "X");
        QVERIFY_THROWS_EXCEPTION(DbError, v.post());
        QCOMPARE(v.snapshotSize(), 7);
    }
    QCOMPARE(v.state(), EditState::Browse);
    QCOMPARE(m_conn->scalar("select count(*) from RecipientList").toInt(), 7);
    QCOMPARE(m_conn->scalar("select count(*) from RecipientList where FirstName = 'X'").toInt(), 0);
}

QTEST_GUILESS_MAIN(TestTableView)
#include "tst_tableview.moc"
