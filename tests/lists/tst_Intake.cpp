// The three intake windows over real database files and real mailbox files.
#include "DataSet.h"
#include "QueryPlan.h"
#include "WindowFixture.h"
#include "data/Database.h"
#include "data/TableViewModel.h"
#include "lists/AddEmailSpecial.h"
#include "lists/ExcludeEmail.h"
#include "lists/Intake.h"
#include "lists/RemoveReturnedEmails.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QtTest>

#include <memory>

using namespace bv;
using namespace bv::lists;

namespace {

enum class Kind { Add, Remove };

// A mailbox as a desktop mail program keeps it: messages one after the
// other, each starting with a "From " line; the returned ones carry the
// failed addresses in their bodies.
QByteArray mailbox(const QStringList& failed)
{
    QByteArray out;
    for (const QString& a : failed) {
        out += "From MAILER-DAEMON Mon Dec  7 10:00:00 2026\r\n"
               "From: Mail Delivery System <MAILER-DAEMON@mx.example.net>\r\n"
               "To: Me <me@brevicast.test>\r\n"
               "Subject: Undelivered Mail Returned to Sender\r\n\r\n"
               "This is the mail system at host mx.example.net.\r\n"
               "<" + a.toUtf8() + ">: host said: 550 5.1.1 User unknown\r\n"
               "Final-Recipient: rfc822; " + a.toUtf8() + "\r\n\r\n";
    }
    return out;
}

// Time moves 10 ms at every look, so that a harvest sees it pass; each
// handling of events notes where the progress bar stands.
class SteppingClock : public test::TestClock
{
public:
    qint64 uptimeMs() const override { return m_ms += 10; }
    void processEvents() override
    {
        if (bar)
            seen << bar->value();
    }
    QProgressBar* bar = nullptr;
    QList<int> seen;

private:
    mutable qint64 m_ms = 0;
};

QStringList sorted(QStringList l)
{
    l.sort();
    return l;
}

} // namespace

class TestIntake : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void openFile_data();
    void openFile();
    void openFile_progressMovesAtEventRate();
    void unreadableFile_keepsLastHarvest_data();
    void unreadableFile_keepsLastHarvest();
    void add_data();
    void add();
    void exclude_data();
    void exclude();
    void editInPlace_data();
    void editInPlace();
    void dontExclude_data();
    void dontExclude();
    void reviewResult_data();
    void reviewResult();
    void statements_useUpperIndexes_data();
    void statements_useUpperIndexes();

private:
    MailboxWindow* show(Kind kind, const QString& list = QString());
    QString writeMailbox(const QByteArray& bytes);
    void harvest(const QString& path);
    QStringList grid(QTableView* view) const;
    void selectAddresses(QTableView* view, const QStringList& addresses);
    QStringList rows(const QString& sql) { return sorted(test::rowsOf(m_c->select(sql))); }

    std::unique_ptr<test::WindowFixture> m_f;
    std::unique_ptr<data::Connection> m_c;
    std::unique_ptr<QDialog> m_w;
};

void TestIntake::init()
{
    m_f = std::make_unique<test::WindowFixture>();
    m_c = std::make_unique<data::Connection>("AdsConnection1");
    m_c->open(m_f->home.path());
    test::fillSmallDataSet(*m_c);
    for (const char* r : {"('Jörg','Weiß','jörg@müller.de','Müller''s','Hr.',True)",
                          "('Hal','Lee','gus@z.com','L1','Mr.',False)"})
        m_c->execute(QString("insert into RecipientList (FirstName,LastName,Email,List,Salutation,SendTo) "
                             "values %1").arg(QString::fromUtf8(r)));
    // The user's own address, which every returned message names.
    QFile accounts(m_f->home.file("Accounts.txt"));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write("Me\nme@brevicast.test\n");
}

void TestIntake::cleanup()
{
    m_w.reset();
    m_c.reset();
    m_f.reset();
}

MailboxWindow* TestIntake::show(Kind kind, const QString& list)
{
    MailboxWindow* w = nullptr;
    if (kind == Kind::Add) {
        auto* add = new TfrmAddEmailSpecial(m_f->services, *m_c);
        add->setCurrentList(list);
        w = add;
    } else {
        w = new TfrmRemoveReturnedEmails(m_f->services, *m_c);
    }
    m_w.reset(w);
    w->show();
    return w;
}

