#include "returned/ManageEmailAccount.h"
#include "core/SenderAccounts.h"
#include "WindowFixture.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QtTest>

#include <memory>

using namespace bv;
using namespace bv::returned;

class TestManageEmailAccount : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void show_fillsGridFromFile_data();
    void show_fillsGridFromFile();
    void add_toEmptyGrid_fillsTheOneRow();
    void add_appendsBelow();
    void add_invalidAddress_isRefused_data();
    void add_invalidAddress_isRefused();
    void modify_thenUpdate_replacesCurrentRow();
    void delete_asksAndRemovesCurrentRow();
    void delete_answeredNo_keepsRow();
    void delete_lastRow_emptiesIt();
    void delete_nothingValid_isRefused();
    void close_writesNamesThenAddresses();
    void pastedLineBreaks_areDropped_fileKeepsItsPairs();
    void close_emptiedGrid_writesTwoEmptyLines();
    void otherClose_discardsEdits();
    void close_writeFails_staysOpenAndReports();
    void controls_haveAccessibleNames();
    void unreadableFile_isReportedAndNotOverwritten();

private:
    void writeFile(const QByteArray& bytes);
    QByteArray fileBytes() const;
    void type(const char* name, const QString& text);
    void click(const char* name);
    QStringList rows() const;

    std::unique_ptr<test::WindowFixture> m_f;
    std::unique_ptr<TfrmManageEmailAccount> m_w;
    QTableWidget* m_grid = nullptr;
};

void TestManageEmailAccount::init()
{
    m_f = std::make_unique<test::WindowFixture>();
}

void TestManageEmailAccount::cleanup()
{
    m_w.reset();
    m_f.reset();
}

