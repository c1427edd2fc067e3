// CSV import into the recipients and the exclusions, from real files into a
// real database.
#include "data/Database.h"
#include "data/TableView.h"
#include "DataSet.h"
#include "lists/DbImport.h"
#include "lists/ImportCommands.h"
#include "WindowFixture.h"

#include <QFile>
#include <QtTest>

using namespace bv;
using namespace bv::lists;

class TestDbImport : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void nextCsvField_data();
    void nextCsvField();
    void importCsvFile_data();
    void importCsvFile();
    void refusedRow_keepsTheRowsBeforeIt();
    void controlCharacterAddress_isLeftOutAndCounted();
    void loadMoreCsv_asksForThePagesFile_data();
    void loadMoreCsv_asksForThePagesFile();

private:
    QString write(const QByteArray& bytes, const QString& name = "import.csv");
    QStringList rows(const QString& table);

    std::unique_ptr<test::WindowFixture> m_f;
    std::unique_ptr<data::Connection> m_data;
};

void TestDbImport::init()
{
    m_f = std::make_unique<test::WindowFixture>();
    m_data = std::make_unique<data::Connection>("AdsConnection1");
    m_data->open(m_f->home.path());
    m_data->execute(
        "insert into RecipientList (Email, List, SendTo) values ('old@x.com', 'Other', False)");
}

void TestDbImport::cleanup()
{
    m_data.reset();
    m_f.reset();
}

QString TestDbImport::write(const QByteArray& bytes, const QString& name)
{
    const QString path = m_f->home.file(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList TestDbImport::rows(const QString& table)
{
    const QString newField = table == "RecipientList" ? ", New" : "";
    return test::rowsOf(
        m_data->select("select FirstName, LastName, Email, List, Salutation, SendTo" + newField +
                       " from " + table + " where List <> 'Other' order by rowid"));
}

void TestDbImport::nextCsvField_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("plain") << "a,b,c" << QStringList{"a", "b", "c"};
    QTest::newRow("blanks and controls trimmed")
        << " \t a ,\x01 b \x7f" << QStringList{"a", "b \x7f"};
    QTest::newRow("empty value between commas") << "a,,b" << QStringList{"a", "", "b"};
    QTest::newRow("trailing comma gives nothing more") << "a, " << QStringList{"a"};
    QTest::newRow("quoted comma stays") << "\"Smith, John\",x" << QStringList{"Smith, John", "x"};
    QTest::newRow("quoted value trimmed") << "\"  Ann  \" ,b" << QStringList{"Ann", "b"};
    QTest::newRow("text after the closing quote lost") << "\"a\"junk,b" << QStringList{"a", "b"};
    QTest::newRow("doubled quote ends the value") << "\"a\"\"b\",c" << QStringList{"a", "c"};
    QTest::newRow("unclosed quote takes the rest") << "\"Smith, John" << QStringList{"Smith, John"};
    QTest::newRow("closing quote at the end") << "x,\"y\"" << QStringList{"x", "y"};
    QTest::newRow("empty quoted value") << "\"\",z" << QStringList{"", "z"};
    QTest::newRow("blank line gives one empty value") << "   " << QStringList{""};
}

void TestDbImport::nextCsvField()
{
    QFETCH(QString, line);
    QFETCH(QStringList, values);
    QStringList got;
    while (!line.isEmpty() && got.size() < 10)
        got << NextCsvField(line);
    QCOMPARE(got, values);
}

void TestDbImport::importCsvFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("exclusions");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("noCommonFields");
    QTest::newRow("header case, unknown column skipped, LF")
        << QByteArray("email,FIRSTNAME,Phone\nann@x.com,Ann,555\nbob@x.com,Bob,556\n") << false
        << QStringList{"Ann|NULL|ann@x.com|L'1|NULL|True|False",
                       "Bob|NULL|bob@x.com|L'1|NULL|True|False"}
        << false;
    QTest::newRow("CR LF, short line, blank line, no final break")
        << QByteArray("Email,LastName,FirstName\r\ncy@x.com\r\n\r\n\"Smith, John\",\"O'Neil\",Jo")
        << false
        << QStringList{"NULL|NULL|cy@x.com|L'1|NULL|True|False",
                       "NULL|NULL|NULL|L'1|NULL|True|False",
                       "Jo|O'Neil|Smith, John|L'1|NULL|True|False"}
        << false;
    QTest::newRow("file's List and SendTo overwritten, refused value ignored, long value cut")
        << QByteArray(
               "List,SendTo,New,Email,Salutation\nElse,False,maybe,a@x.com,Professor Doctor\n"
               "Else,False,True,b@x.com,Mr.\n")
        << false
        << QStringList{"NULL|NULL|a@x.com|L'1|Professor|True|False",
                       "NULL|NULL|b@x.com|L'1|Mr.|True|True"}
        << false;
    QTest::newRow("8-bit text and a byte-order mark")
        << QByteArray("\xEF\xBB\xBF"
                      "Email,FirstName\nzoe@x.com,Zo\xC3\xAB\n")
        << false << QStringList{"Zoë|NULL|zoe@x.com|L'1|NULL|True|False"} << false;
    QTest::newRow("Windows code page when not UTF-8")
        << QByteArray("Email,FirstName\r\nzoe@x.com,Zo\xEB\r\n") << true
        << QStringList{"Zoë|NULL|zoe@x.com|L'1|NULL|True"} << false;
    QTest::newRow("header names no field")
        << QByteArray("Mail,Name\nann@x.com,Ann\n") << false << QStringList{} << true;
    QTest::newRow("missing header row")
        << QByteArray("ann@x.com,Ann\nbob@x.com,Bob\n") << true << QStringList{} << true;
    QTest::newRow("empty file") << QByteArray() << false << QStringList{} << true;
}