QString TestIntake::writeMailbox(const QByteArray& bytes)
{
    const QString path = m_f->home.file("In.MBX");
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

void TestIntake::harvest(const QString& path)
{
    auto* w = static_cast<MailboxWindow*>(m_w.get());
    m_f->dialogs.queuePath(path);
    QTest::mouseClick(w->btnOpenFile, Qt::LeftButton);
}

QStringList TestIntake::grid(QTableView* view) const
{
    QStringList out;
    const QAbstractItemModel* model = view->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        out << cells.join('|');
    }
    return out;
}

void TestIntake::selectAddresses(QTableView* view, const QStringList& addresses)
{
    const QAbstractItemModel* model = view->model();
    view->selectionModel()->clearSelection();
    for (int r = 0; r < model->rowCount(); ++r)
        if (addresses.contains(model->index(r, 0).data().toString()))
            view->selectionModel()->select(model->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestIntake::openFile_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("explanation");
    QTest::newRow("add") << Kind::Add << "Add Email Addresses (Eudora Mailbox - MBX)"
                         << "Open a Eudora Mailbox (.MBX), add email addresses it contains to recipients "
                            "in the current list";
    QTest::newRow("remove") << Kind::Remove << "Remove Returned Email Addresses"
                            << "Open a Eudora Mailbox (.MBX) and move the indicated email addresses to the "
                               "exclusions list if the address matches a recipient.  Processing is done "
                               "for all lists.";
}

// Shown, the grid is empty whatever BadEmail holds; a file read fills it
// with every address once, upper-cased, the user's own left out.
void TestIntake::openFile()
{
    QFETCH(Kind, kind);
    QFETCH(QString, title);
    QFETCH(QString, explanation);
    m_c->execute("insert into BadEmail (EmailMemo) values ('OLD@ROW.X')");
    MailboxWindow* w = show(kind, "L1");
    QCOMPARE(w->windowTitle(), title);
    QCOMPARE(w->lblExplain->text(), explanation);
    QVERIFY(grid(w->dbgReturnedEmails).isEmpty());
    QCOMPARE(w->lblNumFound->text(), QString());
    QCOMPARE(w->lblCount->text(), QString("10 Recipients Addresses in All Lists."));
    QCOMPARE(w->dbgReturnedEmails->selectionMode(), QAbstractItemView::ExtendedSelection);
    QAbstractItemModelTester tester(w->dbgReturnedEmails->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);

    QSignalSpy progress(w->ProgressBar1, &QProgressBar::valueChanged);
    const QByteArray bytes = mailbox({"b@y.z", "Ann@x.com", "ANN@X.COM", "jörg@müller.de", "ann@x.com"});
    harvest(writeMailbox(bytes));

    const FileRequest r = m_f->dialogs.shown().first().request;
    QCOMPARE(r.title, QString("Open Eudora MBX File"));
    QCOMPARE(r.filter, QString("Eudora Mailbox (*.MBX)|*.MBX|Any File (*.*)|*.*"));
    QCOMPARE(r.defaultExt, QString("MBX"));
    QCOMPARE(r.initialDir, m_f->home.path());
    QCOMPARE(m_f->dialogs.texts("message"), QStringList{"Email File Processed. 4 Unique Addresses Found."});
    QCOMPARE(grid(w->dbgReturnedEmails),
             QStringList({"ANN@X.COM", "B@Y.Z", "JöRG@MüLLER.DE", "MAILER-DAEMON@MX.EXAMPLE.NET"}));
    QCOMPARE(w->lblNumFound->text(), QString("4"));
    QCOMPARE(w->ProgressBar1->value(), 0);
    QCOMPARE(w->ProgressBar1->maximum(), int(bytes.count('\n')));
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.at(progress.size() - 2).at(0).toInt(), w->ProgressBar1->maximum());

    // Closing lets the grid's table go; the rows stay for the next window.
    QTest::mouseClick(w->btnClose, Qt::LeftButton);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->returnedEmails().isOpen());
    QCOMPARE(m_c->scalar("select count(*) from BadEmail").toInt(), 4);
}