void TestManageEmailAccount::writeFile(const QByteArray& bytes)
{
    QFile file(m_f->home.file("Accounts.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray TestManageEmailAccount::fileBytes() const
{
    QFile file(m_f->home.file("Accounts.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

// Builds and shows the window; the grid is filled on show.
#define SHOW_WINDOW()                                                                              \
    do {                                                                                           \
        m_w = std::make_unique<TfrmManageEmailAccount>(m_f->services);                             \
        m_w->show();                                                                               \
        m_grid = m_w->findChild<QTableWidget*>("sgAccounts");                                      \
        QVERIFY(m_grid);                                                                           \
    } while (0)

void TestManageEmailAccount::type(const char* name, const QString& text)
{
    auto* edit = m_w->findChild<QLineEdit*>(name);
    QVERIFY(edit);
    edit->clear();
    QTest::keyClicks(edit, text);
}

void TestManageEmailAccount::click(const char* name)
{
    auto* b = m_w->findChild<QPushButton*>(name);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

QStringList TestManageEmailAccount::rows() const
{
    QStringList out;
    for (int r = 0; r < m_grid->rowCount(); ++r) {
        auto text = [&](int c) {
            return m_grid->item(r, c) ? m_grid->item(r, c)->text() : QString();
        };
        out << text(0) + "|" + text(1);
    }
    return out;
}

void TestManageEmailAccount::show_fillsGridFromFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("no file: one empty row") << QByteArray("<none>") << QStringList{"|"};
    QTest::newRow("two accounts") << QByteArray("Ann\r\nBob\r\na@x.com\r\nb@x.com\r\n")
                                  << QStringList{"Ann|a@x.com", "Bob|b@x.com"};
    QTest::newRow("five lines: two accounts")
        << QByteArray("A\r\nB\r\na@x.com\r\nb@x.com\r\nc@x.com\r\n")
        << QStringList{"A|a@x.com", "B|b@x.com"};
}

void TestManageEmailAccount::show_fillsGridFromFile()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, rows);
    if (file != "<none>")
        writeFile(file);
    SHOW_WINDOW();
    QCOMPARE(m_grid->horizontalHeaderItem(0)->text(), QString("Account Name"));
    QCOMPARE(m_grid->horizontalHeaderItem(1)->text(), QString("Email Address"));
    QCOMPARE(this->rows(), rows);
}

void TestManageEmailAccount::add_toEmptyGrid_fillsTheOneRow()
{
    SHOW_WINDOW();
    type("txtAccountName", "Ann");
    type("txtEmail", "ann@x.com");
    click("btnAdd");
    QCOMPARE(rows(), QStringList{"Ann|ann@x.com"});
    QCOMPARE(m_w->findChild<QLineEdit*>("txtEmail")->text(), QString("ann@x.com"));
}

void TestManageEmailAccount::add_appendsBelow()
{
    writeFile("Ann\r\nann@x.com\r\n");
    SHOW_WINDOW();
    type("txtAccountName", "Bob");
    type("txtEmail", "bob@x.com");
    click("btnAdd");
    QCOMPARE(rows(), (QStringList{"Ann|ann@x.com", "Bob|bob@x.com"}));
}

void TestManageEmailAccount::add_invalidAddress_isRefused_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("no dot") << "a@b";
    QTest::newRow("no at") << "ann.x.com";
    QTest::newRow("blank") << "";
    QTest::newRow("space inside") << "a b@c.d";
}

void TestManageEmailAccount::add_invalidAddress_isRefused()
{
    QFETCH(QString, address);
    writeFile("Ann\r\nann@x.com\r\n");
    SHOW_WINDOW();
    type("txtAccountName", "Bob");
    type("txtEmail", address);
    click("btnAdd");
    QCOMPARE(m_f->dialogs.texts("message"), QStringList{"This email addresses is not valid."});
    QCOMPARE(rows(), QStringList{"Ann|ann@x.com"});
}

void TestManageEmailAccount::modify_thenUpdate_replacesCurrentRow()
{
    writeFile("Ann\r\nBob\r\nann@x.com\r\nbob@x.com\r\n");
    SHOW_WINDOW();
    m_grid->setCurrentCell(1, 0);
    click("btnModify");
    auto* add = m_w->findChild<QPushButton*>("btnAdd");
    QCOMPARE(add->text(), QString("Update"));
    QCOMPARE(m_w->findChild<QLineEdit*>("txtAccountName")->text(), QString("Bob"));
    QCOMPARE(m_w->findChild<QLineEdit*>("txtEmail")->text(), QString("bob@x.com"));
    type("txtEmail", "robert@x.com");
    click("btnAdd");
    QCOMPARE(rows(), (QStringList{"Ann|ann@x.com", "Bob|robert@x.com"}));
    QCOMPARE(add->text(), QString("Add"));
}

void TestManageEmailAccount::delete_asksAndRemovesCurrentRow()
{
    writeFile(" Ann \r\nBob\r\nCy\r\n ann@x.com \r\nbob@x.com\r\ncy@x.com\r\n");
    SHOW_WINDOW();
    m_grid->setCurrentCell(0, 0);
    m_f->dialogs.queueAnswer(Answer::Yes);
    click("btnDelete");
    QCOMPARE(m_f->dialogs.texts("ask"), QStringList{"Delete Ann\nann@x.com?"});
    QCOMPARE(m_f->dialogs.shown().last().buttons, Buttons::YesNo);
    QCOMPARE(rows(), (QStringList{"Bob|bob@x.com", "Cy|cy@x.com"}));
}

void TestManageEmailAccount::delete_answeredNo_keepsRow()
{
    writeFile("Ann\r\nBob\r\nann@x.com\r\nbob@x.com\r\n");
    SHOW_WINDOW();
    m_f->dialogs.queueAnswer(Answer::No);
    click("btnDelete");
    QCOMPARE(rows().size(), 2);
}

void TestManageEmailAccount::delete_lastRow_emptiesIt()
{
    writeFile("Ann\r\nann@x.com\r\n");
    SHOW_WINDOW();
    m_f->dialogs.queueAnswer(Answer::Yes);
    click("btnDelete");
    QCOMPARE(rows(), QStringList{"|"});
    click("btnDelete");
    QCOMPARE(m_f->dialogs.texts("message"), QStringList{"Nothing to Delete."});
}

void TestManageEmailAccount::delete_nothingValid_isRefused()
{
    SHOW_WINDOW();
    click("btnDelete");
    QCOMPARE(m_f->dialogs.texts(), QStringList{"Nothing to Delete."});
}

void TestManageEmailAccount::close_writesNamesThenAddresses()
{
    SHOW_WINDOW();
    QSignalSpy accepted(m_w.get(), &QDialog::accepted);
    type("txtAccountName", "Ann");
    type("txtEmail", "ann@x.com");
    click("btnAdd");
    type("txtAccountName", "Bob");
    type("txtEmail", "bob@x.com");
    click("btnAdd");
    click("btnClose");
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(fileBytes(), QByteArray("Ann\r\nBob\r\nann@x.com\r\nbob@x.com\r\n"));
    QCOMPARE(LoadSenderNames(m_f->home.path()), (QStringList{"Ann", "Bob"}));
}

void TestManageEmailAccount::pastedLineBreaks_areDropped_fileKeepsItsPairs()
{
    writeFile("Ann\r\nann@x.com\r\n");
    SHOW_WINDOW();
    auto* name = m_w->findChild<QLineEdit*>("txtAccountName");
    auto* email = m_w->findChild<QLineEdit*>("txtEmail");
    name->clear();
    name->insert("Sales\r\n");
    email->clear();
    email->insert("sales@\nx.com\r\n");
    QCOMPARE(name->text(), QString("Sales"));
    QCOMPARE(email->text(), QString("sales@x.com"));
    click("btnAdd");
    click("btnClose");
    QCOMPARE(fileBytes(), QByteArray("Ann\r\nSales\r\nann@x.com\r\nsales@x.com\r\n"));
    QCOMPARE(FormatSender(m_f->home.path(), "Sales"), QString("Sales <sales@x.com>"));
}

void TestManageEmailAccount::close_emptiedGrid_writesTwoEmptyLines()
{
    writeFile("Ann\r\nann@x.com\r\n");
    SHOW_WINDOW();
    m_f->dialogs.queueAnswer(Answer::Yes);
    click("btnDelete");
    click("btnClose");
    QCOMPARE(fileBytes(), QByteArray("\r\n\r\n"));
    QCOMPARE(LoadSenderAccounts(m_f->home.path()).size(), 1);
}

void TestManageEmailAccount::otherClose_discardsEdits()
{
    writeFile("Ann\r\nann@x.com\r\n");
    SHOW_WINDOW();
    type("txtAccountName", "Bob");
    type("txtEmail", "bob@x.com");
    click("btnAdd");
    QTest::keyClick(m_w.get(), Qt::Key_Escape);
    QTRY_VERIFY(!m_w->isVisible());
    QCOMPARE(fileBytes(), QByteArray("Ann\r\nann@x.com\r\n"));
}

void TestManageEmailAccount::close_writeFails_staysOpenAndReports()
{
    SHOW_WINDOW();
    type("txtAccountName", "Ann");
    type("txtEmail", "ann@x.com");
    click("btnAdd");
    // A folder in the file's place cannot be replaced.
    QVERIFY(QDir(m_f->home.path()).mkdir("Accounts.txt"));
    click("btnClose");
    QCOMPARE(m_f->dialogs.texts("error").size(), 1);
    QVERIFY(m_w->isVisible());
    QCOMPARE(rows(), QStringList{"Ann|ann@x.com"});
    QVERIFY(QDir(m_f->home.path()).rmdir("Accounts.txt"));
    click("btnClose");
    QVERIFY(!m_w->isVisible());
    QCOMPARE(fileBytes(), QByteArray("Ann\r\nann@x.com\r\n"));
}

void TestManageEmailAccount::controls_haveAccessibleNames()
{
    SHOW_WINDOW();
    QCOMPARE(m_w->windowTitle(), QString("Manage Email Account Information"));
    const QList<QPair<const char*, const char*>> expected{{"txtAccountName", "Account Name"},
                                                          {"txtEmail", "Email Address"},
                                                          {"btnAdd", "Add"},
                                                          {"btnModify", "Modify"},
                                                          {"btnDelete", "Delete"},
                                                          {"btnClose", "Close"}};
    for (const auto& [name, caption] : expected) {
        auto* w = m_w->findChild<QWidget*>(name);
        QVERIFY2(w, name);
        QCOMPARE(w->accessibleName(), QString(caption));
    }
}

void TestManageEmailAccount::unreadableFile_isReportedAndNotOverwritten()
{
    QVERIFY(QDir(m_f->home.path()).mkdir("Accounts.txt"));
    SHOW_WINDOW();
    QCOMPARE(m_f->dialogs.texts("error").size(), 1);
    click("btnClose");
    QVERIFY(!m_w->isVisible());
    QVERIFY(QFileInfo(m_f->home.file("Accounts.txt")).isDir());
}

QTEST_MAIN(TestManageEmailAccount)
#include "tst_ManageEmailAccount.moc"
