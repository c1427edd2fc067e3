#include "DataSet.h"
#include "Fuzz.h"
#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "data/Backup.h"
#include "data/Database.h"
#include "data/GetBackupFolder.h"
#include "data/TableView.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <sqlite3.h>

#include <csignal>
#include <thread>

using namespace bv;
using namespace bv::data;

namespace {

// Every row of the three backed-up tables, in a stable order.
QStringList lists(Connection& c)
{
    QStringList out;
    for (const QString& t : backedUpTables())
        for (const QString& row : test::rowsOf(c.select("select * from " + t + " order by rowid")))
            out << t + ": " + row;
    return out;
}

// A second database in a folder of its own inside the program folder.
void openBeside(Connection& c, const QString& folder)
{
    QDir().mkpath(folder);
    c.open(folder);
}

// A table file made by hand: a database holding whatever sql makes.
bool forge(const QString& path, const QByteArray& sql)
{
    QFile::remove(path);
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok)
        qWarning() << sqlite3_errmsg(db);
    sqlite3_close(db);
    return ok;
}

// Answers the backup commands' folder questions from a queue; records them.
class QueuedPrompt : public BackupFolderPrompt
{
public:
    std::optional<QString> askFolder(Mode mode, const QString& initialName) override
    {
        asked << QStringLiteral("%1 %2").arg(mode == Mode::Backup ? "backup" : "restore", initialName);
        if (!failure.isEmpty())
            throw std::runtime_error(failure.toStdString());
        if (answers.isEmpty())
            return std::nullopt;
        return answers.takeFirst();
    }
    QStringList asked;
    QList<std::optional<QString>> answers;
    QString failure; // thrown while the prompt is open
};

const char* const ChildFolder = "BV_RESTORE_CHILD_FOLDER";
const char* const ChildKillPoint = "BV_RESTORE_CHILD_STOP_AFTER";

// The child side of the killed-restore test: restores "new" and stops, to be
// killed, after the given number of statements (7: after the commit).
int restoreChild()
{
    const QString folder = qEnvironmentVariable(ChildFolder);
    const int stopAfter = qEnvironmentVariableIntValue(ChildKillPoint);
    Connection c;
    c.open(folder);
    auto stop = [] {
        std::fputs("stopped\n", stdout);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::minutes(5));
    };
    const BackupOutcome r = RestoreBackup(c, folder, "new", [&](int done) {
        if (done == stopAfter)
            stop();
    });
    if (!r.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(r.error));
        return 1;
    }
    stop();
    return 0;
}

} // namespace

class TestBackup : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void backupLists_defaultNameAndOutcome_data();
    void backupLists_defaultNameAndOutcome();
    void restoreLists_replacesEverything_data();
    void restoreLists_replacesEverything();
    void restoreLists_refusals_data();
    void restoreLists_refusals();
    void restore_badBackup_leavesListsAsTheyWere_data();
    void restore_badBackup_leavesListsAsTheyWere();
    void restore_damagedFiles_fuzz();
    void restore_killed_leavesOldOrNewRows_data();
    void restore_killed_leavesOldOrNewRows();
    void restoreTwiceInOneSecond_keepsBothSafetyBackups();
    void transaction_holdsLockAndRollsBack();
    void prompt_modes_data();
    void prompt_modes();
    void prompt_backupModeOk_data();
    void prompt_backupModeOk();

private:
    BackupCommands commands();

    test::TempProgramFolder* m_folder = nullptr;
    Connection* m_data = nullptr;
    test::TestClock* m_clock = nullptr;
    test::ScriptedDialogs* m_dialogs = nullptr;
    QueuedPrompt* m_prompt = nullptr;
    int m_reopened = 0;
};

void TestBackup::init()
{
    m_folder = new test::TempProgramFolder;
    m_data = new Connection("AdsConnection1");
    m_data->open(m_folder->path());
    test::fillSmallDataSet(*m_data);
    m_data->execute("insert into Lists (List) values ('Müller & Søn')");
    m_data->execute("insert into RecipientList (FirstName, Email, List, SendTo) "
                    "values ('Jürgen', 'j@ü.de', 'Müller & Søn', True)");
    m_clock = new test::TestClock;
    m_dialogs = new test::ScriptedDialogs;
    m_prompt = new QueuedPrompt;
    m_reopened = 0;
}