// The bar moves between handlings of events, which come every 50 ms of the
// harvest, not on every line.
void TestIntake::openFile_progressMovesAtEventRate()
{
    SteppingClock clock;
    Services services{clock, m_f->dialogs, m_f->shell, m_f->home.path()};
    TfrmRemoveReturnedEmails w(services, *m_c);
    clock.bar = w.ProgressBar1;
    w.show();
    QStringList many;
    for (int i = 0; i < 200; ++i)
        many << QString("user%1@x.com").arg(i);
    const QByteArray bytes = mailbox(many);
    const int lines = int(bytes.count('\n'));
    m_f->dialogs.queuePath(writeMailbox(bytes));
    QTest::mouseClick(w.btnOpenFile, Qt::LeftButton);

    QCOMPARE(m_f->dialogs.texts("message"), QStringList{"Email File Processed. 201 Unique Addresses Found."});
    QVERIFY2(qAbs(clock.seen.size() - lines / 5) <= 2, qPrintable(QString::number(clock.seen.size())));
    for (int i = 1; i < clock.seen.size(); ++i)
        QVERIFY(clock.seen[i] > clock.seen[i - 1]);
    QVERIFY(clock.seen.last() > lines - 10);
    QCOMPARE(w.ProgressBar1->maximum(), lines);
}

void TestIntake::unreadableFile_keepsLastHarvest_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing") << "missing.MBX";
    QTest::newRow("a folder") << "Folder.MBX";
}

void TestIntake::unreadableFile_keepsLastHarvest()
{
    QFETCH(QString, path);
    QDir(m_f->home.path()).mkdir("Folder.MBX");
    MailboxWindow* w = show(Kind::Remove);
    harvest(writeMailbox(mailbox({"b@y.z"})));
    m_f->dialogs.clear();

    harvest(m_f->home.file(path));
    QCOMPARE(m_f->dialogs.texts("message"), QStringList{});
    const QStringList errors = m_f->dialogs.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].startsWith(QString("The file \"%1\" could not be read: ").arg(m_f->home.file(path))),
             qPrintable(errors[0]));
    QVERIFY(errors[0].size() > QString("The file \"%1\" could not be read: ").arg(m_f->home.file(path)).size());
    QCOMPARE(grid(w->dbgReturnedEmails), QStringList({"B@Y.Z", "MAILER-DAEMON@MX.EXAMPLE.NET"}));
    QCOMPARE(m_c->scalar("select count(*) from BadEmail").toInt(), 2);
    QVERIFY(w->btnOpenFile->isEnabled());
}

void TestIntake::add_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("mail");
    QTest::addColumn<QStringList>("select"); // addresses; {"*"}: "Add All"
    QTest::addColumn<QList<bv::Answer>>("answers");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QStringList>("added"); // in the order added

    const QString all = "*";
    const QString tooLong = QString(70, 'l') + "@b.c";
    const QString tooLongText =
        "1 address is longer than 60 characters, the most an address of a recipient can hold, and was not added.";
    QTest::newRow("selected, in grid order, as harvested")
        << "L1" << QStringList{"c@y.z", "b@y.z", "a@y.z"} << QStringList{"C@Y.Z", "A@Y.Z"} << QList<Answer>{}
        << QStringList{"2 New Email Addresses Added."}
        << QStringList{"||A@Y.Z|L1||True|False", "||C@Y.Z|L1||True|False"};
    QTest::newRow("an address the list holds is added again")
        << "L1" << QStringList{"ann@x.com"} << QStringList{"ANN@X.COM"} << QList<Answer>{}
        << QStringList{"1 New Email Addresses Added."} << QStringList{"||ANN@X.COM|L1||True|False"};
    QTest::newRow("nothing selected")
        << "L1" << QStringList{"a@y.z"} << QStringList{} << QList<Answer>{}
        << QStringList{"0 New Email Addresses Added."} << QStringList{};
    QTest::newRow("quote and non-ASCII letters in list and address")
        << "Müller's" << QStringList{"jörg@müller.de"} << QStringList{"JöRG@MüLLER.DE"} << QList<Answer>{}
        << QStringList{"1 New Email Addresses Added."} << QStringList{"||JöRG@MüLLER.DE|Müller's||True|False"};
    QTest::newRow("longer than a recipient's address, selected")
        << "L1" << QStringList{tooLong, "a@y.z"} << QStringList{"A@Y.Z", tooLong.toUpper()} << QList<Answer>{}
        << QStringList{"1 New Email Addresses Added.", tooLongText} << QStringList{"||A@Y.Z|L1||True|False"};
    QTest::newRow("no list")
        << "" << QStringList{"a@y.z"} << QStringList{"A@Y.Z"} << QList<Answer>{}
        << QStringList{"Please, select an email list first."} << QStringList{};

    QTest::newRow("all, OK, quoted list")
        << "O'Neil's" << QStringList{"x@y.z", "a@y.z"} << QStringList{all} << QList<Answer>{Answer::Ok}
        << QStringList{"All Emails in this list will be added to the current list: \"O'Neil's\"",
                       "3 Email Addresses added successfully."}
        << QStringList{"||A@Y.Z|O'Neil's||True|False", "||MAILER-DAEMON@MX.EXAMPLE.NET|O'Neil's||True|False",
                       "||X@Y.Z|O'Neil's||True|False"};
    QTest::newRow("all, Cancel")
        << "L1" << QStringList{"x@y.z"} << QStringList{all} << QList<Answer>{Answer::Cancel}
        << QStringList{"All Emails in this list will be added to the current list: \"L1\""} << QStringList{};
    QTest::newRow("all, longer than a recipient's address")
        << "L1" << QStringList{tooLong} << QStringList{all} << QList<Answer>{Answer::Ok}
        << QStringList{"All Emails in this list will be added to the current list: \"L1\"",
                       "1 Email Addresses added successfully.", tooLongText}
        << QStringList{"||MAILER-DAEMON@MX.EXAMPLE.NET|L1||True|False"};
}

