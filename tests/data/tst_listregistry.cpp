#include "DataSet.h"
#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "data/Database.h"
#include "data/GetListName.h"
#include "data/ListManager.h"
#include "data/ListOperations.h"
#include "data/TableView.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace bv;
using namespace bv::data;

namespace {

// Plays the prompt: types the name and presses OK.
std::function<int(QDialog&)> typeName(const QString& name)
{
    return [name](QDialog& d) {
        d.show();
        auto* edit = d.findChild<QLineEdit*>("txtNewListName");
        edit->selectAll();
        edit->del();
        QTest::keyClicks(edit, name);
        QTest::mouseClick(d.findChild<QPushButton*>("btnOK"), Qt::LeftButton);
        return int(d.result());
    };
}

// Closes the prompt without OK.
std::function<int(QDialog&)> closePrompt()
{
    return [](QDialog& d) {
        d.show();
        QTest::keyClicks(d.findChild<QLineEdit*>("txtNewListName"), "typed but not taken");
        d.reject();
        return int(QDialog::Rejected);
    };
}

QStringList items(const QComboBox& c)
{
    QStringList out;
    for (int i = 0; i < c.count(); ++i)
        out << c.itemText(i);
    return out;
}

} // namespace

class TestListRegistry : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void loadListNames_appends();
    void create_selectsNewList();
    void create_refusals_data();
    void create_refusals();
    void rename_movesRowsAndKeepsOtherTables();
    void rename_refusals_data();
    void rename_refusals();
    void duplicate_copiesRecipientsAndExclusions();
    void duplicate_emptyListStillRegistered();
    void duplicate_promptClosed_isExistingName();
    void delete_lastList_leavesNoListState();
    void delete_answeredNo_keepsEverything();
    void quotedNames_workEverywhere();
    void promptKeepsTwentyCharacters();

private:
    void make();
    void pick(const QString& name)
    {
        m_picker->setCurrentIndex(m_picker->findText(name));
        m_ops->applyListSelection(name);
    }

    test::TempProgramFolder* m_folder = nullptr;
    Connection* m_data = nullptr;
    Connection* m_local = nullptr;
    QComboBox* m_picker = nullptr;
    TableView* m_rec = nullptr;
    TableView* m_exc = nullptr;
    TfrmGetListName* m_prompt = nullptr;
    test::ScriptedDialogs* m_dialogs = nullptr;
    ListOperations* m_ops = nullptr;
};

void TestListRegistry::init()
{
    m_folder = new test::TempProgramFolder;
    m_data = new Connection("AdsConnection1");
    m_data->open(m_folder->path());
    m_local = new Connection("LocalConnect");
    m_local->open(m_folder->path());
    test::fillSmallDataSet(*m_data);
    m_data->execute("insert into EmailBeingSent (Email, List) values ('ann@x.com', 'L1')");
    m_picker = new QComboBox;
    m_rec = new TableView(*m_data, "RecipientList");
    m_exc = new TableView(*m_data, "ExclusionList");
    m_rec->open();
    m_exc->open();
    m_prompt = new TfrmGetListName;
    m_dialogs = new test::ScriptedDialogs;
    m_ops = new ListOperations({*m_data, *m_local, *m_picker, *m_rec, *m_exc, *m_prompt, *m_dialogs});
    m_ops->refillPicker();
    m_ops->applyNoList();
}

void TestListRegistry::cleanup()
{
    delete m_ops;
    delete m_dialogs;
    delete m_prompt;
    delete m_rec;
    delete m_exc;
    delete m_picker;
    delete m_local;
    delete m_data;
    delete m_folder;
}

void TestListRegistry::loadListNames_appends()
{
    QStringList names{"kept"};
    LoadListNames(*m_local, names);
    QCOMPARE(names, QStringList({"kept", "L1", "O'Neil's", "L2"}));
}

void TestListRegistry::create_selectsNewList()
{
    m_dialogs->queueModal(typeName(" abc"));
    m_ops->CreateList();
    QVERIFY(m_dialogs->texts("message").isEmpty());
    QCOMPARE(m_prompt->windowTitle(), QStringLiteral("New List Name"));
    QCOMPARE(m_picker->currentText(), QStringLiteral(" abc"));
    QCOMPARE(m_rec->filter(), QStringLiteral("List = ' abc'"));
    QCOMPARE(m_exc->filter(), QStringLiteral("List = ' abc'"));
    QCOMPARE(items(*m_picker).size(), 4);
}

