// "Import from Excel" driven through its controls, on a real database and a
// workbook written by openpyxl.
#include "data/Database.h"
#include "DataSet.h"
#include "lists/XLImportWindow.h"
#include "WindowFixture.h"
#include "WorkbookFixtures.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QtTest>

using namespace bv;
using namespace bv::lists;

class TestXLImportWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void viewImportAndDefinitions();

private:
    QTemporaryDir m_workbooks;
};

void TestXLImportWindow::initTestCase()
{
    const QString failure = test::makeWorkbooks(m_workbooks.path());
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

namespace {

void pick(QComboBox* box, const QString& text)
{
    const int i = box->findText(text);
    QVERIFY2(i >= 0, qPrintable(text));
    box->setCurrentIndex(i);
    emit box->activated(i);
}

void click(QWidget* w, const char* name)
{
    auto* b = w->findChild<QPushButton*>(name);
    QVERIFY2(b, name);
    QTest::mouseClick(b, Qt::LeftButton);
}

QStringList entries(QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

} // namespace

void TestXLImportWindow::viewImportAndDefinitions()
{
    test::WindowFixture f;
    data::Connection ads("AdsConnection1");
    ads.open(f.home.path());
    data::Connection local("LocalConnect");
    local.open(f.home.path());
    ads.execute("insert into Lists (List) values ('L1'), ('O''Neil')");
    ads.execute(
        "insert into RecipientList (Email, List, New) values ('earlier@x.com', 'L1', True)");
    ads.execute("insert into ExcelImportSettings (SpecName, List, DataFolder, ExcelFile, "
                "Salutation, FirstName, "
                "LastName, Email) values ('Old', 'Gone', '/nowhere/', 'old.xls', '(None)', "
                "'(None)', '(None)', 'A')");

    TfrmXLImport w(f.services, ads, local);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.windowTitle(), QString("Import from Excel"));
    QCOMPARE(entries(w.cbList), (QStringList{"(Required)", "L1", "O'Neil"}));
    QCOMPARE(entries(w.cbDefinition), (QStringList{"(None)", "Old"}));
    QCOMPARE(w.cbList->currentIndex(), 0);
    QCOMPARE(w.dbgNewRecipients->model()->rowCount(), 0); // the last import's marks are gone

    // A damaged workbook: told, and nothing staged.
    w.txtExcelFile->setText(m_workbooks.filePath("truncated.xlsx"));
    click(&w, "btnViewData");
    QCOMPARE(f.dialogs.texts("error").size(), 1);
    QVERIFY(w.memResults->toPlainText().contains("it is not a complete zip file"));
    QCOMPARE(w.dbgTmpRecipients->model()->rowCount(), 0);

    f.dialogs.queuePath(m_workbooks.filePath("contacts.xlsx"));
    click(&w, "btnOpenFile");
    const FileRequest asked = f.dialogs.shown().last().request;
    QCOMPARE(asked.title, QString("Open Excel Import File"));
    QCOMPARE(asked.filter, QString("Excel File (*.xls, *.xlsx)|*.xls;*.xlsx|Any File (*.*)|*.*"));
    QCOMPARE(asked.defaultExt, QString("xls"));
    QCOMPARE(w.txtExcelFile->text(), m_workbooks.filePath("contacts.xlsx"));
    click(&w, "btnViewData");
    QCOMPARE(w.dbgTmpRecipients->model()->columnCount(), 13);
    QCOMPARE(w.dbgTmpRecipients->model()->rowCount(), 3);
    QCOMPARE(w.dbgTmpRecipients->model()->index(0, 4).data().toString(), QString("3/5/2024"));

    // The address column is asked for first, then the list.
    f.dialogs.clear();
    pick(w.cbList, "O'Neil");
    click(&w, "btnImportData");
    pick(w.cbEmail, "A");
    pick(w.cbList, "(Required)");
    click(&w, "btnImportData");
    pick(w.cbList, "O'Neil");
    pick(w.cbFN, "B");
    pick(w.cbLN, "C");
    pick(w.cbSal, "D");
    click(&w, "btnImportData");
    QCOMPARE(
        f.dialogs.texts("message"),
        (QStringList{
            "You must define the Input translation.  The minimum requirement is to specify which "
            "field at the top is the email address.",
            "You must choose the list these recipients will be added to.",
            "3 Recipients added to the O'Neil list."}));
    QCOMPARE(w.memResults->toPlainText().split('\n').last(),
             QString("3 Recipients added to the O'Neil list."));
    QCOMPARE(w.dbgNewRecipients->model()->rowCount(), 3);
    QCOMPARE(w.dbgNewRecipients->model()->headerData(0, Qt::Horizontal).toString(),
             QString("(Sal.)"));
    QCOMPARE(test::rowsOf(ads.select(
                 "select Salutation, FirstName, LastName, Email, SendTo from RecipientList "
                 "where List = 'O''Neil' order by rowid")),
             (QStringList{"Ms.|Ann|Smith|ann@x.com|True", "|Bob||bob@x.com|True",
                          "1234567890||cy@x.com||True"}));

    const QString shots = qEnvironmentVariable("BV_SCREENSHOTS");
    if (!shots.isEmpty())
        QVERIFY(w.grab().save(shots + "/TfrmXLImport.png"));

    // Saved under a typed name; "(None)" puts the pickers back; shown again,
    // the picker offers the name and picking it brings the choices back.
    w.cbDefinition->setEditText("June");
    click(&w, "btnSave");
    QCOMPARE(entries(w.cbDefinition), (QStringList{"(None)", "Old"}));
    pick(w.cbDefinition, "(None)");
    QCOMPARE(w.cbEmail->currentText(), QString("(Required)"));
    QCOMPARE(w.cbList->currentText(), QString("(Required)"));
    QCOMPARE(w.txtExcelFile->text(), QString());
    w.hide();
    w.show();
    QCOMPARE(w.dbgNewRecipients->model()->rowCount(), 0);
    // A name typed in another letter case stands for its entry.
    w.cbDefinition->setEditText("jUNE");
    emit w.cbDefinition->activated(-1);
    QCOMPARE(w.cbList->currentText(), QString("O'Neil"));
    QCOMPARE(w.cbEmail->currentText(), QString("A"));
    QCOMPARE(w.cbFN->currentText(), QString("B"));
    QCOMPARE(w.cbSal->currentText(), QString("D"));
    QCOMPARE(w.txtExcelFile->text(), m_workbooks.filePath("contacts.xlsx"));
    click(&w, "btnOpenFile");
    QCOMPARE(f.dialogs.shown().last().request.initialDir, m_workbooks.path() + "/");
    QCOMPARE(f.dialogs.shown().last().request.fileName, QString("contacts.xlsx"));
    // A definition whose list is gone leaves the list picker empty.
    pick(w.cbDefinition, "Old");
    QCOMPARE(w.cbList->currentIndex(), -1);

    f.dialogs.clear();
    w.cbDefinition->setEditText("Nope");
    click(&w, "btnDelete");
    pick(w.cbDefinition, "June");
    f.dialogs.queueAnswer(Answer::No);
    click(&w, "btnDelete");
    f.dialogs.queueAnswer(Answer::Yes);
    click(&w, "btnDelete");
    QCOMPARE(f.dialogs.texts(),
             (QStringList{"This definition isn't on file.", "Delete this definition?",
                          "Delete this definition?"}));
    QCOMPARE(entries(w.cbDefinition), (QStringList{"(None)", "Old"}));
    QCOMPARE(w.cbDefinition->currentIndex(), 0);

    click(&w, "btnClose");
    QCOMPARE(ads.scalar("select count(*) from RecipientList where New = True").toInt(), 0);
}

QTEST_MAIN(TestXLImportWindow)
#include "tst_XLImportWindow.moc"
