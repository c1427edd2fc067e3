#include "AppTestFiles.h"
#include "app/BrevicastMain.h"
#include "app/OneInstance.h"
#include "app/StartUp.h"
#include "core/Services.h"
#include "core/Shell.h"

#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"
#include "TestClock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QtTest>

#include <functional>

using namespace bv;
using namespace bv::app;
using bv::test::contents;
using bv::test::writeFile;

namespace {

class NoShell : public Shell
{
public:
    bool openUrl(const QUrl&) override { return true; }
    bool startProgram(const QString&, const QStringList&) override { return true; }
};

// Lets the program run its show sequence, looks at the main window, then
// closes it, which ends the run.
class CloseWhenStarted : public QObject
{
public:
    explicit CloseWhenStarted(std::function<void(TfrmBrevicastMain&)> look = {}) : m_look(std::move(look))
    {
        qApp->installEventFilter(this);
    }
    bool started = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = qobject_cast<TfrmBrevicastMain*>(watched);
        if (window && event->type() == QEvent::Show && !m_connected) {
            m_connected = true;
            connect(window, &TfrmBrevicastMain::startupFinished, this, [this, window] {
                started = true;
                if (m_look)
                    m_look(*window);
                QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
            });
        }
        return false;
    }

private:
    std::function<void(TfrmBrevicastMain&)> m_look;
    bool m_connected = false;
};

} // namespace

class TestStartUp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void emptyProgramFolder_startsAndSavesOnExit();
    void messageFileArgument_data();
    void messageFileArgument();
    void badDatabaseFile_oneMessageNothingOverwritten();
    void programFolderNotWritable_oneMessage();
    void secondCopy_endsWithoutMessage();

private:
    int run(const QStringList& arguments = {QStringLiteral("brevicast")});

    std::unique_ptr<test::TempProgramFolder> m_home;
    std::unique_ptr<test::TestClock> m_clock;
    std::unique_ptr<test::ScriptedDialogs> m_dialogs;
    NoShell m_shell;
    QString m_guard;
    QString m_folder;
};

void TestStartUp::init()
{
    m_home = std::make_unique<test::TempProgramFolder>();
    m_clock = std::make_unique<test::TestClock>();
    m_dialogs = std::make_unique<test::ScriptedDialogs>();
    m_guard = QStringLiteral("bv-startup-%1").arg(QCoreApplication::applicationPid());
    m_folder = m_home->path();
}

void TestStartUp::cleanup()
{
    m_dialogs.reset();
    m_clock.reset();
    m_home.reset();
}

int TestStartUp::run(const QStringList& arguments)
{
    Services services{*m_clock, *m_dialogs, m_shell, m_folder};
    return runBrevicast(*qApp, services, arguments, m_guard);
}

void TestStartUp::emptyProgramFolder_startsAndSavesOnExit()
{
    QStringList tabs;
    CloseWhenStarted closer([&](TfrmBrevicastMain& w) { tabs << w.TABSMessage->currentWidget()->objectName(); });
    QCOMPARE(run(), 0);
    QVERIFY(closer.started);
    QCOMPARE(tabs, QStringList{"tabPlainText"});
    // The splash was the only window shown, and it was shown modally.
    QCOMPARE(m_dialogs->texts(), QStringList{"Splash"});
    QCOMPARE(m_dialogs->shown().first().kind, QString("modal"));
    QVERIFY(QFile::exists(m_home->file("Brevicast.db")));
    const QByteArray settings = contents(m_home->file("BrevicastSettings.ini"));
    QVERIFY(settings.startsWith("[Defaults]\r\n"));
    QVERIFY(settings.contains("\r\ntxtTestEmail=Enter Test Email Address\r\n"));
    QVERIFY(QFile::exists(m_home->file("Subjects.txt")));
}

