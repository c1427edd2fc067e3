#include "TempProgramFolder.h"
#include "compose/SubjectHistory.h"
#include "ImageFixtures.h"

#include <QtTest>

using bv::compose::SubjectHistory;

class TestSubjectHistory : public QObject
{
    Q_OBJECT
private slots:
    void missingFile_givesEmptyHistory();
    void load_sortsIgnoringCaseAndAcceptsAnyLineEnd();
    void addIfAbsent_ignoresCaseAndKeepsOrder();
    void emptySubject_isStoredOnce();
    void remove_ignoresCase();
    void save_writesCrLfLinesThatLoadBack();
    void unreadableFile_keepsTheList();
};

void TestSubjectHistory::missingFile_givesEmptyHistory()
{
    bv::test::TempProgramFolder folder;
    SubjectHistory history;
    history.addIfAbsent("old");
    QVERIFY(history.load(folder.file(SubjectHistory::fileName())));
    QVERIFY(history.subjects().isEmpty());
}

void TestSubjectHistory::load_sortsIgnoringCaseAndAcceptsAnyLineEnd()
{
    bv::test::TempProgramFolder folder;
    const QString path = folder.file("Subjects.txt");
    QVERIFY(bv::test::writeFile(path, "banana\r\nApple\ncherry\rapple pie\r\n"));
    SubjectHistory history;
    QVERIFY(history.load(path));
    QCOMPARE(history.subjects(), (QStringList{"Apple", "apple pie", "banana", "cherry"}));
}

void TestSubjectHistory::addIfAbsent_ignoresCaseAndKeepsOrder()
{
    SubjectHistory history;
    QVERIFY(history.addIfAbsent("Offer"));
    QVERIFY(history.addIfAbsent("news"));
    QVERIFY(history.addIfAbsent("Zebra"));
    QVERIFY(!history.addIfAbsent("OFFER"));
    QVERIFY(history.addIfAbsent("autumn"));
    QCOMPARE(history.subjects(), (QStringList{"autumn", "news", "Offer", "Zebra"}));
}

void TestSubjectHistory::emptySubject_isStoredOnce()
{
    bv::test::TempProgramFolder folder;
    const QString path = folder.file("Subjects.txt");
    SubjectHistory history;
    history.addIfAbsent("Offer");
    QVERIFY(history.addIfAbsent(""));
    QVERIFY(!history.addIfAbsent(""));
    QVERIFY(history.save(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("\r\nOffer\r\n"));
}

void TestSubjectHistory::remove_ignoresCase()
{
    SubjectHistory history;
    history.addIfAbsent("Offer");
    history.addIfAbsent("News");
    QVERIFY(history.remove("offer"));
    QVERIFY(!history.remove("offer"));
    QCOMPARE(history.subjects(), QStringList{"News"});
}

void TestSubjectHistory::save_writesCrLfLinesThatLoadBack()
{
    bv::test::TempProgramFolder folder;
    const QString path = folder.file("Subjects.txt");
    SubjectHistory history;
    for (const QString& s : {QString("Grüße"), QString("b"), QString("A"), QString()})
        history.addIfAbsent(s);
    QVERIFY(history.save(path));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QString("\r\nA\r\nb\r\nGrüße\r\n").toUtf8());
    SubjectHistory again;
    QVERIFY(again.load(path));
    QCOMPARE(again.subjects(), history.subjects());
}

void TestSubjectHistory::unreadableFile_keepsTheList()
{
    bv::test::TempProgramFolder folder;
    const QString path = folder.file("Subjects.txt");
    QVERIFY(QDir(folder.path()).mkdir("Subjects.txt")); // a folder cannot be read as lines
    SubjectHistory history;
    history.addIfAbsent("kept");
    QString error;
    QVERIFY(!history.load(path, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(history.subjects(), QStringList{"kept"});
    QVERIFY(!history.save(path));
}

QTEST_GUILESS_MAIN(TestSubjectHistory)
#include "tst_SubjectHistory.moc"
