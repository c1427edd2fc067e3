// The recipient list window driven through its controls, on a real database.
#include "DataSet.h"
#include "HostileText.h"
#include "WindowFixture.h"
#include "data/Database.h"
#include "data/GetListName.h"
#include "lists/RecipientOperations.h"
#include "lists/Recipients.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

using namespace bv;
using namespace bv::lists;

class TestRecipients : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void opening_showsNothingUntilAListIsPicked();
    void singleRecord_addUpdateDelete_data();
    void singleRecord_addUpdateDelete();
    void noList_refusesEditingAndMenus_data();
    void noList_refusesEditingAndMenus();
    void moveAndBack_keepsAllSixFields();
    void titleClicks_alternateTheOrder();
    void removeExclusions_ignoresCaseAndCountsEveryCopy();
    void exportList_data();
    void exportList();
    void sendToAllAndNone_onlyThisList();
    void clearList_asksThenEmptiesOnlyThisList();
    void laterCommands_sayTheyAreNotAvailable();
    void intakeWindows_openOnTheCurrentList();
    void statusAndMovedLabels_clearAfterSevenSeconds();
    void outsideText_showsAsWritten_data() { test::addHostileTextRows(); }
    void outsideText_showsAsWritten();

private:
    void pick(const QString& list);
    void type(QLineEdit* box, const QString& text);
    QStringList rows(const QString& table);

    std::unique_ptr<test::WindowFixture> m_f;
    std::unique_ptr<data::Connection> m_data;
    std::unique_ptr<data::Connection> m_local;
    std::unique_ptr<data::TfrmGetListName> m_prompt;
    std::unique_ptr<TfrmRecipients> w;
};

void TestRecipients::init()
{
    m_f = std::make_unique<test::WindowFixture>();
    m_data = std::make_unique<data::Connection>("AdsConnection1");
    m_data->open(m_f->home.path());
    m_local = std::make_unique<data::Connection>("LocalConnect");
    m_local->open(m_f->home.path());
    test::fillSmallDataSet(*m_data);
    m_prompt = std::make_unique<data::TfrmGetListName>();
    w = std::make_unique<TfrmRecipients>(m_f->services, *m_data, *m_local, *m_prompt);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
}

void TestRecipients::cleanup()
{
    w.reset();
    m_prompt.reset();
    m_local.reset();
    m_data.reset();
    m_f.reset();
}

void TestRecipients::pick(const QString& list)
{
    const int i = w->cbCurrentList->findText(list);
    QVERIFY(i >= 0);
    w->cbCurrentList->setCurrentIndex(i);
    emit w->cbCurrentList->activated(i);
}

void TestRecipients::type(QLineEdit* box, const QString& text)
{
    // Typed as a user would; key clicks know no letters beyond ASCII.
    box->setText(text);
    emit box->textEdited(text);
}

QStringList TestRecipients::rows(const QString& table)
{
    return test::rowsOf(m_data->select(
        "select FirstName, LastName, Email, List, Salutation, SendTo from " + table + " order by rowid"));
}

void TestRecipients::opening_showsNothingUntilAListIsPicked()
{
    QCOMPARE(w->cbCurrentList->currentIndex(), -1);
    QCOMPARE(w->cbCurrentList->count(), 3);
    QCOMPARE(w->dbgRecipients->model()->rowCount(), 0);
    QCOMPARE(w->lblRctCt->text(), QString());
    QVERIFY(w->cbxSendTo->isChecked());
    pick("O'Neil's");
    QCOMPARE(w->lblRctCt->text(), QString("1 Records"));
    QCOMPARE(w->lblExCt->text(), QString("1 Records"));
    QCOMPARE(w->lbeRCVLastName->text(), QString("O'Neil"));
    pick("L1");
    QCOMPARE(w->dbgRecipients->model()->rowCount(), 6);
    // Shown again: back to no list.
    w->hide();
    w->show();
    QCOMPARE(w->cbCurrentList->currentIndex(), -1);
    QCOMPARE(w->dbgRecipients->model()->rowCount(), 0);
}

void TestRecipients::singleRecord_addUpdateDelete_data()
{
    QTest::addColumn<bool>("exclusions");
    QTest::newRow("recipients") << false;
    QTest::newRow("exclusions") << true;
}

