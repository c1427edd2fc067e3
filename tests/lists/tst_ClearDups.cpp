#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "data/DataSet.h"
#include "data/TableView.h"
#include "lists/ClearDups.h"
#include "lists/ClearDupsWindow.h"

#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

using namespace bv;
using namespace bv::data;
using namespace bv::lists;

namespace {

// Rows as "List/Email/FirstName", one per text.
void insert(Connection& c, const QString& table, const QStringList& rows)
{
    for (const QString& r : rows) {
        const QStringList v = r.split(QLatin1Char('/'));
        c.execute("insert into " + table + " (List, Email, FirstName, SendTo) values (:l, :e, :f, True)",
                  {{"l", v.at(0)}, {"e", v.at(1)}, {"f", v.at(2)}});
    }
}

QStringList remaining(Connection& c, const QString& table)
{
    return test::rowsOf(c.select("select List, Email, FirstName from " + table + " order by rowid"))
        .replaceInStrings(QLatin1String("|"), QLatin1String("/"));
}

} // namespace

class TestClearDups : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void deleteDuplicates_keepsFirstOfEachAddress_data();
    void deleteDuplicates_keepsFirstOfEachAddress();
    void removeDuplicateExclusions_data();
    void removeDuplicateExclusions();

private:
    test::TempProgramFolder* m_folder = nullptr;
    Connection* m_data = nullptr;
    test::ScriptedDialogs* m_dialogs = nullptr;
};

void TestClearDups::init()
{
    m_folder = new test::TempProgramFolder;
    m_data = new Connection("AdsConnection1");
    m_data->open(m_folder->path());
    m_dialogs = new test::ScriptedDialogs;
}

void TestClearDups::cleanup()
{
    delete m_dialogs;
    delete m_data;
    delete m_folder;
}

void TestClearDups::deleteDuplicates_keepsFirstOfEachAddress_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("listed"); // the window's grid before the deletion
    QTest::addColumn<QStringList>("kept");
    const QStringList four{"L/a@x.com/1", "L/b@x.com/2", "L/a@x.com/3", "L/a@x.com/4", "L/a@x.com/5"};
    QTest::newRow("one address four times") << "L" << four << QStringList{"a@x.com/3", "a@x.com/4", "a@x.com/5"}
                                            << QStringList{"L/a@x.com/1", "L/b@x.com/2"};
    QTest::newRow("letter case differs") << "L" << QStringList{"L/a@b.c/1", "L/A@B.C/2"} << QStringList()
                                         << QStringList{"L/a@b.c/1", "L/A@B.C/2"};
    QTest::newRow("no duplicates") << "L" << QStringList{"L/a@x.com/1", "L/b@x.com/2"} << QStringList()
                                   << QStringList{"L/a@x.com/1", "L/b@x.com/2"};
    QTest::newRow("same address in another list stays")
        << "L" << QStringList{"M/a@x.com/1", "L/a@x.com/2", "M/a@x.com/3", "L/a@x.com/4"}
        << QStringList{"a@x.com/4"} << QStringList{"M/a@x.com/1", "L/a@x.com/2", "M/a@x.com/3"};
    QTest::newRow("quotes and letters in the list name")
        << "O'Neil's Ü" << QStringList{"O'Neil's Ü/zoë@x.com/1", "O'Neil's Ü/zoë@x.com/2", "O'Neil/zoë@x.com/3"}
        << QStringList{"zoë@x.com/2"} << QStringList{"O'Neil's Ü/zoë@x.com/1", "O'Neil/zoë@x.com/3"};
    QTest::newRow("empty list name") << "" << QStringList{"/a/1", "/a/2", "L/a/3"} << QStringList{"a/2"}
                                     << QStringList{"/a/1", "L/a/3"};
}

void TestClearDups::deleteDuplicates_keepsFirstOfEachAddress()
{
    QFETCH(QString, list);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, listed);
    QFETCH(QStringList, kept);
    insert(*m_data, "RecipientList", rows);
    TfrmClearDups window(*m_data, *m_dialogs, [list] { return list; });
    QCOMPARE(window.windowTitle(), QStringLiteral("Delete Duplicates"));
    window.show();
    auto gridRows = [&] {
        QStringList out;
        for (int r = 0; r < window.dbgDups->rowCount(); ++r)
            out << window.dbgDups->item(r, 0)->text() + "/" + window.dbgDups->item(r, 1)->text();
        return out;
    };
    QCOMPARE(gridRows(), listed);
    QTest::mouseClick(window.btnDeleteDuplicates, Qt::LeftButton);
    QCOMPARE(m_dialogs->texts(), QStringList{QString::number(listed.size()) + " Duplicate records deleted."});
    QCOMPARE(remaining(*m_data, "RecipientList"), kept);
    QCOMPARE(gridRows(), QStringList());
}

void TestClearDups::removeDuplicateExclusions_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QString>("message");
    QTest::newRow("one address four times")
        << QStringList{"L/a@x.com/1", "L/b@x.com/2", "L/a@x.com/3", "L/a@x.com/4", "L/a@x.com/5"} << Answer::Yes
        << QStringList{"L/a@x.com/1", "L/b@x.com/2"} << "3 Exclusion(s) Removed.";
    QTest::newRow("letter case between copies")
        << QStringList{"L/a@b.c/1", "L/A@B.C/2", "L/a@b.c/3", "L/A@B.C/4"} << Answer::Yes
        << QStringList{"L/a@b.c/1", "L/A@B.C/2"} << "2 Exclusion(s) Removed.";
    QTest::newRow("other list untouched")
        << QStringList{"M/a@x.com/1", "L/a@x.com/2", "M/a@x.com/3", "L/a@x.com/4"} << Answer::Yes
        << QStringList{"M/a@x.com/1", "L/a@x.com/2", "M/a@x.com/3"} << "1 Exclusion(s) Removed.";
    QTest::newRow("answered No") << QStringList{"L/a@x.com/1", "L/a@x.com/2"} << Answer::No
                                 << QStringList{"L/a@x.com/1", "L/a@x.com/2"} << "";
}

void TestClearDups::removeDuplicateExclusions()
{
    QFETCH(QStringList, rows);
    QFETCH(Answer, answer);
    QFETCH(QStringList, kept);
    QFETCH(QString, message);
    insert(*m_data, "ExclusionList", rows);
    // Missing (NULL) addresses are no duplicates of each other.
    m_data->execute("insert into ExclusionList (List, FirstName) values ('L', 'n1'), ('L', 'n2')");
    kept << "L/NULL/n1" << "L/NULL/n2";
    TableView exclusions(*m_data, "ExclusionList");
    TableView recipients(*m_data, "RecipientList");
    for (TableView* v : {&exclusions, &recipients}) {
        v->setFilter("List = 'L'");
        v->setFiltered(true);
        v->open();
    }
    exclusions.setIndexName("FirstNameDesc");
    m_dialogs->queueAnswer(answer);
    RemoveDuplicateExclusions(exclusions, recipients, *m_dialogs);
    QCOMPARE(m_dialogs->texts("ask"),
             QStringList{"Remove the extra copies of Exclusions whose email address is in list more than once?"});
    QCOMPARE(m_dialogs->texts("message"), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(remaining(*m_data, "ExclusionList"), kept);
    QCOMPARE(exclusions.indexName(), QStringLiteral("FirstNameDesc"));
    QCOMPARE(exclusions.recordCount(), int(kept.filter(QRegularExpression("^L/")).size()));
}

QTEST_MAIN(TestClearDups)
#include "tst_ClearDups.moc"