void TestDbImport::importCsvFile()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, exclusions);
    QFETCH(QStringList, expected);
    QFETCH(bool, noCommonFields);
    const QString table = exclusions ? "ExclusionList" : "RecipientList";
    data::TableView view(*m_data, table);
    view.setFilter("List = 'L''1'");
    view.setFiltered(true);
    view.open();
    const CsvImportResult result = ImportCsvFile("L'1", write(file), view);
    QCOMPARE(result.outcome,
             noCommonFields ? CsvImportOutcome::NoCommonFields : CsvImportOutcome::Imported);
    QCOMPARE(result.rows, int(expected.size()));
    QCOMPARE(rows(table), expected);
    // The open view shows the new rows at once.
    QVERIFY(view.isOpen());
    QCOMPARE(view.recordCount(), int(expected.size()));
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'Other'").toInt(), 1);
}

void TestDbImport::refusedRow_keepsTheRowsBeforeIt()
{
    m_data->execute(
        "create trigger refuse before insert on RecipientList when NEW.Email = 'bad@x.com' "
        "begin select raise(abort, 'row refused by the test'); end");
    data::TableView view(*m_data, "RecipientList");
    const QString path = write("Email\na@x.com\nb@x.com\nbad@x.com\nc@x.com\n");
    try {
        ImportCsvFile("L'1", path, view);
        QFAIL("the refused row went in");
    } catch (const data::DbError& e) {
        QCOMPARE(e.message(), QString("row refused by the test"));
    }
    QCOMPARE(rows("RecipientList"), (QStringList{"NULL|NULL|a@x.com|L'1|NULL|True|False",
                                                 "NULL|NULL|b@x.com|L'1|NULL|True|False"}));
    // The view is closed again, as it was, and the table takes writes again.
    QVERIFY(!view.isOpen());
    m_data->execute("insert into RecipientList (Email) values ('d@x.com')");

    // A missing file does nothing at all.
    QCOMPARE(ImportCsvFile("L'1", m_f->home.file("none.csv"), view).outcome,
             CsvImportOutcome::MissingFile);
    QCOMPARE(m_data->scalar("select count(*) from RecipientList").toInt(), 4);
}

// Rows whose address holds a control character are not imported; the others
// are, and the user learns how many were left out and why.
void TestDbImport::controlCharacterAddress_isLeftOutAndCounted()
{
    data::TableView view(*m_data, "RecipientList");
    m_f->dialogs.queuePath(write("Email,FirstName\na@x.com,A\n\"b\tc@x.com\",B\nd\x01@x.com,D\ne@x.com,E\n"));
    LoadMoreCsv(m_f->services, "L'1", view, false);
    QCOMPARE(rows("RecipientList"), (QStringList{"A|NULL|a@x.com|L'1|NULL|True|False",
                                                 "E|NULL|e@x.com|L'1|NULL|True|False"}));
    QCOMPARE(m_f->dialogs.texts().mid(1),
             QStringList{"2 rows were not imported. The address \"b\\x09c@x.com\" holds a line break or "
                         "another control character."});
}

void TestDbImport::loadMoreCsv_asksForThePagesFile_data()
{
    QTest::addColumn<bool>("exclusions");
    QTest::addColumn<QString>("title");
    QTest::newRow("recipients") << false << "Open Recipient File";
    QTest::newRow("exclusions") << true << "Open Exclusion File";
}

void TestDbImport::loadMoreCsv_asksForThePagesFile()
{
    QFETCH(bool, exclusions);
    QFETCH(QString, title);
    data::TableView view(*m_data, exclusions ? "ExclusionList" : "RecipientList");
    m_f->dialogs.queuePath(write("Mail\nann@x.com\n"));
    m_f->dialogs.queuePath(write("Email\nann@x.com\n", "good.csv"));
    LoadMoreCsv(m_f->services, "L'1", view, exclusions);
    LoadMoreCsv(m_f->services, "L'1", view, exclusions);
    LoadMoreCsv(m_f->services, "L'1", view, exclusions); // cancelled
    QCOMPARE(m_f->dialogs.texts(), (QStringList{title, noCommonFieldsText(), title, title}));
    const FileRequest request = m_f->dialogs.shown().first().request;
    QCOMPARE(request.filter,
             QString("Comma Separated (*.CSV, *.TXT)|*.CSV;*.TXT|Any File (*.*)|*.*"));
    QCOMPARE(request.initialDir, m_f->home.path());
    QCOMPARE(rows(exclusions ? "ExclusionList" : "RecipientList").size(), 1);
}

QTEST_MAIN(TestDbImport)
#include "tst_DbImport.moc"