void TestIntake::add()
{
    QFETCH(QString, list);
    QFETCH(QStringList, mail);
    QFETCH(QStringList, select);
    QFETCH(QList<bv::Answer>, answers);
    QFETCH(QStringList, dialogs);
    QFETCH(QStringList, added);
    auto* w = static_cast<TfrmAddEmailSpecial*>(show(Kind::Add, list));
    harvest(writeMailbox(mailbox(mail)));
    m_f->dialogs.clear();
    for (Answer a : answers)
        m_f->dialogs.queueAnswer(a);
    const qint64 last = m_c->scalar("select max(ROWID) from RecipientList").toLongLong();
    QSignalSpy progress(w->ProgressBar1, &QProgressBar::valueChanged);

    if (select == QStringList{"*"}) {
        QTest::mouseClick(w->btnAddAll, Qt::LeftButton);
    } else {
        selectAddresses(w->dbgReturnedEmails, select);
        QTest::mouseClick(w->btnAddSelected, Qt::LeftButton);
    }
    QCOMPARE(m_f->dialogs.texts(), dialogs);
    QCOMPARE(test::rowsOf(m_c->select("select * from RecipientList where ROWID > :r order by ROWID",
                                      {{"r", last}})),
             added);
    QCOMPARE(w->lblCount->text(), QString("%1 Recipients Addresses in All Lists.").arg(10 + added.size()));
    QCOMPARE(w->ProgressBar1->value(), 0);
    if (select == QStringList{"*"} && answers == QList<Answer>{Answer::Ok}) {
        QCOMPARE(w->ProgressBar1->maximum(), 100);
        QVERIFY(progress.size() >= 2);
        QCOMPARE(progress.at(progress.size() - 2).at(0).toInt(), 100);
    }
}