void TestRecipients::singleRecord_addUpdateDelete()
{
    QFETCH(bool, exclusions);
    const QString table = exclusions ? "ExclusionList" : "RecipientList";
    const QString noun = exclusions ? "Exclusion" : "Recipient";
    QLineEdit* email = exclusions ? w->lbeEXEmail : w->lbeRCVEmail;
    QLineEdit* last = exclusions ? w->lbeEXLastName : w->lbeRCVLastName;
    QLabel* status = exclusions ? w->lblEXStatus : w->lblRCVStatus;
    QLabel* otherStatus = exclusions ? w->lblRCVStatus : w->lblEXStatus;
    // A new list: an empty view ticks "Send To?", so the row is to be sent.
    m_data->execute("insert into Lists (List) values ('Zoë''s')");
    w->hide();
    w->show();
    pick("Zoë's");
    (exclusions ? w->btnEXClear : w->btnRCVClear)->click();
    type(email, "zoë@x.com");
    type(last, "D'Arcy");
    (exclusions ? w->btnEXAdd : w->btnRCVAdd)->click();
    QCOMPARE(rows(table).filter("Zoë's"), QStringList{"|D'Arcy|zoë@x.com|Zoë's||True"});
    QCOMPARE(status->text(), noun + " Added.");
    QCOMPARE(otherStatus->text(), QString());
    QCOMPARE((exclusions ? w->lblExCt : w->lblRctCt)->text(), QString("1 Records"));

    type(last, "Darcy");
    (exclusions ? w->btnEXUpdate : w->btnRCVUpdate)->click();
    QCOMPARE(rows(table).filter("Zoë's"), QStringList{"|Darcy|zoë@x.com|Zoë's||True"});
    QCOMPARE(status->text(), noun + " Updated.");

    status->clear();
    m_f->dialogs.queueAnswer(Answer::No);
    (exclusions ? w->btnEXDelete : w->btnRCVDelete)->click();
    QCOMPARE(m_f->dialogs.texts("ask"), QStringList{"Delete this entry?"});
    QCOMPARE(rows(table).filter("Zoë's").size(), 1);
    QCOMPARE(status->text(), QString());
    m_f->dialogs.queueAnswer(Answer::Yes);
    (exclusions ? w->btnEXDelete : w->btnRCVDelete)->click();
    QCOMPARE(rows(table).filter("Zoë's").size(), 0);
    QCOMPARE(status->text(), noun + " Deleted.");
    // Update on an empty view adds the row as new.
    (exclusions ? w->btnEXUpdate : w->btnRCVUpdate)->click();
    QCOMPARE(rows(table).filter("Zoë's").size(), 1);

    // An address that could never be sent to is refused, with the reason.
    for (QPushButton* b : exclusions ? QList<QPushButton*>{w->btnEXAdd, w->btnEXUpdate}
                                     : QList<QPushButton*>{w->btnRCVAdd, w->btnRCVUpdate}) {
        type(email, "x\ty@x.com");
        m_f->dialogs.clear();
        b->click();
        QCOMPARE(m_f->dialogs.texts(),
                 QStringList{"The address \"x\\x09y@x.com\" holds a line break or another control character."});
    }
    QCOMPARE(rows(table).filter("Zoë's"), QStringList{"|Darcy|zoë@x.com|Zoë's||True"});
}

void TestRecipients::noList_refusesEditingAndMenus_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("refusal");
    for (const char* b : {"btnRCVAdd", "btnRCVUpdate", "btnRCVDelete", "btnEXAdd", "btnEXUpdate", "btnEXDelete",
                          "btnRecipientsMenu", "btnExclusionsMenu"})
        QTest::newRow(b) << b << TfrmRecipients::selectListFirstText();
    QTest::newRow("Remove Invalid") << "actRemoveInvalid" << "No List Selected.";
}

void TestRecipients::noList_refusesEditingAndMenus()
{
    QFETCH(QString, control);
    QFETCH(QString, refusal);
    const QStringList before = rows("RecipientList") + rows("ExclusionList");
    if (auto* b = w->findChild<QPushButton*>(control))
        b->click();
    else
        w->findChild<QAction*>(control)->trigger();
    QCOMPARE(m_f->dialogs.texts("message"), QStringList{refusal});
    QCOMPARE(rows("RecipientList") + rows("ExclusionList"), before);
}

void TestRecipients::moveAndBack_keepsAllSixFields()
{
    pick("O'Neil's");
    const QStringList recipient{"Dee|O'Neil|dee@y.com|O'Neil's|Dr.|True"};
    m_data->execute("update RecipientList set SendTo = False where List = 'O''Neil''s'");
    w->hide();
    w->show();
    pick("O'Neil's");
    w->btnExclude->click();
    QCOMPARE(rows("RecipientList").filter("O'Neil's"), QStringList());
    QCOMPARE(rows("ExclusionList").filter("dee@y.com"), QStringList{"Dee|O'Neil|dee@y.com|O'Neil's|Dr.|False"});
    QVERIFY(w->lblRecMoved->isVisible() && !w->lblExcMoved->isVisible());

    w->pgcLists->setCurrentWidget(w->tabExclusions);
    QVERIFY(w->exclusions().locate("Email", "dee@y.com"));
    w->btnInclude->click();
    QCOMPARE(rows("RecipientList").filter("O'Neil's"), QStringList{"Dee|O'Neil|dee@y.com|O'Neil's|Dr.|False"});
    QCOMPARE(rows("ExclusionList").filter("dee@y.com"), QStringList());
    QVERIFY(w->lblExcMoved->isVisible() && !w->lblRecMoved->isVisible());
}

