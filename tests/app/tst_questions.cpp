#include "core/IniFile.h"
#include "app/MessageDlgBVC.h"

#include "ScriptedDialogs.h"
#include "TempProgramFolder.h"

#include <QFile>
#include <QtTest>

using namespace bv;
using namespace bv::app;

namespace {

QString warningsValue(const QString& folder, const QString& key)
{
    IniFile ini;
    if (!IniFile::load(folder + "BrevicastWarnings.ini", ini))
        return "unreadable";
    return ini.value("Defaults", key, "absent");
}

} // namespace

class TestQuestions : public QObject
{
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
    void suppressed_answersYesWithoutAsking_data();
    void suppressed_answersYesWithoutAsking();
    void tickedBoxWithNo_suppressesNextTime();
    void untickedBox_asksAgain();
    void writingOneKey_keepsTheOthers();
    void resetWarnings_asksEveryQuestionAgain();
    void resetWarnings_unwritableFolder_reportsFailure();
};

void TestQuestions::texts_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");

    const QString a = "If you are skipping records to finish sending an aborted or incomplete Send \n"
                      "operation, you may have better success and a more accurate operation if you \n"
                      "click \"Redo\" instead.  \n"
                      "\n"
                      "Do you still want to continue?";
    const QString b = "This procedure requires the processing of file containing organized or scattered \n"
                      "email address intended for removal.\n"
                      "\n"
                      "The popular Qualcomm email program, Eudora, formats each mailbox it uses in \n"
                      "this manner.  To use this feature, inside Eudora, place the returned emails in a \n"
                      "Eudora folder, then copy the mailbox file to an easy to find location.  The mailbox \n"
                      "file can be found in the Eudora Folder assigned it and named with the name of the \n"
                      "mailbox followed by an \"mbx\" extension.\n"
                      "\n"
                      "Do you want to continue?";
    QTest::newRow("RedoMsg") << "RedoMsg" << a;
    QTest::newRow("SkipMsg") << "SkipMsg" << a;
    QTest::newRow("RtdFileMsg") << "RtdFileMsg" << b;
}

void TestQuestions::texts()
{
    QFETCH(QString, key);
    QFETCH(QString, text);
    test::TempProgramFolder home;
    test::ScriptedDialogs dialogs;
    dialogs.queueSwitchable(Answer::Yes, false);
    QCOMPARE(AskQuestion(dialogs, home.path(), key), Answer::Yes);
    QCOMPARE(dialogs.texts("switchable"), QStringList{text});
}

void TestQuestions::suppressed_answersYesWithoutAsking_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("RedoMsg") << "RedoMsg" << QByteArray("[Defaults]\r\nRedoMsg=1\r\n");
    QTest::newRow("SkipMsg, any non-zero number") << "SkipMsg" << QByteArray("[Defaults]\r\nSkipMsg=7\r\n");
    QTest::newRow("RtdFileMsg, LF lines") << "RtdFileMsg" << QByteArray("[defaults]\nrtdfilemsg=1\n");
}

void TestQuestions::suppressed_answersYesWithoutAsking()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, file);
    test::TempProgramFolder home;
    QFile f(home.file("BrevicastWarnings.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();

    test::ScriptedDialogs dialogs;
    QCOMPARE(AskQuestion(dialogs, home.path(), key), Answer::Yes);
    QVERIFY(dialogs.shown().isEmpty());
}

void TestQuestions::tickedBoxWithNo_suppressesNextTime()
{
    test::TempProgramFolder home;
    test::ScriptedDialogs dialogs;
    dialogs.queueSwitchable(Answer::No, true);
    QCOMPARE(AskQuestion(dialogs, home.path(), "SkipMsg"), Answer::No);
    QCOMPARE(warningsValue(home.path(), "SkipMsg"), QString("1"));

    dialogs.clear();
    QCOMPARE(AskQuestion(dialogs, home.path(), "SkipMsg"), Answer::Yes);
    QVERIFY(dialogs.shown().isEmpty());
    // The other questions are still asked.
    QCOMPARE(AskQuestion(dialogs, home.path(), "RedoMsg"), Answer::No);
    QCOMPARE(dialogs.texts("switchable").size(), 1);
}

void TestQuestions::untickedBox_asksAgain()
{
    test::TempProgramFolder home;
    test::ScriptedDialogs dialogs;
    dialogs.queueSwitchable(Answer::Yes, false);
    dialogs.queueSwitchable(Answer::No, false);
    QCOMPARE(AskQuestion(dialogs, home.path(), "RedoMsg"), Answer::Yes);
    QCOMPARE(warningsValue(home.path(), "RedoMsg"), QString("0"));
    QCOMPARE(AskQuestion(dialogs, home.path(), "RedoMsg"), Answer::No);
    QCOMPARE(dialogs.texts("switchable").size(), 2);
}

void TestQuestions::writingOneKey_keepsTheOthers()
{
    test::TempProgramFolder home;
    test::ScriptedDialogs dialogs;
    dialogs.queueSwitchable(Answer::Yes, true);
    dialogs.queueSwitchable(Answer::Yes, true);
    AskQuestion(dialogs, home.path(), "RedoMsg");
    AskQuestion(dialogs, home.path(), "RtdFileMsg");
    QCOMPARE(warningsValue(home.path(), "RedoMsg"), QString("1"));
    QCOMPARE(warningsValue(home.path(), "RtdFileMsg"), QString("1"));
    QCOMPARE(warningsValue(home.path(), "SkipMsg"), QString("absent"));
}

void TestQuestions::resetWarnings_asksEveryQuestionAgain()
{
    test::TempProgramFolder home;
    test::ScriptedDialogs dialogs;
    for (const QString& key : warningKeys())
        QVERIFY(setQuestionSuppressed(home.path(), key, true));

    ResetWarnings(dialogs, home.path());
    QCOMPARE(dialogs.texts("message"), QStringList{"Warning and Confirmation messages have been reset."});
    for (const QString& key : warningKeys()) {
        QCOMPARE(warningsValue(home.path(), key), QString("0"));
        QVERIFY(!isQuestionSuppressed(home.path(), key));
    }
    dialogs.clear();
    for (const QString& key : warningKeys())
        QCOMPARE(AskQuestion(dialogs, home.path(), key), Answer::No);
    QCOMPARE(dialogs.texts("switchable").size(), 3);
}

void TestQuestions::resetWarnings_unwritableFolder_reportsFailure()
{
    test::TempProgramFolder home;
    const QString folder = home.file("missing/");
    test::ScriptedDialogs dialogs;
    ResetWarnings(dialogs, folder);
    QCOMPARE(dialogs.texts("error"), QStringList{"Unable to write to " + folder + "BrevicastWarnings.ini"});
    QVERIFY(dialogs.texts("message").isEmpty());

    // The question still gets its answer when its key cannot be written.
    dialogs.clear();
    dialogs.queueSwitchable(Answer::Yes, true);
    QCOMPARE(AskQuestion(dialogs, folder, "RedoMsg"), Answer::Yes);
    QCOMPARE(dialogs.texts("error").size(), 1);
}

QTEST_GUILESS_MAIN(TestQuestions)
#include "tst_questions.moc"