void TestIntake::exclude_data()
{
    QTest::addColumn<bool>("all");
    QTest::addColumn<QStringList>("badEmail"); // left by an earlier harvest: EmailMemo|List
    QTest::addColumn<QStringList>("mail");     // read by "Open File" when there is any
    QTest::addColumn<QStringList>("select");   // empty: every row
    QTest::addColumn<QStringList>("added");    // exclusions, as "Exclude All" copies them
    QTest::addColumn<QStringList>("removed");  // recipients: FirstName|Email|List

    struct Case
    {
        const char* name;
        QStringList mail, select, added, removed;
    };
    const QList<Case> both{
        {"already excluded in some list: removed, not added", {"dee@y.com"}, {}, {}, {"Dee|dee@y.com|O'Neil's"}},
        {"non-ASCII letters match only as they are", {"jörg@MÜLLER.de", "JÖRG@müller.de"}, {},
         {}, {}},
        {"non-ASCII address and quoted list", {"Jörg@müller.DE"}, {},
         {"Jörg|Weiß|jörg@müller.de|Müller's|Hr.|True"}, {"Jörg|jörg@müller.de|Müller's"}},
        {"no recipient", {"nobody@nowhere.org"}, {}, {}, {}},
    };
    for (const Case& c : both) {
        QTest::addRow("%s / selected", c.name)
            << false << QStringList{} << c.mail << c.select << c.added << c.removed;
        QTest::addRow("%s / all", c.name) << true << QStringList{} << c.mail << c.select << c.added << c.removed;
    }
    // "Exclude All" takes every recipient of an address; "Exclude Selected"
    // the first in address order, leaving the others for another turn.
    QTest::newRow("two lists / all")
        << true << QStringList{} << QStringList{"Gus@Z.com"} << QStringList{}
        << QStringList{"Gus|Lee|gus@z.com|L2|Mr.|True", "Hal|Lee|gus@z.com|L1|Mr.|False"}
        << QStringList{"Gus|gus@z.com|L2", "Hal|gus@z.com|L1"};
    QTest::newRow("two lists / selected: the first only")
        << false << QStringList{} << QStringList{"Gus@Z.com"} << QStringList{}
        << QStringList{"Gus|Lee|gus@z.com|L2|Mr.|True"} << QStringList{"Gus|gus@z.com|L2"};
    QTest::newRow("every letter case / all")
        << true << QStringList{} << QStringList{"ann@X.com"} << QStringList{}
        << QStringList{"Ann|Smith|ann@x.com|L1|Ms.|True", "Ann|Smithers|ann@x.com|L1|Mrs.|True",
                       "Ed|Park|ann@x.com|L1||True", "Fay|Kim|ANN@X.COM|L1|Ms.|True"}
        << QStringList{"Ann|ann@x.com|L1", "Ann|ann@x.com|L1", "Ed|ann@x.com|L1", "Fay|ANN@X.COM|L1"};
    QTest::newRow("every letter case / selected: the first in address order")
        << false << QStringList{} << QStringList{"ann@X.com"} << QStringList{}
        << QStringList{"Fay|Kim|ANN@X.COM|L1|Ms.|True"} << QStringList{"Fay|ANN@X.COM|L1"};
    QTest::newRow("only the selected rows")
        << false << QStringList{} << QStringList{"cy@x.com", "gus@z.com"} << QStringList{"CY@X.COM"}
        << QStringList{"Cy|Jones|cy@x.com|L1|Mr.|False"} << QStringList{"Cy|cy@x.com|L1"};
    QTest::newRow("nothing selected")
        << false << QStringList{} << QStringList{"cy@x.com"} << QStringList{"none"} << QStringList{}
        << QStringList{};
    // "Exclude All" before any file was read works on what BadEmail holds:
    // here the inbox's form, addresses as stored, one row per list.
    QTest::newRow("all, last harvest in the inbox's form")
        << true << QStringList{"gus@z.com|L2", "gus@z.com|L1", "cy@x.com|L1"} << QStringList{} << QStringList{}
        << QStringList{"Cy|Jones|cy@x.com|L1|Mr.|False", "Gus|Lee|gus@z.com|L2|Mr.|True",
                       "Hal|Lee|gus@z.com|L1|Mr.|False"}
        << QStringList{"Cy|cy@x.com|L1", "Gus|gus@z.com|L2", "Hal|gus@z.com|L1"};
}

