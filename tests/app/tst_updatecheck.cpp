#include "MainWindowFixture.h"
#include "UpdateSitePeer.h"

#include "app/DownloadProgress.h"
#include "app/HttpDownload.h"
#include "app/ShellCommands.h"
#include "app/UpdateSite.h"

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>

using namespace bv;
using namespace bv::app;
using namespace bv::test;

Q_DECLARE_METATYPE(bv::Answer)

namespace {

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator gen(size);
    for (char& c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

// The questions and messages shown, in order.
QStringList spoken(const ScriptedDialogs& dialogs)
{
    QStringList out;
    for (const auto& s : dialogs.shown())
        if (s.kind == "ask" || s.kind == "message" || s.kind == "error")
            out << s.text;
    return out;
}

// Expected texts ending in "*" match by their beginning.
bool matches(const QStringList& actual, const QStringList& expected)
{
    if (actual.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < actual.size(); ++i) {
        const QString& e = expected.at(i);
        if (e.endsWith('*') ? !actual.at(i).startsWith(e.chopped(1)) : actual.at(i) != e)
            return false;
    }
    return true;
}

QStringList filesIn(const QString& folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden);
    while (it.hasNext())
        out << QFileInfo(it.next()).fileName();
    out.sort();
    return out;
}

void saveShot(QWidget& widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("BREVICAST_SHOTS");
    if (!folder.isEmpty())
        widget.grab().save(folder + '/' + name + ".png");
}

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void siteAddress_data();
    void siteAddress();
    void versionCheck_data();
    void versionCheck();
    void download_data();
    void download();
};

void TestUpdateCheck::siteAddress_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("base");
    QTest::newRow("unset") << QByteArray() << UpdateSite::defaultAddress();
    QTest::newRow("blank") << QByteArray("  ") << UpdateSite::defaultAddress();
    QTest::newRow("without slash")
        << QByteArray("http://127.0.0.1:8080/brevicast") << "http://127.0.0.1:8080/brevicast/";
    QTest::newRow("with blanks") << QByteArray(" https://example.org/u/ ")
                                 << "https://example.org/u/";
}

void TestUpdateCheck::siteAddress()
{
    QFETCH(QByteArray, variable);
    QFETCH(QString, base);
    if (variable.isNull())
        qunsetenv("BREVICAST_UPDATE_SITE");
    else
        qputenv("BREVICAST_UPDATE_SITE", variable);
    const UpdateSite site = UpdateSite::fromEnvironment();
    qunsetenv("BREVICAST_UPDATE_SITE");
    QCOMPARE(site.address(), base);
    QCOMPARE(site.fileUrl("APP_NAME.TXT").toString(), base + "APP_NAME.TXT");
    QCOMPARE(site.newsPage.toString(), base + "news.html");
}

void TestUpdateCheck::versionCheck_data()
{
    QTest::addColumn<QByteArray>("version"); // null: not on the site
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("said"); // what the check shows
    QTest::addColumn<QStringList>("fetched");

    const QString difficulties = "difficulties";
    const QStringList all{"/APP_NAME.TXT", "/APP_VERSION.TXT", "/APP_VERSION.TXT"};
    const QStringList twoFiles{"/APP_NAME.TXT", "/APP_VERSION.TXT"};
    QTest::newRow("1") << QByteArray("1\r\n") << QByteArray("Setup.bin") << upToDateText() << all;
    QTest::newRow("1.0 in blanks")
        << QByteArray(" \t1.0 \n\n") << QByteArray("Setup.bin") << upToDateText() << all;
    QTest::newRow("0.9") << QByteArray("0.9") << QByteArray("Setup.bin") << upToDateText() << all;
    QTest::newRow("1.5") << QByteArray("1.5\r\n") << QByteArray("Setup.bin")
                         << newerVersionQuestion() << all;
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("Setup.bin") << difficulties
                         << twoFiles;
    QTest::newRow("empty") << QByteArray("") << QByteArray("Setup.bin") << difficulties << twoFiles;
    QTest::newRow("comma") << QByteArray("1,5") << QByteArray("Setup.bin") << difficulties
                           << twoFiles;
    QTest::newRow("no version file")
        << QByteArray() << QByteArray("Setup.bin") << difficulties << twoFiles;
    QTest::newRow("no name file") << QByteArray("1.5") << QByteArray() << difficulties
                                  << QStringList{"/APP_NAME.TXT"};
    QTest::newRow("name of two lines") << QByteArray("1.5") << QByteArray("Setup.bin\r\nOther.bin")
                                       << difficulties << QStringList{"/APP_NAME.TXT"};
}