void TestListRegistry::create_refusals_data()
{
    QTest::addColumn<bool>("closeWithoutOk");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("other letter case") << false << "l1" << "This list name already exists.";
    QTest::newRow("only a trailing blank differs") << false << "L1 " << "This list name already exists.";
    QTest::newRow("blanks only") << false << "   " << "The new list name cannot be blank.";
    QTest::newRow("empty") << false << "" << "The new list name cannot be blank.";
    QTest::newRow("prompt closed") << true << "" << "The new list name cannot be blank.";
}

void TestListRegistry::create_refusals()
{
    QFETCH(bool, closeWithoutOk);
    QFETCH(QString, name);
    QFETCH(QString, message);
    m_dialogs->queueModal(closeWithoutOk ? closePrompt() : typeName(name));
    m_ops->CreateList();
    QCOMPARE(m_dialogs->texts("message"), QStringList{message});
    QCOMPARE(m_local->scalar("select count(*) from Lists").toInt(), 3);
}

void TestListRegistry::rename_movesRowsAndKeepsOtherTables()
{
    pick("L1");
    m_dialogs->queueModal(typeName("Customers"));
    m_ops->RenameList();
    QVERIFY(m_dialogs->texts("message").isEmpty());
    QCOMPARE(m_prompt->windowTitle(), QStringLiteral("Rename"));
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'Customers'").toInt(), 6);
    QCOMPARE(m_data->scalar("select count(*) from ExclusionList where List = 'Customers'").toInt(), 3);
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'L1'").toInt(), 0);
    // The send queue keeps the old name.
    QCOMPARE(m_data->scalar("select List from EmailBeingSent").toString(), QStringLiteral("L1"));
    QCOMPARE(m_picker->currentText(), QStringLiteral("Customers"));
    QCOMPARE(m_rec->recordCount(), 6);
}

void TestListRegistry::rename_refusals_data()
{
    QTest::addColumn<bool>("pickList");
    QTest::addColumn<bool>("closeWithoutOk");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("no list selected") << false << false << "x" << "No List selected.";
    QTest::newRow("same name") << true << false << "L1" << "This list name didn't change.";
    QTest::newRow("prompt closed") << true << true << "" << "This list name didn't change.";
    QTest::newRow("other case of itself") << true << false << "l1" << "This list name already exists.";
    QTest::newRow("other list in other case") << true << false << "l2" << "This list name already exists.";
    QTest::newRow("blank") << true << false << "  " << "The new list name cannot be blank.";
}

void TestListRegistry::rename_refusals()
{
    QFETCH(bool, pickList);
    QFETCH(bool, closeWithoutOk);
    QFETCH(QString, name);
    QFETCH(QString, message);
    if (pickList)
        pick("L1");
    m_dialogs->queueModal(closeWithoutOk ? closePrompt() : typeName(name));
    m_ops->RenameList();
    QCOMPARE(m_dialogs->texts("message"), QStringList{message});
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'L1'").toInt(), 6);
    QCOMPARE(m_local->scalar("select count(*) from Lists where List = 'L1'").toInt(), 1);
}

void TestListRegistry::duplicate_copiesRecipientsAndExclusions()
{
    pick("L1");
    m_dialogs->queueAnswer(Answer::Yes);
    m_dialogs->queueModal(typeName("L1 copy"));
    m_ops->DuplicateList();
    QCOMPARE(m_dialogs->texts("ask"), QStringList{"Duplicate Current List?"});
    QCOMPARE(m_prompt->windowTitle(), QStringLiteral("Duplicate"));
    QCOMPARE(test::rowsOf(m_data->select("select FirstName, LastName, Email, Salutation, SendTo, New from "
                                          "RecipientList where List = 'L1 copy' order by rowid")),
             test::rowsOf(m_data->select("select FirstName, LastName, Email, Salutation, SendTo, New from "
                                          "RecipientList where List = 'L1' order by rowid")));
    QCOMPARE(m_data->scalar("select count(*) from ExclusionList where List = 'L1 copy'").toInt(), 3);
    QCOMPARE(m_picker->currentText(), QStringLiteral("L1 copy"));
    // Cancel and No end the operation without a word.
    for (Answer a : {Answer::No, Answer::Cancel}) {
        m_dialogs->clear();
        m_dialogs->queueAnswer(a);
        m_ops->DuplicateList();
        QVERIFY(m_dialogs->texts("message").isEmpty());
        QCOMPARE(m_dialogs->texts("modal").size(), 0);
    }
}