void TestIntake::exclude()
{
    QFETCH(bool, all);
    QFETCH(QStringList, badEmail);
    QFETCH(QStringList, mail);
    QFETCH(QStringList, select);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    for (const QString& row : badEmail)
        m_c->execute("insert into BadEmail (EmailMemo, List) values (:e, :l)",
                     {{"e", row.section('|', 0, 0)}, {"l", row.section('|', 1)}});
    const QString recipients = "select FirstName, Email, List from RecipientList";
    const QString exclusions = "select * from ExclusionList";
    QStringList recipientsAfter = rows(recipients);
    const QStringList exclusionsBefore = rows(exclusions);
    auto* w = static_cast<TfrmRemoveReturnedEmails*>(show(Kind::Remove));
    if (!mail.isEmpty())
        harvest(writeMailbox(mailbox(mail)));
    m_f->dialogs.clear();
    QSignalSpy progress(w->ProgressBar1, &QProgressBar::valueChanged);

    if (all) {
        m_f->dialogs.queueAnswer(Answer::Yes);
        QTest::mouseClick(w->btnExcludeAll, Qt::LeftButton);
        QCOMPARE(m_f->dialogs.texts(),
                 QStringList({"Recipients matching the Returned Emails will be transferred to the Exclusions "
                              "Lists.  Continue?",
                              "Returned Email Addresses removed successfully."}));
        // The copy's percentage, then 100 + the removal's, 200 at the end.
        QCOMPARE(w->ProgressBar1->maximum(), 200);
        QList<int> values;
        for (const auto& v : progress)
            values << v.at(0).toInt();
        QCOMPARE(values.last(), 0);
        values.removeLast();
        QVERIFY(values.contains(100));
        QCOMPARE(values.last(), 200);
        for (int i = 1; i < values.size(); ++i)
            QVERIFY(values[i] >= values[i - 1]);
    } else {
        if (select.isEmpty())
            w->dbgReturnedEmails->selectAll();
        else
            selectAddresses(w->dbgReturnedEmails, select);
        QTest::mouseClick(w->btnExcludeSelected, Qt::LeftButton);
        QCOMPARE(m_f->dialogs.texts(), QStringList{QString("%1 New Exclusions Added. %2 Recipients found and removed.")
                                                       .arg(added.size())
                                                       .arg(removed.size())});
        // The exclusion carries the names, the address and the list only.
        for (QString& row : added)
            row = row.section('|', 0, 3) + "|NULL|False";
    }
    QStringList exclusionsAfter = exclusionsBefore + added;
    QCOMPARE(rows(exclusions), sorted(exclusionsAfter));
    for (const QString& r : removed)
        QVERIFY2(recipientsAfter.removeOne(r), qPrintable(r));
    QCOMPARE(rows(recipients), recipientsAfter);
    QCOMPARE(w->lblCount->text(),
             QString("%1 Recipients Addresses in All Lists.").arg(recipientsAfter.size()));
}

void TestIntake::editInPlace_data()
{
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("grid");
    QTest::addColumn<QString>("query"); // what the action left
    QTest::addColumn<QStringList>("result");

    QTest::newRow("corrected, then added trimmed")
        << Kind::Add << "  cy@x.com " << QStringList{"  cy@x.com", "MAILER-DAEMON@MX.EXAMPLE.NET"}
        << "select Email from RecipientList where List = 'L2'" << QStringList{"cy@x.com", "gus@z.com"};
    QTest::newRow("corrected in small letters, then excluded")
        << Kind::Remove << " cy@x.com" << QStringList{" cy@x.com", "MAILER-DAEMON@MX.EXAMPLE.NET"}
        << "select FirstName from ExclusionList where Email = 'cy@x.com'" << QStringList{"Cy"};
}

void TestIntake::editInPlace()
{
    QFETCH(Kind, kind);
    QFETCH(QString, typed);
    QFETCH(QStringList, grid);
    QFETCH(QString, query);
    QFETCH(QStringList, result);
    MailboxWindow* w = show(kind, "L2");
    harvest(writeMailbox(mailbox({"cy@x.con"})));
    QAbstractItemModel* model = w->dbgReturnedEmails->model();
    QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsEditable);
    QVERIFY(model->setData(model->index(0, 0), typed));
    QCOMPARE(this->grid(w->dbgReturnedEmails), grid);
    m_f->dialogs.clear();

    w->dbgReturnedEmails->selectionModel()->select(model->index(0, 0),
                                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::mouseClick(w->findChild<QPushButton*>(kind == Kind::Add ? "btnAddSelected" : "btnExcludeSelected"),
                      Qt::LeftButton);
    QCOMPARE(m_f->dialogs.texts("error"), QStringList{});
    QCOMPARE(rows(query), result);
}