void TestBackup::cleanup()
{
    delete m_prompt;
    delete m_dialogs;
    delete m_clock;
    delete m_data;
    delete m_folder;
}

BackupCommands TestBackup::commands()
{
    return BackupCommands({*m_data, m_folder->path(), *m_clock, *m_dialogs, *m_prompt, [this] { ++m_reopened; }});
}

void TestBackup::backupLists_defaultNameAndOutcome_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("defaultName");
    QTest::addColumn<std::optional<QString>>("chosen");
    QTest::addColumn<QString>("message");
    QTest::newRow("afternoon") << QDateTime(QDate(2026, 12, 8), QTime(13, 15, 33)) << "12-08-2026 at 12.08.13.15.33"
                               << std::optional<QString>("12-08-2026 at 12.08.13.15.33")
                               << "Backup created successfully.";
    QTest::newRow("single digits") << QDateTime(QDate(2027, 1, 3), QTime(9, 5, 7)) << "01-03-2027 at 01.03.09.05.07"
                                   << std::optional<QString>("O'Neil \"Ü\"") << "Backup created successfully.";
    QTest::newRow("cancelled") << QDateTime(QDate(2027, 1, 3), QTime(9, 5, 7)) << "01-03-2027 at 01.03.09.05.07"
                               << std::optional<QString>() << "Backup Cancelled.";
}

void TestBackup::backupLists_defaultNameAndOutcome()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, defaultName);
    QFETCH(std::optional<QString>, chosen);
    QFETCH(QString, message);
    m_clock->setNow(now);
    m_prompt->answers << chosen;
    // A view filtered on one list must not narrow the backup.
    TableView view(*m_data, "RecipientList");
    view.setFilter("List = 'L2'");
    view.setFiltered(true);
    view.open();
    commands().BackupLists();
    QCOMPARE(m_prompt->asked, QStringList{"backup " + defaultName});
    QCOMPARE(m_dialogs->texts("message"), QStringList{message});
    if (!chosen) {
        QVERIFY(QDir(backupsFolder(m_folder->path())).isEmpty());
        return;
    }
    const QString folder = backupFolder(m_folder->path(), *chosen);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"ExclusionList.adt", "Lists.adt", "RecipientList.adt"}));
    Connection copy;
    openBeside(copy, m_folder->path() + "other/");
    RestoreBackup(copy, m_folder->path(), *chosen);
    QCOMPARE(lists(copy), lists(*m_data));
    QCOMPARE(view.recordCount(), 1);
}

void TestBackup::restoreLists_replacesEverything_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("plain") << "monday";
    QTest::newRow("quotes and letters") << "Tom's \"Ärger\" ñ";
    QTest::newRow("like a statement") << "x\" ; delete from";
}

void TestBackup::restoreLists_replacesEverything()
{
    QFETCH(QString, folder);
    QVERIFY(CreateBackup(*m_data, m_folder->path(), folder).ok);
    const QStringList backedUp = lists(*m_data);
    m_data->execute("delete from RecipientList where List = 'L1'");
    m_data->execute("insert into Lists (List) values ('Later')");
    m_data->execute("insert into ExclusionList (Email, List, SendTo) values ('later@x.com', 'Later', True)");
    const QStringList changed = lists(*m_data);
    m_prompt->answers << std::optional<QString>(folder);
    commands().RestoreLists();
    QCOMPARE(m_prompt->asked, QStringList{"restore "});
    QCOMPARE(m_dialogs->texts("message"), QStringList{"Backup restored successfully."});
    QCOMPARE(m_reopened, 1);
    QCOMPARE(lists(*m_data), backedUp);
    // The safety backup holds the lists as they were before the restore.
    const QString safety = "BEFORE_RESTORE_" + backupTimestamp(m_clock->now());
    Connection check;
    openBeside(check, m_folder->path() + "check/");
    QVERIFY(RestoreBackup(check, m_folder->path(), safety).ok);
    QCOMPARE(lists(check), changed);
    // Statements naming table files still work once the transaction is over.
    QCOMPARE(m_data->scalar("select count(*) from \"" + backupFolder(m_folder->path(), safety) + "/Lists.adt\"")
                 .toInt(),
             5);
}

