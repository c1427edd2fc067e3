// The spreadsheet import's logic on real workbooks (written by xlwt and
// openpyxl, or packed by hand to be damaged or hostile) and a real database.
#include "data/Database.h"
#include "DataSet.h"
#include "lists/XLImport.h"
#include "TempProgramFolder.h"
#include "WorkbookFixtures.h"

#include <QtTest>

using namespace bv;
using namespace bv::lists;

namespace {

QString row(const QStringList& fields)
{
    QStringList all = fields;
    while (all.size() < WorkbookColumns)
        all << QString();
    return all.join(QLatin1Char('|'));
}

} // namespace

class TestXLImport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void textForms_data();
    void textForms();
    void viewData_stagesRowsWithAnAddress_data();
    void viewData_stagesRowsWithAnAddress();
    void unreadableWorkbook_keepsTheStagingRows_data();
    void unreadableWorkbook_keepsTheStagingRows();
    void damagedXls_givesRowsOrAMessage();
    void refusedAndCancelledRows();
    void importData_data();
    void importData();
    void importData_refusedRowKeepsTheRowsBeforeIt();
    void definitions_saveOverwriteFindDelete();

private:
    QStringList staging();

    QTemporaryDir m_workbooks;
    std::unique_ptr<test::TempProgramFolder> m_home;
    std::unique_ptr<data::Connection> m_data;
};