void TestRecipients::titleClicks_alternateTheOrder()
{
    pick("L1");
    QHeaderView* header = w->dbgRecipients->horizontalHeader();
    QStringList orders;
    QStringList firstEmails;
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(3) + 5, header->height() / 2));
        orders << w->recipients().indexName();
        firstEmails << w->dbgRecipients->model()->index(0, 3).data().toString();
    }
    QCOMPARE(orders, (QStringList{"Email", "EmailDesc", "Email"}));
    QCOMPARE(firstEmails, (QStringList{"ANN@X.COM", "cy@x.com", "ANN@X.COM"}));
    // The "Snd?" title, backwards.
    header->sectionClicked(4);
    header->sectionClicked(4);
    QCOMPARE(w->recipients().indexName(), QString("SendToDesc"));
    QCOMPARE(w->dbgRecipients->model()->index(5, 0).data().toString(), QString("Mr.")); // Cy, not sent
}

void TestRecipients::removeExclusions_ignoresCaseAndCountsEveryCopy()
{
    // ann@x.com stands four times in L1 (once upper-cased); exclude it once.
    // bob@x.com is excluded in L1 already.
    m_data->execute("insert into ExclusionList (Email, List) values ('Ann@X.com', 'L1')");
    m_data->execute("insert into ExclusionList (Email, List) values ('gus@z.com', 'L1')"); // other list's address
    pick("L1");
    m_f->dialogs.queueAnswer(Answer::Yes);
    w->findChild<QAction*>("actRemoveExclusions")->trigger();
    QCOMPARE(m_f->dialogs.texts("message"), QStringList{"5 Recipient(s) Removed."});
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'L1'").toInt(), 1);
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where List = 'L2'").toInt(), 1);
    QCOMPARE(w->lblRctCt->text(), QString("1 Records"));
}

void TestRecipients::exportList_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<bool>("exclusions");
    QTest::addColumn<QByteArray>("csv");
    const QByteArray header = "\"FirstName\",\"LastName\",\"Email\",\"Salutation\",\"SendTo\"\r\n";
    QTest::newRow("recipients, quotes doubled")
        << "O'Neil's" << false << header + "\"D\"\"ee\",\"O'Neil\",\"dee@y.com\",\"Dr.\",\"True\"\r\n";
    QTest::newRow("exclusions in sort order")
        << "L1" << true
        << header + "\"Bob\",\"Goldsmith\",\"bob@x.com\",\"Mr.\",\"True\"\r\n"
                    "\"Zed\",\"Zed\",\"zed@x.com\",\"\",\"True\"\r\n\"Zed\",\"Zed\",\"zed@x.com\",\"\",\"True\"\r\n";
    QTest::newRow("empty view, empty file") << "L2" << true << QByteArray();
}

void TestRecipients::exportList()
{
    QFETCH(QString, list);
    QFETCH(bool, exclusions);
    QFETCH(QByteArray, csv);
    m_data->execute("update RecipientList set FirstName = 'D\"ee' where FirstName = 'Dee'");
    pick(list);
    w->exclusions().setIndexName("EMAIL");
    const QString path = m_f->home.file("out list.txt");
    m_f->dialogs.queuePath(path);
    w->findChild<QAction*>(exclusions ? "actEXExportList" : "actExportList")->trigger();
    const FileRequest asked = m_f->dialogs.shown().first().request;
    QCOMPARE(asked.filter, QString("CSV (*.TXT, *.CSV)|*.TXT;*.CSV|Any File (*.*)|*.*"));
    QCOMPARE(asked.defaultExt, QString("TXT"));
    QCOMPARE(asked.initialDir, m_f->home.path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), csv);
    QCOMPARE(m_f->dialogs.texts("message"),
             QStringList{(exclusions ? "Exclusions saved to: " : "Recipients saved to: ") + path});
    // A file that cannot be written is reported, and nothing claims success.
    m_f->dialogs.clear();
    m_f->dialogs.queuePath(m_f->home.file("no such folder/x.txt"));
    w->findChild<QAction*>(exclusions ? "actEXExportList" : "actExportList")->trigger();
    QCOMPARE(m_f->dialogs.texts("error").size(), 1);
    QVERIFY(m_f->dialogs.texts("message").isEmpty());
}