// Through the window's own command, at the site the environment names.
void TestUpdateCheck::versionCheck()
{
    QFETCH(QByteArray, version);
    QFETCH(QByteArray, name);
    QFETCH(QString, said);
    QFETCH(QStringList, fetched);

    UpdateSitePeer site;
    if (!version.isNull())
        QVERIFY(site.serve("APP_VERSION.TXT", version));
    if (!name.isNull())
        QVERIFY(site.serve("APP_NAME.TXT", name));
    QVERIFY2(site.start(), qPrintable(site.error()));

    MainWindowFixture f;
    qputenv("BREVICAST_UPDATE_SITE", site.address().toUtf8());
    f.create();
    qunsetenv("BREVICAST_UPDATE_SITE");
    f.window->Action8->trigger();

    if (said == "difficulties")
        said = connectionDifficultiesText(site.address());
    QCOMPARE(spoken(f.dialogs), QStringList{said});
    QCOMPARE(f.dialogs.shown().last().buttons,
             said == newerVersionQuestion() ? Buttons::YesNoCancel : Buttons::Ok);
    // Declining the offer goes no further: no save dialog, no download.
    QVERIFY(site.waitUntil([&] { return site.requests().size() >= fetched.size(); }));
    QStringList paths;
    for (const QString& r : site.requests()) {
        QVERIFY2(r.endsWith(" Brevicast/1.0 | text/html, */*"), qPrintable(r));
        paths << r.section(' ', 1, 1);
    }
    QCOMPARE(paths, fetched);
    // The scratch file holds the last text that arrived.
    if (!version.isNull() && fetched.last() == "/APP_VERSION.TXT")
        QCOMPARE(readFile(f.home.file("Brevicast.tmp")), version);
}

void TestUpdateCheck::download_data()
{
    QTest::addColumn<QString>("installer");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<int>("cutAt");             // -1: whole
    QTest::addColumn<QByteArray>("existing");   // null: no file at the target
    QTest::addColumn<QString>("subfolder");     // of the target folder, not made
    QTest::addColumn<QList<Answer>>("answers"); // after "Yes" to the offer
    QTest::addColumn<bool>("cancel");           // "Cancel" while the transfer runs
    QTest::addColumn<bool>("refuse");           // the installer cannot start
    QTest::addColumn<QStringList>("said");      // after the offer; "%1" the target
    QTest::addColumn<bool>("kept");             // the new installer is at the target
    QTest::addColumn<QString>("started");       // tried: "program", "url" or ""

    const QString target = "%1";
    const QString cancelled = downloadCancelledText();
    const QString site = "site";
    using A = QList<Answer>;
    QTest::newRow("saved") << "Brevicast-1.5.run" << false << -1 << QByteArray() << ""
                           << A{Answer::No} << false << false
                           << QStringList{installQuestion(), updateSavedText(target)} << true << "";
    QTest::newRow("installed") << "Brevicast-1.5.run" << false << -1 << QByteArray() << ""
                               << A{Answer::Yes} << false << false << QStringList{installQuestion()}
                               << true << "program";
    QTest::newRow("package") << "brevicast_1.5_amd64.deb" << false << -1 << QByteArray() << ""
                             << A{Answer::Yes} << false << false << QStringList{installQuestion()}
                             << true << "url";
    QTest::newRow("does not start")
        << "Brevicast-1.5.run" << false << -1 << QByteArray() << "" << A{Answer::Yes} << false
        << true << QStringList{installQuestion(), installerFailedText()} << true << "program";
    QTest::newRow("breaks off") << "Brevicast-1.5.run" << false << 70000 << QByteArray() << ""
                                << A{} << false << false << QStringList{site, cancelled} << false
                                << "";
    QTest::newRow("stalls") << "Brevicast-1.5.run" << true << -1 << QByteArray() << "" << A{}
                            << false << false << QStringList{site, cancelled} << false << "";
    QTest::newRow("exists, kept") << "Brevicast-1.5.run" << false << -1 << QByteArray("old") << ""
                                  << A{Answer::No} << false << false
                                  << QStringList{overwriteQuestion(target), cancelled} << false
                                  << "";
    QTest::newRow("exists, overwritten")
        << "Brevicast-1.5.run" << false << -1 << QByteArray("old") << ""
        << A{Answer::Yes, Answer::No} << false << false
        << QStringList{overwriteQuestion(target), installQuestion(), updateSavedText(target)}
        << true << "";
    QTest::newRow("cancelled") << "Brevicast-1.5.run" << true << -1 << QByteArray() << "" << A{}
                               << true << false << QStringList{cancelled} << false << "";
    QTest::newRow("folder missing")
        << "Brevicast-1.5.run" << false << -1 << QByteArray() << "gone" << A{} << false << false
        << QStringList{targetNotWrittenText(target, QString()) + "*", cancelled} << false << "";
}