void TestXLImport::initTestCase()
{
    const QString failure = test::makeWorkbooks(m_workbooks.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestXLImport::init()
{
    m_home = std::make_unique<test::TempProgramFolder>();
    m_data = std::make_unique<data::Connection>("AdsConnection1");
    m_data->open(m_home->path());
}

void TestXLImport::cleanup()
{
    m_data.reset();
    m_home.reset();
}

QStringList TestXLImport::staging()
{
    return test::rowsOf(m_data->select(
        "select A, B, C, D, E, F, G, H, I, J, K, L, M from tmpRecipientList order by rowid"));
}

void TestXLImport::textForms_data()
{
    QTest::addColumn<QString>("got");
    QTest::addColumn<QString>("expected");
    const auto kind = [](const QString& code) {
        return QString::number(int(formatCodeKind(code)));
    };
    QTest::newRow("date code") << kind("yyyy-mm-dd") << QString::number(int(DateKind::Date));
    QTest::newRow("month name alone") << kind("mmm") << QString::number(int(DateKind::Date));
    QTest::newRow("minutes beside hours") << kind("h:mm") << QString::number(int(DateKind::Time));
    QTest::newRow("elapsed hours") << kind("[h]:mm:ss") << QString::number(int(DateKind::Time));
    QTest::newRow("locale and AM/PM")
        << kind("[$-409]m/d/yy h:mm AM/PM") << QString::number(int(DateKind::DateTime));
    QTest::newRow("scientific") << kind("0.00E+00") << QString::number(int(DateKind::None));
    QTest::newRow("General") << kind("General") << QString::number(int(DateKind::None));
    QTest::newRow("quoted and coloured")
        << kind("[Red]0.0\" days\"") << QString::number(int(DateKind::None));
    QTest::newRow("first day") << serialText(1, DateKind::Date, false) << "1/1/1900";
    QTest::newRow("after the day that never was")
        << serialText(61, DateKind::Date, false) << "3/1/1900";
    QTest::newRow("noon") << serialText(45356.5, DateKind::DateTime, false) << "3/5/2024 12:00:00";
    QTest::newRow("rounded to the second")
        << serialText(0.99999999, DateKind::Time, false) << "0:00:00";
    QTest::newRow("1904 calendar") << serialText(0, DateKind::Date, true) << "1/1/1904";
    QTest::newRow("negative date is a number") << serialText(-1.5, DateKind::Date, false) << "-1.5";
    QTest::newRow("number") << numberText(-0.25) << "-0.25";
    QTest::newRow("big whole number") << numberText(123456789012345.0) << "123456789012345";
}

void TestXLImport::textForms()
{
    QFETCH(QString, got);
    QFETCH(QString, expected);
    QCOMPARE(got, expected);
}

void TestXLImport::viewData_stagesRowsWithAnAddress_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("expected");
    const QStringList contacts{
        row({"ann@x.com", "Ann", "Smith", "Ms.", "3/5/2024", "13:04:05", "12/25/2024 7:08:09", "42",
             "2.5", "True", "Zoë"}),
        row({"bob@x.com", "Bob", "", "", "1/1/1999", "0:00:01", "2/29/2000 23:59:59", "-7", "0.3",
             "False", QString(60, 'A'), "", "m@x"}),
        row({"", "", "cy@x.com", "1234567890123", "1e+20"}),
    };
    QTest::newRow("xls") << "contacts.xls" << contacts;
    QTest::newRow("xlsx") << "contacts.xlsx" << contacts;
    QTest::newRow("last results of formulas")
        << "formulas.xls"
        << QStringList{row({"e@x.com", "", "2.5", "3/5/2024 12:00:00", "True", "", ""})};
    QTest::newRow("inline text without its phonetic run")
        << "handmade.xlsx" << QStringList{row({"a@b.com", "inline"})};
}

void TestXLImport::viewData_stagesRowsWithAnAddress()
{
    QFETCH(QString, file);
    QFETCH(QStringList, expected);
    m_data->execute("insert into tmpRecipientList (A) values ('last@reading.com')");
    QList<int> percents;
    const StagingResult r = fillStaging(*m_data, m_workbooks.filePath(file), [&](int p) {
        percents << p;
        return true;
    });
    QCOMPARE(staging(), expected);
    QCOMPARE(r.rows, int(expected.size()));
    QVERIFY(r.rowErrors.isEmpty());
    QVERIFY(!r.cancelled);
    QVERIFY(std::is_sorted(percents.begin(), percents.end()));
    QCOMPARE(percents.last(), 100);
}

void TestXLImport::unreadableWorkbook_keepsTheStagingRows_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<qint64>("sharedStrings");
    QTest::newRow("missing file") << "none.xlsx"
                                  << "No such file" << qint64(1000);
    QTest::newRow("not a workbook")
        << "text.xlsx"
        << "it is not an Excel workbook (.xls or .xlsx)." << qint64(1000);
    QTest::newRow("truncated zip") << "truncated.xlsx"
                                   << "it is not a complete zip file" << qint64(1000);
    QTest::newRow("sheet part missing")
        << "nosheet.xlsx"
        << "its part xl/worksheets/sheet1.xml is missing." << qint64(1000);
    QTest::newRow("cell names a string that is not there")
        << "badindex.xlsx"
        << "a cell names shared string 7, which the workbook does not hold." << qint64(1000);
    QTest::newRow("sheet cut short")
        << "badxml.xlsx"
        << "its part xl/worksheets/sheet1.xml is damaged" << qint64(1000);
    QTest::newRow("zip bomb") << "bomb.xlsx"
                              << "its part xl/workbook.xml unpacks to more than 32 MB"
                              << qint64(1000);
    QTest::newRow("huge shared string table")
        << "manystrings.xlsx"
        << "its shared string table is larger than can be read." << qint64(1000);
    QTest::newRow("truncated xls")
        << "truncated.xls"
        << "The workbook truncated.xls cannot be read: it is" << qint64(1000);
    QTest::newRow("xls claiming every cell") << "hugeclaim.xls"
                                             << "its sheets claim 16777216 cells" << qint64(1000);
}

void TestXLImport::unreadableWorkbook_keepsTheStagingRows()
{
    QFETCH(QString, file);
    QFETCH(QString, reason);
    QFETCH(qint64, sharedStrings);
    m_data->execute("insert into tmpRecipientList (A) values ('last@reading.com')");
    WorkbookLimits limits;
    limits.sharedStrings = sharedStrings;
    try {
        fillStaging(
            *m_data, m_workbooks.filePath(file), [](int) { return true; }, limits);
        QFAIL("the workbook was read");
    } catch (const WorkbookError& e) {
        QVERIFY2(e.message().contains(reason), qPrintable(e.message()));
    }
    QCOMPARE(staging(), QStringList{"last@reading.com" + QString("|NULL").repeated(12)});
}