void TestIntake::dontExclude_data()
{
    QTest::addColumn<QList<int>>("select");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QStringList>("left");

    const QStringList every{"ann@x.com|L1", "bob@x.com|L1", "cy@x.com|L1", "dee@y.com|O'Neil's"};
    QTest::newRow("two adjacent rows")
        << QList<int>{1, 2} << Answer::Yes
        << QStringList{"Clear The 2 Selected Emails?", "2 Emails cleared and will not be Excluded."}
        << QStringList{"ann@x.com|L1", "dee@y.com|O'Neil's"};
    QTest::newRow("every row")
        << QList<int>{0, 1, 2, 3} << Answer::Yes
        << QStringList{"Clear The 4 Selected Emails?", "4 Emails cleared and will not be Excluded."}
        << QStringList{};
    QTest::newRow("No keeps them") << QList<int>{0} << Answer::No
                                   << QStringList{"Clear The 1 Selected Emails?"} << every;
    QTest::newRow("Cancel keeps them") << QList<int>{3} << Answer::Cancel
                                       << QStringList{"Clear The 1 Selected Emails?"} << every;
}

void TestIntake::dontExclude()
{
    QFETCH(QList<int>, select);
    QFETCH(Answer, answer);
    QFETCH(QStringList, dialogs);
    QFETCH(QStringList, left);
    for (const char* r : {"('cy@x.com','L1')", "('ann@x.com','L1')", "('dee@y.com','O''Neil''s')",
                          "('bob@x.com','L1')"})
        m_c->execute(QString("insert into BadEmail (EmailMemo, List) values %1").arg(r));
    auto* w = new TfrmExcludeEmail(m_f->services, *m_c);
    m_w.reset(w);
    w->show();
    QCOMPARE(w->windowTitle(), QString("Exclude Email Addresses"));
    QCOMPARE(grid(w->dbgReturnedEmails),
             QStringList({"ann@x.com|L1", "bob@x.com|L1", "cy@x.com|L1", "dee@y.com|O'Neil's"}));
    QCOMPARE(w->dbgReturnedEmails->model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QString("Email"));
    for (int r : select)
        w->dbgReturnedEmails->selectionModel()->select(w->dbgReturnedEmails->model()->index(r, 0),
                                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    m_f->dialogs.queueAnswer(answer);
    QTest::mouseClick(w->btnDontExclude, Qt::LeftButton);
    QCOMPARE(m_f->dialogs.texts(), dialogs);
    QCOMPARE(grid(w->dbgReturnedEmails), left);
    QCOMPARE(rows("select EmailMemo, List from BadEmail"), left);
    if (!left.isEmpty())
        QCOMPARE(w->returnedEmails().recNo(), 0);
}

void TestIntake::reviewResult_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("result");
    QTest::newRow("Exclude") << "btnExclude" << int(QDialog::Accepted);
    QTest::newRow("Cancel") << "btnCancel" << int(QDialog::Rejected);
    QTest::newRow("close box") << "" << int(QDialog::Rejected);
}

// Shown through the dialogs service; only "Exclude" lets the caller go on.
void TestIntake::reviewResult()
{
    QFETCH(QString, button);
    QFETCH(int, result);
    TfrmExcludeEmail w(m_f->services, *m_c);
    m_f->dialogs.queueModal([&](QDialog& d) {
        d.show();
        if (button.isEmpty())
            d.close();
        else
            QTest::mouseClick(d.findChild<QPushButton*>(button), Qt::LeftButton);
        return d.result();
    });
    QCOMPARE(w.execute(), result);
    QCOMPARE(m_f->dialogs.texts("modal"), QStringList{"Exclude Email Addresses"});
    QVERIFY(!w.returnedEmails().isOpen());
}

void TestIntake::statements_useUpperIndexes_data()
{
    QTest::addColumn<QString>("sql");
    const auto all = excludeAllStatements();
    const auto selected = excludeSelectedStatements();
    QTest::newRow("exclude all: copy") << all.copy;
    QTest::newRow("exclude all: remove") << all.remove;
    QTest::newRow("exclude selected: first recipient") << selected.first;
    QTest::newRow("exclude selected: already excluded") << selected.excluded;
}

void TestIntake::statements_useUpperIndexes()
{
    QFETCH(QString, sql);
    test::verifyUpperIndexes(*m_c, sql);
}

QTEST_MAIN(TestIntake)
#include "tst_Intake.moc"