void TestStartUp::messageFileArgument_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("shownDomain");
    QTest::addColumn<int>("errors");
    QTest::newRow("message file") << "msg.bvc" << "message.org" << 0;
    QTest::newRow("blank") << "   " << "settings.org" << 0;
    QTest::newRow("missing file") << "gone.bvc" << "settings.org" << 1;
}

void TestStartUp::messageFileArgument()
{
    QFETCH(QString, argument);
    QFETCH(QString, shownDomain);
    QFETCH(int, errors);
    const QByteArray message = "[Defaults]\r\ntxtDomain=message.org\r\n";
    QVERIFY(writeFile(m_home->file("msg.bvc"), message));
    QVERIFY(writeFile(m_home->file("BrevicastSettings.ini"), "[Defaults]\r\ntxtDomain=settings.org\r\n"));
    const QString arg = argument.trimmed().isEmpty() ? argument : m_home->file(argument);

    QString domain;
    CloseWhenStarted closer([&](TfrmBrevicastMain& w) { domain = w.txtDomain->text(); });
    QCOMPARE(run({QStringLiteral("brevicast"), arg}), 0);
    QCOMPARE(domain, shownDomain);
    QCOMPARE(m_dialogs->texts("error").size(), errors);
    // The settings file takes what the window showed; the message file stays.
    QVERIFY(contents(m_home->file("BrevicastSettings.ini")).contains("\r\ntxtDomain=" + shownDomain.toUtf8() + "\r\n"));
    QCOMPARE(contents(m_home->file("msg.bvc")), message);
}

void TestStartUp::badDatabaseFile_oneMessageNothingOverwritten()
{
    const QByteArray junk = QByteArray("This is a letter, not a database.\n").repeated(200);
    QVERIFY(writeFile(m_home->file("Brevicast.db"), junk));
    QVERIFY(writeFile(m_home->file("BrevicastSettings.ini"), "[Defaults]\r\ntxtDomain=keep.org\r\n"));

    CloseWhenStarted closer;
    QCOMPARE(run(), 1);
    QVERIFY(!closer.started);
    QCOMPARE(m_dialogs->shown().size(), 1);
    QCOMPARE(m_dialogs->shown().first().kind, QString("error"));
    const QString text = m_dialogs->lastText();
    QVERIFY2(text.contains("Brevicast.db") && text.contains("file is not a database"), qPrintable(text));
    QCOMPARE(contents(m_home->file("Brevicast.db")), junk);
    QCOMPARE(contents(m_home->file("BrevicastSettings.ini")), QByteArray("[Defaults]\r\ntxtDomain=keep.org\r\n"));
    QCOMPARE(QDir(m_home->path()).entryList(QDir::Files),
             (QStringList{"Brevicast.db", "BrevicastSettings.ini"}));
}

void TestStartUp::programFolderNotWritable_oneMessage()
{
    // A "folder" that is a plain file: nothing can be created in it, even by
    // a user that ignores permissions.
    QVERIFY(writeFile(m_home->file("not-a-folder"), "x"));
    m_folder = m_home->file("not-a-folder") + QLatin1Char('/');
    CloseWhenStarted closer;
    QCOMPARE(run(), 1);
    QVERIFY(!closer.started);
    QCOMPARE(m_dialogs->texts("error").size(), 1);
    QCOMPARE(m_dialogs->shown().size(), 1);
    QVERIFY2(m_dialogs->lastText().startsWith("The database "), qPrintable(m_dialogs->lastText()));
}

void TestStartUp::secondCopy_endsWithoutMessage()
{
    test::ScriptedDialogs firstDialogs;
    TOneInstance first(firstDialogs, m_guard);
    QVERIFY(!first.isSecondCopy());
    CloseWhenStarted closer;
    QCOMPARE(run(), 0);
    QVERIFY(!closer.started);
    QVERIFY(m_dialogs->shown().isEmpty());
    QVERIFY(!QFile::exists(m_home->file("BrevicastSettings.ini")));
}

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