void TestUpdateCheck::download()
{
    QFETCH(QString, installer);
    QFETCH(bool, stall);
    QFETCH(int, cutAt);
    QFETCH(QByteArray, existing);
    QFETCH(QString, subfolder);
    QFETCH(QList<Answer>, answers);
    QFETCH(bool, cancel);
    QFETCH(bool, refuse);
    QFETCH(QStringList, said);
    QFETCH(bool, kept);
    QFETCH(QString, started);

    const QByteArray bytes = randomBytes(300000);
    UpdateSitePeer peer;
    QVERIFY(peer.serve("APP_VERSION.TXT", "1.5"));
    QVERIFY(peer.serve("APP_NAME.TXT", installer.toUtf8()));
    QVERIFY(peer.serve(installer, bytes));
    UpdateSitePeer::Faults faults;
    if (stall)
        faults.stall << installer;
    if (cutAt >= 0)
        faults.cut << qMakePair(installer, cutAt);
    QVERIFY2(peer.start(faults), qPrintable(peer.error()));

    MainWindowFixture f;
    QVERIFY(f.start());
    f.dialogs.clear();
    f.shell.refuse = refuse;
    UpdateSite site = UpdateSite::at(peer.address());
    site.stallTimeoutMs = 1500;
    ShellCommands commands(*f.window, site);

    QTemporaryDir downloads;
    const QString folder = subfolder.isEmpty() ? downloads.path() : downloads.filePath(subfolder);
    const QString target = QDir::toNativeSeparators(folder + '/' + installer);
    if (!existing.isNull()) {
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write(existing) == existing.size());
    }
    f.dialogs.queueAnswer(Answer::Yes);
    for (Answer a : answers)
        f.dialogs.queueAnswer(a);
    f.dialogs.queuePath(target);
    int barMax = -1, barValue = -1;
    f.dialogs.queueModal([&](QDialog& d) {
        auto& window = dynamic_cast<TfrmDownloadProgress&>(d);
        window.show();
        f.clock.advance(TfrmDownloadProgress::kStartDelayMs);
        if (cancel) {
            if (!QTest::qWaitFor([&] { return window.lblStatus->text() == "Connected."; }, 10000))
                return -1;
            saveShot(window, "download-progress");
            QTest::mouseClick(window.Button1, Qt::LeftButton);
        }
        const bool closed = QTest::qWaitFor(
            [&] {
                f.clock.advance(TfrmDownloadProgress::kCloseDelayMs);
                return !window.isVisible();
            },
            20000);
        barMax = window.ProgressBar1->maximum();
        barValue = window.ProgressBar1->value();
        return closed ? window.result() : -1;
    });
    commands.Action8Execute();

    QStringList expected{newerVersionQuestion()};
    for (QString s : said)
        expected << (s == "site" ? siteDifficultiesText(site.address()) : s.replace("%1", target));
    QVERIFY2(matches(spoken(f.dialogs), expected), qPrintable(spoken(f.dialogs).join('\n')));
    QVERIFY(f.dialogs.allAnswersUsed());
    // The save dialog offers the site's name in the program folder.
    const auto save = std::find_if(f.dialogs.shown().begin(), f.dialogs.shown().end(),
                                   [](const auto& s) { return s.kind == "save"; });
    QVERIFY(save != f.dialogs.shown().end());
    QCOMPARE(save->request.fileName, installer);
    QCOMPARE(save->request.initialDir, f.home.path());
    QCOMPARE(save->request.filter, QString("All Files (*.*)|*.*"));

    // Only a whole installer is ever where it is started from.
    if (kept) {
        QCOMPARE(readFile(target), bytes);
        QCOMPARE(barMax, bytes.size());
        QCOMPARE(barValue, bytes.size());
        QVERIFY(peer.requests().contains("GET /" + installer + " Brevicast/1.0 | text/html, */*"));
    } else {
        QCOMPARE(filesIn(downloads.path()),
                 existing.isNull() ? QStringList() : QStringList{installer});
        if (!existing.isNull())
            QCOMPARE(readFile(target), existing);
    }
    QCOMPARE(f.shell.programs, started == "program" ? QStringList{target} : QStringList());
    QCOMPARE(f.shell.urls,
             started == "url" ? QList<QUrl>{QUrl::fromLocalFile(target)} : QList<QUrl>());
    if (started == "program")
        QVERIFY(QFileInfo(target).isExecutable());
    // A started installer ends the program the way Exit does.
    QCOMPARE(f.window->isVisible(), started.isEmpty() || refuse);
    if (!f.window->isVisible())
        QVERIFY(QFileInfo::exists(f.home.file("BrevicastSettings.ini")));
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