void TestBackup::restoreLists_refusals_data()
{
    QTest::addColumn<bool>("makeBackups");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("no Backups folder") << false << "" << QStringList() << QStringList{"No Backups Exist"};
    QTest::newRow("cancelled") << true << "" << QStringList{"restore "} << QStringList{"Restore Cancelled."};
    QTest::newRow("prompt fails") << true << "Error creating Backups folder." << QStringList{"restore "}
                                  << QStringList{"Error creating Backups folder."};
}

void TestBackup::restoreLists_refusals()
{
    QFETCH(bool, makeBackups);
    QFETCH(QString, failure);
    QFETCH(QStringList, asked);
    QFETCH(QStringList, messages);
    if (makeBackups)
        QDir().mkpath(backupsFolder(m_folder->path()));
    m_prompt->failure = failure;
    const QStringList before = lists(*m_data);
    commands().RestoreLists();
    QCOMPARE(m_prompt->asked, asked);
    QCOMPARE(m_dialogs->texts("message"), messages);
    QCOMPARE(lists(*m_data), before);
    QCOMPARE(m_reopened, 0);
    // Nothing was taken: no safety backup either.
    QCOMPARE(QDir(backupsFolder(m_folder->path())).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList());
}

void TestBackup::restore_badBackup_leavesListsAsTheyWere_data()
{
    QTest::addColumn<QString>("spoil");  // the file to spoil
    QTest::addColumn<QByteArray>("with"); // its new content; "-" removes it, "foreign" is another table
    QTest::addColumn<QString>("error");  // part of the engine's message
    QTest::newRow("Lists.adt missing") << "Lists.adt" << QByteArray("-") << "does not exist";
    QTest::newRow("RecipientList.adt missing") << "RecipientList.adt" << QByteArray("-") << "does not exist";
    QTest::newRow("Lists.adt not a table") << "Lists.adt" << QByteArray("List\r\nL1\r\n") << "not a database";
    QTest::newRow("Lists.adt empty file") << "Lists.adt" << QByteArray("") << "holds no table Lists";
    QTest::newRow("ExclusionList.adt with other columns") << "ExclusionList.adt" << QByteArray("foreign")
                                                          << "columns";
    QTest::newRow("ExclusionList.adt holds recipients") << "ExclusionList.adt" << QByteArray("other table")
                                                        << "holds no table ExclusionList";
    QTest::newRow("truncated RecipientList.adt") << "RecipientList.adt" << QByteArray("truncate") << "malformed";

    // Files that would make reading them compute rows or run code. The view
    // stops at 20,000 rows here; without the limit it fills the disk.
    const QByteArray columns = "FirstName, LastName, Email, List, Salutation, SendTo";
    QTest::newRow("RecipientList.adt a recursive view")
        << "RecipientList.adt"
        << QByteArray("sql:CREATE VIEW RecipientList AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                      "SELECT i + 1 FROM n WHERE i < 20000) SELECT 'F', 'L', 'u' || i || '@x.com', 'Big', "
                      "'Mr.', 1, 0 FROM n")
        << "damaged: RecipientList is a view, not a table";
    QTest::newRow("ExclusionList.adt with a trigger")
        << "ExclusionList.adt"
        << "sql:CREATE TABLE ExclusionList (" + columns + "); INSERT INTO ExclusionList (Email, SendTo) "
           "VALUES ('x@y.z', 1); CREATE TRIGGER t AFTER INSERT ON ExclusionList BEGIN SELECT 1; END"
        << "damaged: it holds the trigger t";
    QTest::newRow("Lists.adt a virtual table")
        << "Lists.adt" << QByteArray("sql:CREATE VIRTUAL TABLE Lists USING fts4(List); "
                                     "INSERT INTO Lists VALUES ('Forged')")
        << "damaged: Lists is a virtual table";
    QTest::newRow("RecipientList.adt with a computed address")
        << "RecipientList.adt"
        << QByteArray("sql:CREATE TABLE RecipientList (FirstName, LastName, Email AS ('forged@x.com'), "
                      "List, Salutation, SendTo, New); INSERT INTO RecipientList (List, SendTo, New) VALUES ('L1', 1, 0)")
        << "damaged: RecipientList has computed columns";
    QTest::newRow("Lists.adt with a view beside the table")
        << "Lists.adt" << QByteArray("sql:CREATE TABLE Lists (List); CREATE VIEW v AS SELECT 1")
        << "damaged: v is a view";
}