void TestRecipients::sendToAllAndNone_onlyThisList()
{
    pick("O'Neil's");
    w->btnSendToNone->click();
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where SendTo = False").toInt(), 2);
    QVERIFY(!w->cbxSendTo->isChecked());
    pick("L1");
    w->btnSendToAll->click();
    QCOMPARE(m_data->scalar("select count(*) from RecipientList where SendTo = False").toInt(), 1);
    QCOMPARE(m_data->scalar("select SendTo from RecipientList where List = 'O''Neil''s'").toInt(), 0);
}

void TestRecipients::clearList_asksThenEmptiesOnlyThisList()
{
    pick("L1");
    m_f->dialogs.queueAnswer(Answer::No);
    w->findChild<QAction*>("actClearList")->trigger();
    QCOMPARE(m_data->scalar("select count(*) from RecipientList").toInt(), 8);
    m_f->dialogs.queueAnswer(Answer::Yes);
    w->findChild<QAction*>("actClearList")->trigger();
    m_f->dialogs.queueAnswer(Answer::Yes);
    w->findChild<QAction*>("actEXClearList")->trigger();
    QCOMPARE(m_f->dialogs.texts("ask"), (QStringList{"Clear All Recipients From This List?",
                                                     "Clear All Recipients From This List?", "Clear All Exclusions?"}));
    QCOMPARE(rows("RecipientList").size(), 2);
    QCOMPARE(rows("ExclusionList").size(), 1);
    QCOMPARE(w->lblRctCt->text(), QString("0 Records"));
}

void TestRecipients::laterCommands_sayTheyAreNotAvailable()
{
    pick("L1");
    w->findChild<QAction*>("actLoadMoreCsv")->trigger();
    w->findChild<QAction*>("actByCheckingEmail")->trigger();
    QCOMPARE(m_f->dialogs.texts("message"), (QStringList{TfrmRecipients::notAvailableText("Load More (CSV)"),
                                                         TfrmRecipients::notAvailableText("By Checking Email")}));
    // A hook, once set, runs, and the views are read again after it.
    TfrmRecipients::Hooks hooks;
    hooks.importRecipientsCsv = [this] {
        m_data->execute("insert into RecipientList (Email, List, SendTo) values ('new@x.com', 'L1', True)");
    };
    w->setHooks(hooks);
    w->findChild<QAction*>("actLoadMoreCsv")->trigger();
    QCOMPARE(w->lblRctCt->text(), QString("7 Records"));
}

void TestRecipients::intakeWindows_openOnTheCurrentList()
{
    pick("O'Neil's");
    QString caption;
    m_f->dialogs.queueModal([&caption](QDialog& d) {
        caption = d.windowTitle();
        return int(QDialog::Rejected);
    });
    w->findChild<QAction*>("actLoadMoreMbx")->trigger();
    QCOMPARE(caption, QString("Add Email Addresses (Eudora Mailbox - MBX)"));
    // "By Eudora" asks first; No keeps its window shut.
    bool asked = false;
    TfrmRecipients::Hooks hooks;
    hooks.askReturnedFileQuestion = [&asked] { return asked = true, false; };
    w->setHooks(hooks);
    w->findChild<QAction*>("actByEudora")->trigger();
    QVERIFY(asked);
    QCOMPARE(m_f->dialogs.texts("modal").size(), 1);
}

void TestRecipients::statusAndMovedLabels_clearAfterSevenSeconds()
{
    pick("L1");
    w->btnRCVAdd->click();
    w->btnExclude->click();
    QVERIFY(!w->lblRCVStatus->text().isEmpty() && w->lblRecMoved->isVisible());
    m_f->clock.advance(6999);
    QVERIFY(!w->lblRCVStatus->text().isEmpty() && w->lblRecMoved->isVisible());
    m_f->clock.advance(1);
    QVERIFY(w->lblRCVStatus->text().isEmpty() && !w->lblRecMoved->isVisible());
}

void TestRecipients::outsideText_showsAsWritten()
{
    QFETCH(QString, text);
    m_data->execute("update RecipientList set LastName = :t where List = 'L2'", {{"t", text}});
    const QString stored = m_data->scalar("select LastName from RecipientList where List = 'L2'").toString();
    pick("L2");
    w->grab();
    const QAbstractItemModel* grid = w->dbgRecipients->model();
    QStringList cells;
    for (int c = 0; c < grid->columnCount(); ++c)
        cells << grid->index(0, c).data().toString();
    QVERIFY2(cells.contains(stored), qPrintable(cells.join('|')));
    QCOMPARE(w->lbeRCVLastName->text(), stored);
}

QTEST_MAIN(TestRecipients)
#include "tst_Recipients.moc"
