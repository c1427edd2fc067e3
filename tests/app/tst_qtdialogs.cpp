#include "app/QtDialogs.h"
#include "data/Database.h"

#include <QApplication>
#include <QFileDialog>
#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>

using namespace bv::app;

class TestQtDialogs : public QObject
{
    Q_OBJECT

private slots:
    void nameFilters_data();
    void nameFilters();
    void masks_matchAnyLetterCase_data();
    void masks_matchAnyLetterCase();
    void fileDialog_overTheOpenDatabase_keepsItsLocks();
};

void TestQtDialogs::nameFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("message files") << "Brevicast (*.BVC)|*.BVC|All Files (*.*)|*.*"
                                   << QStringList{"Brevicast (*.BVC) (*.[bB][vV][cC])", "All Files (*.*) (*)"};
    QTest::newRow("several masks") << "HTML Files (*.HTM, *.HTML)|*.HTM;*.HTML|Any File (*.*)|*.*"
                                   << QStringList{"HTML Files (*.HTM, *.HTML) (*.[hH][tT][mM] *.[hH][tT][mM][lL])",
                                                  "Any File (*.*) (*)"};
    // Masks written with a comma and a blank still name two masks.
    QTest::newRow("comma-separated masks")
        << "HTML Files (*.HTM, *.HTML)|*.HTM, *.HTML|Any File (*.*)|*.*"
        << QStringList{"HTML Files (*.HTM, *.HTML) (*.[hH][tT][mM] *.[hH][tT][mM][lL])", "Any File (*.*) (*)"};
    QTest::newRow("description without mask") << "Odd" << QStringList{};
    QTest::newRow("empty mask") << "Everything|" << QStringList{"Everything (*)"};
}

void TestQtDialogs::nameFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(qtNameFilters(filter), expected);
}

void TestQtDialogs::masks_matchAnyLetterCase_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("matches");
    QTest::newRow("upper mask, lower name") << "*.JPG" << "holiday.jpg" << true;
    QTest::newRow("mixed") << "*.Gif" << "LOGO.gIF" << true;
    QTest::newRow("other extension") << "*.TXT" << "notes.txt.bak" << false;
    QTest::newRow("digits stay") << "*.MP3" << "song.mp3" << true;
}

void TestQtDialogs::masks_matchAnyLetterCase()
{
    QFETCH(QString, mask);
    QFETCH(QString, file);
    QFETCH(bool, matches);
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(caseInsensitiveMask(mask)));
    QCOMPARE(re.match(file).hasMatch(), matches);
}

namespace {

// The record locks this process holds on the files, as the kernel lists them.
int locksOn(const QStringList& files)
{
    QStringList inodes;
    for (const QString& f : files) {
        struct stat st {};
        if (::stat(QFile::encodeName(f).constData(), &st) == 0)
            inodes << QString::number(st.st_ino);
    }
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly))
        return -1;
    const QString pid = QString::number(QCoreApplication::applicationPid());
    int count = 0;
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(line).simplified().split(' ');
        if (f.size() >= 6 && f.at(1) == "POSIX" && f.at(4) == pid &&
            inodes.contains(f.at(5).section(':', 2)))
            ++count;
    }
    return count;
}

} // namespace

// The open and save dialogs start in the program folder, beside the database
// the program has open. Reading a file there to learn its type, and closing
// it, would drop the program's locks on it.
void TestQtDialogs::fileDialog_overTheOpenDatabase_keepsItsLocks()
{
    QTemporaryDir home;
    bv::data::Connection c("AdsConnection1");
    c.open(home.path());
    c.execute("insert into BadEmail (EmailMemo) values ('a@b.c')");
    const QStringList files{home.filePath("Brevicast.db"), home.filePath("Brevicast.db-wal"),
                            home.filePath("Brevicast.db-shm")};
    const int before = locksOn(files);
    QVERIFY(before > 0);

    int whileShown = -1;
    QTimer::singleShot(1500, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        whileShown = locksOn(files);
        dialog->reject();
    });
    QtDialogs dialogs;
    bv::FileRequest request;
    request.title = "Open";
    request.filter = "Any File (*.*)|*.*";
    request.initialDir = home.path();
    QCOMPARE(dialogs.openFile(request), QString());
    QCOMPARE(whileShown, before);
    QCOMPARE(locksOn(files), before);
}

QTEST_MAIN(TestQtDialogs)
#include "tst_qtdialogs.moc"