// Bytes of a real workbook changed at random: the decoder reads some of these
// past its buffers (its own process ends, under the sanitizers at once), and
// some it reads as other rows; either way the program hears of it as rows or
// as a message, and goes on.
void TestXLImport::damagedXls_givesRowsOrAMessage()
{
    QFile original(m_workbooks.filePath("contacts.xls"));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray whole = original.readAll();
    QRandomGenerator random(20261210);
    int failed = 0;
    for (int round = 0; round < 150; ++round) {
        QByteArray bytes = whole;
        for (int n = 1 + random.bounded(8); n > 0; --n)
            bytes[512 + random.bounded(int(bytes.size()) - 512)] = char(random.bounded(256));
        const QString path = m_workbooks.filePath("damaged.xls");
        QFile damaged(path);
        QVERIFY(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate));
        damaged.write(bytes);
        damaged.close();
        try {
            readWorkbook(path, [](const QStringList& cells, int) {
                return cells.size() == WorkbookColumns;
            });
        } catch (const WorkbookError& e) {
            QVERIFY2(e.message().startsWith("The workbook damaged.xls cannot be read: "),
                     qPrintable(e.message()));
            ++failed;
        }
    }
    QVERIFY(failed > 0);
}

void TestXLImport::refusedAndCancelledRows()
{
    m_data->execute(
        "create trigger refuse before insert on tmpRecipientList when NEW.A = 'bob@x.com' "
        "begin select raise(abort, 'row refused by the test'); end");
    StagingResult r =
        fillStaging(*m_data, m_workbooks.filePath("contacts.xlsx"), [](int) { return true; });
    QCOMPARE(r.rowErrors, QStringList{"row refused by the test"});
    QCOMPARE(r.rows, 2);
    QCOMPARE(staging().size(), 2);
    // Stopped after its first row: the rows read until then stay.
    r = fillStaging(*m_data, m_workbooks.filePath("contacts.xls"), [](int) { return false; });
    QVERIFY(r.cancelled);
    QCOMPARE(staging(), QStringList{});
    r = fillStaging(*m_data, m_workbooks.filePath("handmade.xlsx"), [](int) { return false; });
    QCOMPARE(staging(), QStringList{row({"a@b.com", "inline"})});
}

void TestXLImport::importData_data()
{
    QTest::addColumn<QStringList>("columns"); // email, salutation, first, last
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QStringList>("expected");
    const QString noEmail =
        "You must define the Input translation.  The minimum requirement is to specify which "
        "field at the top is the email address.";
    const QString noList = "You must choose the list these recipients will be added to.";
    QTest::newRow("address column first, even with a list")
        << QStringList{"(Required)", "A", "B", "C"} << "L1" << noEmail << QStringList{};
    QTest::newRow("then the list") << QStringList{"B", "(None)", "(None)", "(None)"} << "(Required)"
                                   << noList << QStringList{};
    QTest::newRow("a list that is gone leaves no selection")
        << QStringList{"B", "(None)", "(None)", "(None)"} << "" << noList << QStringList{};
    QTest::newRow("all four, values cut to their fields")
        << QStringList{"B", "A", "C", "D"} << "O'Neil"
        << ""
        << QStringList{"Chris|Long-Name-That-Runs-Past-Thirt|c@x.com|O'Neil|Professor|True|True",
                       "NULL|NULL|NULL|O'Neil|NULL|True|True"};
    QTest::newRow("names left out")
        << QStringList{"b", "(None)", "(None)", "(None)"} << "L1"
        << ""
        << QStringList{"NULL|NULL|c@x.com|L1|NULL|True|True", "NULL|NULL|NULL|L1|NULL|True|True"};
}