void TestBackup::restore_badBackup_leavesListsAsTheyWere()
{
    QFETCH(QString, spoil);
    QFETCH(QByteArray, with);
    QFETCH(QString, error);
    // Enough rows that a cut file loses pages the restore needs.
    m_data->execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                    "INSERT INTO RecipientList (FirstName, Email, List, SendTo) "
                    "SELECT 'F' || i, 'u' || i || '@x.com', 'Big', True FROM n");
    QVERIFY(CreateBackup(*m_data, m_folder->path(), "spoilt").ok);
    const QString dir = backupFolder(m_folder->path(), "spoilt") + "/";
    QFile file(dir + spoil);
    if (with == "-") {
        QVERIFY(file.remove());
    } else if (with == "foreign") {
        // A database whose ExclusionList has other columns.
        {
            Connection f;
            openBeside(f, m_folder->path() + "forge/");
            f.execute("drop table ExclusionList");
            f.execute("create table ExclusionList (Email text, List text)");
        }
        QVERIFY(file.remove());
        QVERIFY(QFile::copy(m_folder->path() + "forge/" + Connection::databaseFileName(), dir + spoil));
    } else if (with == "other table") {
        QVERIFY(file.remove());
        QVERIFY(QFile::copy(dir + "RecipientList.adt", dir + spoil));
    } else if (with.startsWith("sql:")) {
        QVERIFY(forge(dir + spoil, with.mid(4)));
    } else if (with == "truncate") {
        QVERIFY(file.resize(file.size() / 2));
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(with);
        file.close();
    }
    m_data->execute("insert into Lists (List) values ('After')");
    const QStringList before = lists(*m_data);
    m_prompt->answers << std::optional<QString>("spoilt");
    commands().RestoreLists();
    const QStringList shown = m_dialogs->texts("message");
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith("Restore Encountered Errors. Message: "), qPrintable(shown.first()));
    QVERIFY2(shown.first().contains(error), qPrintable(shown.first()));
    QCOMPARE(lists(*m_data), before);
    QCOMPARE(m_reopened, 1);
    // A good backup restores afterwards: nothing stayed attached or locked.
    QVERIFY(CreateBackup(*m_data, m_folder->path(), "good").ok);
    const BackupOutcome again = RestoreBackup(*m_data, m_folder->path(), "good");
    QVERIFY2(again.ok, qPrintable(again.error));
    QCOMPARE(lists(*m_data), before);
}

void TestBackup::restore_damagedFiles_fuzz()
{
    QVERIFY(CreateBackup(*m_data, m_folder->path(), "fuzz").ok);
    const QString dir = backupFolder(m_folder->path(), "fuzz") + "/";
    QList<QByteArray> corpus;
    for (const QString& t : backedUpTables()) {
        QFile f(dir + t + ".adt");
        QVERIFY(f.open(QIODevice::ReadOnly));
        corpus << f.readAll();
    }
    const QString forged = m_folder->file("forged.adt");
    QVERIFY(forge(forged, "CREATE TABLE RecipientList (FirstName, LastName, Email, List, Salutation, SendTo, "
                          "New); CREATE VIEW v AS SELECT * FROM RecipientList; CREATE TRIGGER t AFTER "
                          "DELETE ON RecipientList BEGIN SELECT 1; END"));
    QFile f(forged);
    QVERIFY(f.open(QIODevice::ReadOnly));
    corpus << f.readAll();

    // Every damaged RecipientList.adt either restores whole or leaves the
    // lists as they were.
    const QString target = dir + "RecipientList.adt";
    QByteArray failed;
    test::fuzz("backup table file", corpus, [&](const QByteArray& bytes) {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(target + suffix);
        QFile out(target);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(target));
        out.close();
        const QStringList before = lists(*m_data);
        const BackupOutcome r = RestoreBackup(*m_data, m_folder->path(), "fuzz");
        if (!r.ok && lists(*m_data) != before && failed.isEmpty())
            failed = bytes;
    });
    QVERIFY2(failed.isEmpty(), failed.toBase64().constData());
    // Nothing stayed attached: a good backup still restores.
    QVERIFY(CreateBackup(*m_data, m_folder->path(), "good").ok);
    const BackupOutcome again = RestoreBackup(*m_data, m_folder->path(), "good");
    QVERIFY2(again.ok, qPrintable(again.error));
}

