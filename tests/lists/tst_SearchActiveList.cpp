#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "data/TableView.h"
#include "lists/SearchActiveList.h"

#include <QtTest>

using namespace bv;
using namespace bv::data;
using namespace bv::lists;

class TestSearchActiveList : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void statementText_data();
    void statementText();
    void presses_showEachMatchThenNoMatch_data();
    void presses_showEachMatchThenNoMatch();
    void nextAfterLast_thenFindStartsAgain();

private:
    // "page:FirstName" for a match, "none" otherwise.
    QString press(SearchActiveList::Button button, const SearchRequest& request);

    test::TempProgramFolder* m_folder = nullptr;
    Connection* m_data = nullptr;
    TableView* m_rec = nullptr;
    TableView* m_exc = nullptr;
    test::ScriptedDialogs* m_dialogs = nullptr;
    SearchActiveList* m_search = nullptr;
};

void TestSearchActiveList::init()
{
    m_folder = new test::TempProgramFolder;
    m_data = new Connection("AdsConnection1");
    m_data->open(m_folder->path());
    const char* recipients[] = {
        "('Ann','Smith','ann@x.com','L1','Ms.',True)",     "('Bob','Goldsmith','bob@x.com','L1','Mr.',False)",
        "('Cy','Jones','cy@x.com','L1','Mr.',True)",       "('Ann','Smithers','ann2@x.com','L2','Mrs.',True)",
        "('José','Núñez','jose@x.es','L1','Sr.',True)",    "('Dee','O''Neil','dee@y.com','O''Neil''s','Dr.',True)",
        "('Eve','SMITH','eve@x.com','L1',NULL,True)",
    };
    for (const char* r : recipients)
        m_data->execute(QStringLiteral("insert into RecipientList (FirstName,LastName,Email,List,Salutation,SendTo) values ") +
                        QString::fromUtf8(r));
    const char* exclusions[] = {
        "('Abe','Smith','abe@x.com','L1','Mr.',True)",
        "('Dora','O''Neil','dora@y.com','O''Neil''s','',True)",
    };
    for (const char* e : exclusions)
        m_data->execute(QStringLiteral("insert into ExclusionList (FirstName,LastName,Email,List,Salutation,SendTo) values ") +
                        QString::fromUtf8(e));
    m_rec = new TableView(*m_data, "RecipientList");
    m_exc = new TableView(*m_data, "ExclusionList");
    m_dialogs = new test::ScriptedDialogs;
    m_search = new SearchActiveList(*m_data, *m_rec, *m_exc, *m_dialogs);
}

void TestSearchActiveList::cleanup()
{
    delete m_search;
    delete m_dialogs;
    delete m_rec;
    delete m_exc;
    delete m_data;
    delete m_folder;
}

QString TestSearchActiveList::press(SearchActiveList::Button button, const SearchRequest& request)
{
    const int page = m_search->press(button, request);
    if (page < 0)
        return QStringLiteral("none");
    TableView& v = page == 0 ? *m_rec : *m_exc;
    return QString::number(page) + ":" + v.value("FirstName").toString();
}

void TestSearchActiveList::statementText_data()
{
    QTest::addColumn<SearchRequest>("request");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QString>("sql");
    QTest::newRow("one field, one table, stored order")
        << SearchRequest{"o'neil", "Last Name", "RecipientList", "O'Neil's"} << ""
        << "Select 'tbRecipients' as \"TableNm\", Salutation, FirstName, LastName, Email From RecipientList "
           "where List = 'O''Neil''s' and (\nPOSITION('O''NEIL' IN Upper(LastName)) > 0\n) ";
    QTest::newRow("all fields, both tables, descending order")
        << SearchRequest{"ü", "All", "Both", "L1"} << "EmailDesc"
        << "Select 'tbRecipients' as \"TableNm\", Salutation, FirstName, LastName, Email From RecipientList "
           "where List = 'L1' and (\nPOSITION('ü' IN Upper(FirstName)) > 0\nor\nPOSITION('ü' IN Upper(LastName)) > 0"
           "\nor\nPOSITION('ü' IN Upper(Email)) > 0\nor\nPOSITION('ü' IN Upper(Salutation)) > 0\n) "
           "\n UNION ALL \n"
           "Select 'tbExclusions' as \"TableNm\", Salutation, FirstName, LastName, Email From ExclusionList "
           "where List = 'L1' and (\nPOSITION('ü' IN Upper(FirstName)) > 0\nor\nPOSITION('ü' IN Upper(LastName)) > 0"
           "\nor\nPOSITION('ü' IN Upper(Email)) > 0\nor\nPOSITION('ü' IN Upper(Salutation)) > 0\n) "
           "\n Order By Email DESC";
}