void TestXLImport::importData()
{
    QFETCH(QStringList, columns);
    QFETCH(QString, list);
    QFETCH(QString, refusal);
    QFETCH(QStringList, expected);
    m_data->execute(
        "insert into tmpRecipientList (A, B, C, D) values "
        "('Professor Doctor', 'c@x.com', 'Chris', 'Long-Name-That-Runs-Past-Thirty-Characters')");
    m_data->execute("insert into tmpRecipientList (E) values ('x@y.com')");
    m_data->execute(
        "insert into RecipientList (Email, List, New) values ('earlier@x.com', 'L1', True)");
    const ColumnChoice choice{columns[0], columns[1], columns[2], columns[3]};
    QCOMPARE(importRefusal(choice, list), refusal);
    if (!refusal.isEmpty())
        return;
    clearNewMarks(*m_data);
    QCOMPARE(importStagingRows(*m_data, choice, list), 2);
    QCOMPARE(recipientsAddedText(2, list), "2 Recipients added to the " + list + " list.");
    QCOMPARE(test::rowsOf(
                 m_data->select("select FirstName, LastName, Email, List, Salutation, SendTo, New "
                                "from RecipientList where New = True order by rowid")),
             expected);
    // The staging rows stay for another import.
    QCOMPARE(importStagingRows(*m_data, choice, list), 2);
}

void TestXLImport::importData_refusedRowKeepsTheRowsBeforeIt()
{
    for (const char* e : {"a@x.com", "bad@x.com", "c@x.com"})
        m_data->execute(QString("insert into tmpRecipientList (A) values ('%1')").arg(e));
    m_data->execute(
        "create trigger refuse before insert on RecipientList when NEW.Email = 'bad@x.com' "
        "begin select raise(abort, 'row refused by the test'); end");
    try {
        importStagingRows(*m_data, {"A", "(None)", "(None)", "(None)"}, "L1");
        QFAIL("the refused row went in");
    } catch (const data::DbError& e) {
        QCOMPARE(e.message(), QString("row refused by the test"));
    }
    QCOMPARE(test::rowsOf(m_data->select("select Email from RecipientList")),
             QStringList{"a@x.com"});
}

void TestXLImport::definitions_saveOverwriteFindDelete()
{
    ImportDefinition d{"Monthly", "L1", "/data/", "june.xls", {"A", "(None)", "B", "C"}};
    saveDefinition(*m_data, d);
    saveDefinition(*m_data, {"Another's", "L2", "/x/", "a.xlsx", {"B", "C", "D", "E"}});
    d.list = "L2";
    d.excelFile = "july.xls";
    saveDefinition(*m_data, d); // same name: overwritten
    QCOMPARE(definitionNames(*m_data), (QStringList{"Another's", "Monthly"}));
    const std::optional<ImportDefinition> found = findDefinition(*m_data, "Monthly");
    QVERIFY(found);
    QCOMPARE(found->list, QString("L2"));
    QCOMPARE(found->excelFile, QString("july.xls"));
    QCOMPARE(found->dataFolder, QString("/data/"));
    QCOMPARE(found->columns.email, QString("A"));
    QCOMPARE(found->columns.salutation, QString("(None)"));
    QCOMPARE(found->columns.firstName, QString("B"));
    QCOMPARE(found->columns.lastName, QString("C"));
    QVERIFY(!findDefinition(*m_data, "monthly")); // names are exact
    deleteDefinition(*m_data, "Monthly");
    QCOMPARE(definitionNames(*m_data), QStringList{"Another's"});
    // Paths the fields cannot hold whole are refused rather than cut.
    QVERIFY(definitionRefusal(d).isEmpty());
    d.dataFolder = "/" + QString(200, 'f') + "/";
    QVERIFY(!definitionRefusal(d).isEmpty());
}

QTEST_MAIN(TestXLImport)
#include "tst_XLImport.moc"