void TestBackup::restore_killed_leavesOldOrNewRows_data()
{
    QTest::addColumn<int>("stopAfter");
    QTest::addColumn<bool>("restored");
    for (int i = 1; i <= 6; ++i)
        QTest::addRow("killed after statement %d", i) << i << false;
    QTest::newRow("killed after the commit") << 7 << true;
}

void TestBackup::restore_killed_leavesOldOrNewRows()
{
    QFETCH(int, stopAfter);
    QFETCH(bool, restored);
    m_data->execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
                    "INSERT INTO RecipientList (FirstName, Email, List, SendTo) "
                    "SELECT 'F' || i, 'u' || i || '@x.com', 'New', True FROM n");
    QVERIFY(CreateBackup(*m_data, m_folder->path(), "new").ok);
    const QStringList newRows = lists(*m_data);
    m_data->execute("delete from RecipientList where List = 'New'");
    m_data->execute("update ExclusionList set FirstName = 'Old'");
    const QStringList oldRows = lists(*m_data);
    m_data->close();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(ChildFolder, m_folder->path());
    env.insert(ChildKillPoint, QString::number(stopAfter));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    QVERIFY2(child.waitForReadyRead(60000), child.readAllStandardError().constData());
    QCOMPARE(child.readLine().trimmed(), QByteArray("stopped"));
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    m_data->open(m_folder->path());
    QCOMPARE(lists(*m_data), restored ? newRows : oldRows);
}

void TestBackup::restoreTwiceInOneSecond_keepsBothSafetyBackups()
{
    QVERIFY(CreateBackup(*m_data, m_folder->path(), "b").ok);
    const QStringList original = lists(*m_data);
    m_data->execute("delete from RecipientList");
    m_prompt->answers << std::optional<QString>("b") << std::optional<QString>("b");
    commands().RestoreLists();
    commands().RestoreLists();
    const QString first = "BEFORE_RESTORE_" + backupTimestamp(m_clock->now());
    QCOMPARE(QDir(backupsFolder(m_folder->path())).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
             QStringList({first, first + "_2", "b"}));
    Connection check;
    openBeside(check, m_folder->path() + "check/");
    QVERIFY(RestoreBackup(check, m_folder->path(), first).ok);
    QCOMPARE(check.scalar("select count(*) from RecipientList").toInt(), 0);
    QVERIFY(RestoreBackup(check, m_folder->path(), first + "_2").ok);
    QCOMPARE(lists(check), original);
}

void TestBackup::transaction_holdsLockAndRollsBack()
{
    const int before = m_data->scalar("select count(*) from Lists").toInt();
    std::atomic<bool> done = false;
    std::thread other;
    {
        Transaction t(*m_data);
        m_data->execute("insert into Lists (List) values ('inside')");
        // Another thread on the same connection waits for the end instead of
        // joining the transaction and being rolled back with it.
        other = std::thread([&] {
            m_data->execute("insert into Lists (List) values ('other thread')");
            done = true;
        });
        QTest::qWait(200);
        QVERIFY(!done);
    }
    other.join();
    QCOMPARE(test::rowsOf(m_data->select("select List from Lists where rowid > " + QString::number(before))),
             QStringList{"other thread"});
    {
        Transaction t(*m_data);
        m_data->execute("insert into Lists (List) values ('committed')");
        t.commit();
    }
    QCOMPARE(m_data->scalar("select count(*) from Lists").toInt(), before + 2);
}

void TestBackup::prompt_modes_data()
{
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("box");
    QTest::newRow("backup") << true << "Backup Folder Name" << "New Backup Folder Name" << "12-08-2026 at 12.08.13.15.33";
    QTest::newRow("restore") << false << "Restore Folder Name" << "Restore Folder" << "b Ärger";
}