void TestSearchActiveList::statementText()
{
    QFETCH(SearchRequest, request);
    QFETCH(QString, order);
    QFETCH(QString, sql);
    m_rec->setIndexName(order);
    QCOMPARE(m_search->buildQuery(request), sql);
    if (request.table == "Both")
        QCOMPARE(m_exc->indexName(), order);
}

void TestSearchActiveList::presses_showEachMatchThenNoMatch_data()
{
    QTest::addColumn<SearchRequest>("request");
    QTest::addColumn<QString>("order");
    QTest::addColumn<QStringList>("shown");
    using R = SearchRequest;
    QTest::newRow("substring, any letter case") << R{"smith", "Last Name", "RecipientList", "L1"} << ""
                                                << QStringList{"0:Ann", "0:Bob", "0:Eve"};
    QTest::newRow("recipients before exclusions") << R{"SMITH", "Last Name", "Both", "L1"} << ""
                                                  << QStringList{"0:Ann", "0:Bob", "0:Eve", "1:Abe"};
    QTest::newRow("sort order reorders both") << R{"smith", "Last Name", "Both", "L1"} << "FirstName"
                                              << QStringList{"1:Abe", "0:Ann", "0:Bob", "0:Eve"};
    QTest::newRow("descending order") << R{"smith", "Last Name", "RecipientList", "L1"} << "LASTNAMEDESC"
                                      << QStringList{"0:Ann", "0:Eve", "0:Bob"};
    QTest::newRow("exclusions only") << R{"smith", "All", "ExclusionList", "L1"} << "" << QStringList{"1:Abe"};
    QTest::newRow("quotes in text and list") << R{"o'neil", "Last Name", "Both", "O'Neil's"} << ""
                                             << QStringList{"0:Dee", "1:Dora"};
    QTest::newRow("non-ASCII letters") << R{"josé", "First Name", "RecipientList", "L1"} << ""
                                       << QStringList{"0:José"};
    QTest::newRow("non-ASCII in the rest of a word") << R{"ÑEZ", "Last Name", "RecipientList", "L1"} << ""
                                                     << QStringList{};
    QTest::newRow("no Salutation still located") << R{"eve", "Email", "RecipientList", "L1"} << ""
                                                 << QStringList{"0:Eve"};
    QTest::newRow("other list not searched") << R{"smithers", "All", "Both", "L1"} << "" << QStringList{};
    QTest::newRow("no list selected") << R{"a", "All", "Both", ""} << "" << QStringList{};
    QTest::newRow("both tables ordered by SendTo") << R{"smith", "Last Name", "Both", "L1"} << "SendToDesc"
                                                   << QStringList{"0:Ann", "0:Bob", "0:Eve", "1:Abe"};
}

void TestSearchActiveList::presses_showEachMatchThenNoMatch()
{
    QFETCH(SearchRequest, request);
    QFETCH(QString, order);
    QFETCH(QStringList, shown);
    for (TableView* v : {m_rec, m_exc}) {
        v->setFilter(request.list.isEmpty() ? QString("List = 'NoListAtAll'") : "List = " + quoted(request.list));
        v->setFiltered(true);
        v->open();
    }
    m_rec->setIndexName(order);
    QStringList got{press(SearchActiveList::Button::Find, request)};
    while (got.last() != "none" && got.size() < 10)
        got << press(SearchActiveList::Button::Next, request);
    QCOMPARE(got, shown + QStringList{"none"});
    QCOMPARE(m_dialogs->texts(), QStringList{"No Match Found"});
    QVERIFY(!m_search->nextEnabled());
}

void TestSearchActiveList::nextAfterLast_thenFindStartsAgain()
{
    for (TableView* v : {m_rec, m_exc}) {
        v->setFilter("List = 'L1'");
        v->setFiltered(true);
        v->open();
    }
    const SearchRequest r{"smith", "Last Name", "RecipientList", "L1"};
    using B = SearchActiveList::Button;
    QCOMPARE(press(B::Next, r), QStringLiteral("0:Ann")); // "Next" with no query starts one
    QVERIFY(m_search->nextEnabled());
    // Editing the text disables "Next" but the query stays; other pickers do not matter.
    m_search->searchTextEdited();
    QVERIFY(!m_search->nextEnabled());
    QCOMPARE(press(B::Next, {"zzz", "Email", "ExclusionList", "L1"}), QStringLiteral("0:Bob"));
    QCOMPARE(press(B::Next, r), QStringLiteral("0:Eve"));
    QCOMPARE(press(B::Next, r), QStringLiteral("none"));
    QVERIFY(!m_search->hasQuery());
    QCOMPARE(press(B::Find, r), QStringLiteral("0:Ann"));
    QCOMPARE(press(B::Find, r), QStringLiteral("0:Ann"));
    m_search->forget();
    QVERIFY(!m_search->nextEnabled());
    QCOMPARE(m_dialogs->texts(), QStringList{"No Match Found"});
}

QTEST_MAIN(TestSearchActiveList)
#include "tst_SearchActiveList.moc"