void TestListRegistry::duplicate_emptyListStillRegistered()
{
    AddListName(*m_local, "Empty");
    m_ops->refillPicker();
    pick("Empty");
    m_dialogs->queueAnswer(Answer::Yes);
    m_dialogs->queueModal(typeName("Empty too"));
    m_ops->DuplicateList();
    QVERIFY(items(*m_picker).contains("Empty too"));
    QCOMPARE(m_rec->recordCount(), 0);
}

void TestListRegistry::duplicate_promptClosed_isExistingName()
{
    pick("L2");
    m_dialogs->queueAnswer(Answer::Yes);
    m_dialogs->queueModal(closePrompt());
    m_ops->DuplicateList();
    QCOMPARE(m_dialogs->texts("message"), QStringList{"This list name already exists."});
}

void TestListRegistry::delete_lastList_leavesNoListState()
{
    for (const QString& name : {QStringLiteral("L1"), QStringLiteral("O'Neil's"), QStringLiteral("L2")}) {
        pick(name);
        m_dialogs->queueAnswer(Answer::Yes);
        m_ops->DeleteList();
    }
    QCOMPARE(m_dialogs->texts("ask").size(), 3);
    QCOMPARE(m_picker->count(), 0);
    QCOMPARE(m_picker->currentIndex(), -1);
    QCOMPARE(m_rec->filter(), QString::fromLatin1(NoListFilter));
    QCOMPARE(m_rec->recordCount(), 0);
    QVERIFY(m_rec->isOpen() && m_exc->isOpen());
    QCOMPARE(m_data->scalar("select count(*) from RecipientList").toInt(), 0);
    QCOMPARE(m_data->scalar("select count(*) from ExclusionList").toInt(), 0);
    QCOMPARE(m_data->scalar("select count(*) from EmailBeingSent").toInt(), 1);
    m_ops->DeleteList();
    QCOMPARE(m_dialogs->lastText(), QStringLiteral("No List selected."));
}

void TestListRegistry::delete_answeredNo_keepsEverything()
{
    pick("L2");
    m_dialogs->queueAnswer(Answer::No);
    m_ops->DeleteList();
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'L2'").toInt(), 1);
    QCOMPARE(m_picker->currentText(), QStringLiteral("L2"));
    // After deleting one of several lists the first remaining one is selected.
    m_dialogs->queueAnswer(Answer::Yes);
    m_ops->DeleteList();
    QCOMPARE(m_picker->currentText(), QStringLiteral("L1"));
    QCOMPARE(m_rec->filter(), QStringLiteral("List = 'L1'"));
}

void TestListRegistry::quotedNames_workEverywhere()
{
    m_dialogs->queueModal(typeName("Bob's 'best'"));
    m_ops->CreateList();
    QCOMPARE(m_picker->currentText(), QStringLiteral("Bob's 'best'"));
    m_rec->append();
    m_rec->setValue("Email", "q@q.q");
    m_rec->setValue("List", "Bob's 'best'");
    m_rec->post();
    m_dialogs->queueModal(typeName("O'Neil 2"));
    m_ops->RenameList();
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'O''Neil 2'").toInt(), 1);
    m_dialogs->queueAnswer(Answer::Yes);
    m_dialogs->queueModal(typeName("O'Neil 3"));
    m_ops->DuplicateList();
    QCOMPARE(m_rec->recordCount(), 1);
    m_dialogs->queueAnswer(Answer::Yes);
    m_ops->DeleteList();
    QVERIFY(m_dialogs->texts("message").isEmpty());
    QCOMPARE(m_local->scalar("select count(*) from Lists where List = 'O''Neil 3'").toInt(), 0);
    QCOMPARE(m_local->scalar("select count(*) from Lists where List = 'O''Neil 2'").toInt(), 1);
}

void TestListRegistry::promptKeepsTwentyCharacters()
{
    m_dialogs->queueModal(typeName("123456789012345678901234"));
    m_ops->CreateList();
    QCOMPARE(m_picker->currentText(), QStringLiteral("12345678901234567890"));
    // A list named like the no-list filter's name is an ordinary name.
    m_dialogs->queueModal(typeName("NoListAtAll"));
    m_ops->CreateList();
    QCOMPARE(m_rec->filter(), QString::fromLatin1(NoListFilter));
}

QTEST_MAIN(TestListRegistry)
#include "tst_listregistry.moc"