void TestBackup::prompt_modes()
{
    QFETCH(bool, backup);
    QFETCH(QString, caption);
    QFETCH(QString, label);
    QFETCH(QString, box);
    // The prompt makes Backups itself; folders only, sorted by name.
    for (const char* name : {"b Ärger", "A", "c"})
        QVERIFY(QDir().mkpath(backupFolder(m_folder->path(), QString::fromUtf8(name))));
    QFile(backupFolder(m_folder->path(), "a file")).open(QIODevice::WriteOnly);
    GetBackupFolderPrompt prompt(m_folder->path(), *m_dialogs);
    m_dialogs->queueModal([&](QDialog& d) {
        d.show();
        auto* list = d.findChild<QListWidget*>("lstExistingBackups");
        auto* edit = d.findChild<QLineEdit*>("txtNewFolderName");
        [&] {
            QCOMPARE(d.windowTitle(), caption);
            QCOMPARE(d.findChild<QLabel*>("lblFolderName")->text(), label);
            QCOMPARE(d.findChild<QLabel*>("lblExistingBackups")->text(), QStringLiteral("   Existing Backups"));
            QStringList names;
            for (int i = 0; i < list->count(); ++i)
                names << list->item(i)->text();
            QCOMPARE(names, QStringList({"A", "b Ärger", "c"}));
            QCOMPARE(edit->text(), backup ? box : QString());
        }();
        // The default name is longer than the user may type, yet kept whole;
        // typing onto it is refused.
        QTest::keyClicks(edit, "x");
        [&] { QCOMPARE(edit->text(), backup ? box : QString("x")); }();
        // Picking a folder fills the box only when restoring.
        list->setCurrentRow(1);
        [&] { QCOMPARE(edit->text(), box); }();
        QTest::mouseClick(d.findChild<QPushButton*>("btnCancel"), Qt::LeftButton);
        return d.result();
    });
    QCOMPARE(prompt.askFolder(backup ? BackupFolderPrompt::Mode::Backup : BackupFolderPrompt::Mode::Restore,
                              "12-08-2026 at 12.08.13.15.33"),
             std::optional<QString>());
    QVERIFY(m_dialogs->texts("message").isEmpty());
}

void TestBackup::prompt_backupModeOk_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("refusal"); // empty: accepted
    QTest::newRow("accepted, quotes and letters") << "Don't \"Ü\"" << "";
    QTest::newRow("typing stops at twenty characters") << "abcdefghijklmnopqrstuvwxyz" << "";
    QTest::newRow("blanks only") << "   " << "You have not entered a Backup Folder Name.  Please try again.";
    QTest::newRow("existing") << "old" << "This folder already exists.  Please try again.";
    QTest::newRow("leaves Backups")
        << "../escape" << "The backup folder you entered cannot be created, please check the name and try again.";
    QTest::newRow("parent folder")
        << ".." << "The backup folder you entered cannot be created, please check the name and try again.";
}

void TestBackup::prompt_backupModeOk()
{
    QFETCH(QString, typed);
    QFETCH(QString, refusal);
    QVERIFY(QDir().mkpath(backupFolder(m_folder->path(), "old")));
    TfrmGetBackupFolder prompt(TfrmGetBackupFolder::Mode::Backup, m_folder->path(), *m_dialogs);
    prompt.show();
    prompt.txtNewFolderName->clear();
    QTest::keyClicks(prompt.txtNewFolderName, typed);
    QTest::mouseClick(prompt.btnOK, Qt::LeftButton);
    const QString kept = typed.left(20);
    if (refusal.isEmpty()) {
        QVERIFY(m_dialogs->texts().isEmpty());
        QCOMPARE(prompt.result(), int(QDialog::Accepted));
        QCOMPARE(prompt.property("FolderName").toString(), kept);
        QVERIFY(QFileInfo(backupFolder(m_folder->path(), kept)).isDir());
    } else {
        QCOMPARE(m_dialogs->texts("message"), QStringList{refusal});
        QVERIFY(prompt.isVisible());
        QCOMPARE(prompt.folderName(), QString());
        QVERIFY(!QFileInfo::exists(m_folder->path() + "escape"));
    }
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet(ChildFolder))
        return restoreChild();
    QApplication app(argc, argv);
    TestBackup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_backup.moc"
