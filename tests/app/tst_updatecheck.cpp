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
#include <QCryptographicHash>
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

struct WindowEnd
{
    int barMax = -1;
    int barValue = -1;
};

// Plays the download window as the user sees it: shown, started, "Cancel"
// once connected when cancel; answers how it closed.
std::function<int(QDialog&)> downloadWindow(MainWindowFixture& f, bool cancel, WindowEnd& end)
{
    return [&f, cancel, &end](QDialog& d) {
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
        end.barMax = window.ProgressBar1->maximum();
        end.barValue = window.ProgressBar1->value();
        return closed ? window.result() : -1;
    };
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
    void secureAddress_data();
    void secureAddress();
    void plainHttpSite_isNotAsked();
    void downloadChecks_data();
    void downloadChecks();
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
    WindowEnd end;
    f.dialogs.queueModal(downloadWindow(f, cancel, end));
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
        QCOMPARE(end.barMax, bytes.size());
        QCOMPARE(end.barValue, bytes.size());
        // The site reports its requests as it gets to them.
        QVERIFY(peer.waitUntil([&] {
            return peer.requests().contains("GET /" + installer + " Brevicast/1.0 | text/html, */*");
        }));
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

void TestUpdateCheck::secureAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("secure");
    QTest::newRow("https") << "https://updates.example.org/a" << true;
    QTest::newRow("http from loopback") << "http://127.0.0.1:8080/" << true;
    QTest::newRow("http from all of loopback") << "http://127.8.9.10/" << true;
    QTest::newRow("http from localhost") << "http://LocalHost:99/x" << true;
    QTest::newRow("http from IPv6 loopback") << "http://[::1]:99/" << true;
    QTest::newRow("http elsewhere") << "http://updates.example.org/" << false;
    QTest::newRow("http, loopback in the name") << "http://127.0.0.1.example.org/" << false;
    QTest::newRow("other scheme") << "ftp://127.0.0.1/" << false;
    QTest::newRow("local file") << "file:///tmp/Setup.run" << false;
    QTest::newRow("no host") << "https:///x" << false;
}

void TestUpdateCheck::secureAddress()
{
    QFETCH(QString, address);
    QFETCH(bool, secure);
    QCOMPARE(isSecureAddress(QUrl(address)), secure);
}

// Nothing is asked of a site whose answers anybody on the way could change.
void TestUpdateCheck::plainHttpSite_isNotAsked()
{
    MainWindowFixture f;
    f.create();
    UpdateSite site = UpdateSite::at("http://updates.test/");
    site.fetchTimeoutMs = 3000;
    ShellCommands commands(*f.window, site);
    commands.Action8Execute();
    QCOMPARE(spoken(f.dialogs), QStringList{insecureAddressText("http://updates.test/")});
}

void TestUpdateCheck::downloadChecks_data()
{
    QTest::addColumn<QByteArray>("sum"); // of "<installer>.sha256"; null: none, "good": the right one
    QTest::addColumn<QString>("fault"); // "unsized", "redirect" or ""
    QTest::addColumn<int>("maxBytes");  // the ceiling; -1: the program's own
    QTest::addColumn<QString>("said");  // after the offer and before "Download Cancelled."
    QTest::addColumn<bool>("kept");

    QTest::newRow("sum matches") << QByteArray("good") << "" << -1 << "" << true;
    QTest::newRow("sum of another file")
        << QByteArray(64, 'a') + "  Brevicast-1.5.run\n" << "" << -1 << "mismatch" << false;
    QTest::newRow("sum file without a sum")
        << QByteArray("coming soon\n") << "" << -1 << "unreadable" << false;
    QTest::newRow("announced beyond the ceiling")
        << QByteArray() << "" << 100000 << "too large" << false;
    QTest::newRow("unannounced beyond the ceiling")
        << QByteArray() << "unsized" << 100000 << "too large" << false;
    QTest::newRow("unannounced within the ceiling")
        << QByteArray() << "unsized" << -1 << "" << true;
    QTest::newRow("redirected to plain http elsewhere")
        << QByteArray() << "redirect" << -1 << "insecure" << false;
}

// The installer is kept only whole, within the ceiling, from secure
// addresses and matching the sum the site publishes beside it.
void TestUpdateCheck::downloadChecks()
{
    QFETCH(QByteArray, sum);
    QFETCH(QString, fault);
    QFETCH(int, maxBytes);
    QFETCH(QString, said);
    QFETCH(bool, kept);

    const QString installer = "Brevicast-1.5.run";
    const QByteArray bytes = randomBytes(300000);
    UpdateSitePeer peer;
    QVERIFY(peer.serve("APP_VERSION.TXT", "1.5") && peer.serve("APP_NAME.TXT", installer.toUtf8()));
    QVERIFY(peer.serve(installer, bytes));
    if (sum == "good")
        sum = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + "  " +
              installer.toUtf8() + "\n";
    if (!sum.isNull())
        QVERIFY(peer.serve(installer + ".sha256", sum));
    UpdateSitePeer::Faults faults;
    if (fault == "unsized")
        faults.unsized << installer;
    if (fault == "redirect")
        faults.redirect << qMakePair(installer, "http://updates.test/" + installer);
    QVERIFY2(peer.start(faults), qPrintable(peer.error()));

    MainWindowFixture f;
    QVERIFY(f.start());
    f.dialogs.clear();
    UpdateSite site = UpdateSite::at(peer.address());
    if (maxBytes >= 0)
        site.maxInstallerBytes = maxBytes;
    ShellCommands commands(*f.window, site);
    QTemporaryDir downloads;
    const QString target = QDir::toNativeSeparators(downloads.filePath(installer));
    f.dialogs.queueAnswer(Answer::Yes);
    f.dialogs.queueAnswer(Answer::No); // not installed now
    f.dialogs.queuePath(target);
    WindowEnd end;
    f.dialogs.queueModal(downloadWindow(f, false, end));
    commands.Action8Execute();

    const QMap<QString, QString> texts{
        {"mismatch", sumMismatchText(target)},
        {"unreadable", sumUnreadableText(QUrl(peer.address() + installer + ".sha256"))},
        {"too large", tooLargeText(maxBytes)},
        {"insecure", insecureAddressText("http://updates.test/" + installer)}};
    const QStringList expected =
        said.isEmpty() ? QStringList{newerVersionQuestion(), installQuestion(), updateSavedText(target)}
                       : QStringList{newerVersionQuestion(), texts.value(said), downloadCancelledText()};
    QCOMPARE(spoken(f.dialogs), expected);
    QCOMPARE(filesIn(downloads.path()), kept ? QStringList{installer} : QStringList());
    if (kept)
        QCOMPARE(readFile(target), bytes);
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
