#include "AppTestFiles.h"
#include "MainWindowFixture.h"
#include "UpdateSitePeer.h"

#include "app/OpenFolder.h"
#include "app/ShellCommands.h"
#include "app/viewCurrent.h"
#include "app/WebBrowserWithUI.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

using namespace bv;
using namespace bv::app;
using namespace bv::test;

namespace {

const QString kCrLf = "\r\n";

// The summary of sender "Ann Lee", subject "News", plain "Dear {{-firstname-}},\nSee you."
// and HTML "<p>Hello {{-lastname-}}</p>", printed on 12/08/2026.
const QString kWholePage = "<html><body style=\"font-family: verdana; font-size:12px;\"><table "
                           "width=\"100%\" bgcolor=\"#c0c0c0\"><tr><td>\r\n"
                           "<hr>\r\n"
                           "<b>Date: 12/08/2026\r\n"
                           "<br>From: Ann Lee &lt;ann@example.com&gt;\r\n"
                           "<br>Subject: News\r\n"
                           "</b><br><hr>\r\n"
                           "</td></tr></table><br>\r\n"
                           "<table width=\"100%\"  bgcolor=\"#dddddd\"><tr><td>\r\n"
                           "<hr>\r\n"
                           "<b>Plain Text Section</b>\r\n"
                           "<hr>\r\n"
                           "</td></tr></table>\r\n"
                           "Dear Tobias,<br>\r\n"
                           "See you.<br>\r\n"
                           "<hr><br>\r\n"
                           "<table width=\"100%\"  bgcolor=\"#dddddd\"><tr><td>\r\n"
                           "<hr>\r\n"
                           "<b>HTML Section</b>\r\n"
                           "<hr>\r\n"
                           "</td></tr></table>\r\n"
                           "<p>Hello Wrenfield</p>\r\n";

void saveShot(QWidget& widget, const QString& name)
{
    const QString folder = qEnvironmentVariable("BREVICAST_SHOTS");
    if (!folder.isEmpty())
        widget.grab().save(folder + '/' + name + ".png");
}

// The message of the main window: one sender account, chosen.
bool setMessage(MainWindowFixture& f, const QByteArray& account, const QString& subject,
                const QString& plain, const QString& html)
{
    if (!writeFile(f.home.file("Accounts.txt"), account + "\r\nann@example.com\r\n"))
        return false;
    TfrmBrevicastMain& w = *f.window;
    w.loadSenderNames();
    w.cbFromEmail->setCurrentIndex(0);
    w.cbEmailSubject->setEditText(subject);
    w.memTextMessage->setPlainText(plain);
    w.memHTMLSource->setPlainText(html);
    return w.cbFromEmail->currentText() == QString::fromUtf8(account);
}

QString pdfText(const QString& path)
{
    QProcess p;
    p.start("pdftotext", {"-layout", path, "-"});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return "pdftotext failed: " + p.errorString() + QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The height in points of the first word that reads word, as pdftotext
// places it; -1 when it is not there.
double wordHeight(const QString& path, const QString& word)
{
    QProcess p;
    p.start("pdftotext", {"-bbox", path, "-"});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return -1;
    const QRegularExpression box(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    for (const auto& m : box.globalMatch(QString::fromUtf8(p.readAllStandardOutput())))
        if (m.captured(5) == word)
            return m.captured(4).toDouble() - m.captured(2).toDouble();
    return -1;
}

} // namespace

class TestPrintMessage : public QObject
{
    Q_OBJECT

private slots:
    void page_data();
    void page();
    void print_data();
    void print();
    void previewPages_data();
    void previewPages();
    void webSettings_data();
    void webSettings();
    void checkWeb_unfoldsAndFolds();
    void folderChooser_data();
    void folderChooser();
};

void TestPrintMessage::page_data()
{
    QTest::addColumn<QByteArray>("account");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QStringList>(
        "lines"); // present in this order; the whole page when it starts with "<html>"

    QTest::newRow("whole page") << QByteArray("Ann Lee") << "News"
                                << "Dear {{-firstname-}},\nSee you."
                                << "<p>Hello {{-lastname-}}</p>" << kWholePage.split(kCrLf);
    QTest::newRow("markup in the plain body acts")
        << QByteArray("Ann") << "S"
        << "<b>bold</b> & <i>more"
        << "" << QStringList{"</td></tr></table>", "<b>bold</b> & <i>more<br>", "<hr><br>"};
    QTest::newRow("no plain body")
        << QByteArray("Ann") << "S"
        << ""
        << "<p>x</p>"
        << QStringList{"<b>Plain Text Section</b>", "<hr>", "</td></tr></table>", "<hr><br>"};
    QTest::newRow("merge tokens in every part")
        << QByteArray("Ann") << "For {{-salutation-}} {{-lastname-}}"
        << "{{-firstname-}}"
        << "<b>{{-firstname-}}</b>"
        << QStringList{"<br>Subject: For Mr. Wrenfield", "Tobias<br>", "<b>Tobias</b>"};
    QTest::newRow("image of the HTML body")
        << QByteArray("Ann") << "S"
        << ""
        << "<p>{{-img:/tmp/logo.png-}}</p>"
        << QStringList{"<b>HTML Section</b>", "<p><IMG SRC=\"file:///tmp/logo.png\"></p>"};
    QTest::newRow("only the first brackets are written out")
        << QByteArray("A>B") << "S"
        << ""
        << "" << QStringList{"<br>From: A&gt;B &lt;ann@example.com>"};
    QTest::newRow("text beyond ASCII") << QByteArray("Zoë") << "Grüße ✓"
                                       << "Ça va?"
                                       << ""
                                       << QStringList{"<br>From: Zoë &lt;ann@example.com&gt;",
                                                      "<br>Subject: Grüße ✓", "Ça va?<br>"};
}

void TestPrintMessage::page()
{
    QFETCH(QByteArray, account);
    QFETCH(QString, subject);
    QFETCH(QString, plain);
    QFETCH(QString, html);
    QFETCH(QStringList, lines);

    MainWindowFixture f;
    f.create();
    QVERIFY(setMessage(f, account, subject, plain, html));
    QString shown;
    f.dialogs.queueModal([&](QDialog& d) {
        auto& viewer = dynamic_cast<TfrmViewCurrent&>(d);
        viewer.show();
        shown = viewer.WebBrowserWithUI1->toPlainText();
        if (QTest::currentDataTag() == QLatin1String("whole page"))
            saveShot(viewer, "print-current-message");
        viewer.btnClose->click();
        return viewer.result();
    });
    f.window->Action26->trigger();

    QCOMPARE(f.dialogs.texts("modal"), QStringList{"Print Curent Message"});
    QCOMPARE(f.window->shellCommands().viewCurrent()->fileAddress(), f.home.file("__TM1__.htm"));
    const QString page = QString::fromUtf8(contents(f.home.file("__TM1__.htm")));
    if (lines.first().startsWith("<html>")) {
        QCOMPARE(page, lines.join(kCrLf));
        QVERIFY2(shown.contains("Plain Text Section") && shown.contains("Hello Wrenfield"),
                 qPrintable(shown));
        return;
    }
    const QStringList pageLines = page.split(kCrLf);
    qsizetype at = 0;
    for (const QString& line : lines) {
        at = pageLines.indexOf(line, at);
        QVERIFY2(at >= 0, qPrintable("missing in order: " + line + "\n" + page));
    }
}

void TestPrintMessage::print_data()
{
    QTest::addColumn<QString>("pdf"); // "" : the print dialog is cancelled
    QTest::addColumn<bool>("written");
    QTest::addColumn<QString>("error");
    QTest::newRow("to a PDF file") << "message.pdf" << true << "";
    QTest::newRow("cancelled") << "" << false << "";
    QTest::newRow("folder missing")
        << "gone/message.pdf" << false << "The message could not be printed to %1: ";
}

void TestPrintMessage::print()
{
    QFETCH(QString, pdf);
    QFETCH(bool, written);
    QFETCH(QString, error);

    MainWindowFixture f;
    f.create();
    QVERIFY(setMessage(f, "Ann Lee", "Autumn News",
                       "Dear {{-firstname-}},\nthe fair opens on Friday.",
                       "<h1>Fair</h1><p>Hello {{-lastname-}}, bring a friend.</p>"));
    QTemporaryDir out;
    const QString path = pdf.isEmpty() ? QString() : out.filePath(pdf);
    if (!pdf.isEmpty())
        f.dialogs.queuePrintToPdf(path);
    f.dialogs.queueModal([&](QDialog& d) {
        auto& viewer = dynamic_cast<TfrmViewCurrent&>(d);
        viewer.show();
        QTest::mouseClick(viewer.btnPrint, Qt::LeftButton);
        viewer.btnClose->click();
        return viewer.result();
    });
    f.window->Action26->trigger();

    QCOMPARE(f.dialogs.texts("print"), QStringList{"Print Curent Message"});
    QVERIFY(f.dialogs.allAnswersUsed());
    QCOMPARE(QFileInfo::exists(out.filePath("message.pdf")), written);
    if (!error.isEmpty()) {
        const QStringList errors = f.dialogs.texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(error.arg(QDir::toNativeSeparators(path))),
                 qPrintable(errors.first()));
    } else {
        QCOMPARE(f.dialogs.texts("error"), QStringList());
    }
    if (!written)
        return;
    const QString text = pdfText(path).simplified();
    for (const char* expected :
         {"Date: 12/08/2026", "From: Ann Lee <ann@example.com>", "Subject: Autumn News",
          "Plain Text Section", "Dear Tobias,", "the fair opens on Friday.", "HTML Section",
          // pdftotext keeps the "fi" ligature of "Wrenfield".
          "Fair", "Hello Wren", "ld, bring a friend."})
        QVERIFY2(text.contains(QLatin1String(expected)),
                 qPrintable(QString(expected) + " not in: " + text));
    // The page's sizes in pixels are the screen's: 12 pixels print as 9
    // points, not as 12 dots of a 1200-dot printer.
    const double height = wordHeight(path, "Subject:");
    QVERIFY2(height > 7 && height < 16, qPrintable(QString::number(height)));
}

void TestPrintMessage::previewPages_data()
{
    QTest::addColumn<int>("taken");    // the first pages that cannot be written
    QTest::addColumn<QString>("page"); // "" : none, the error display shows why
    QTest::newRow("first free") << 0 << "__TM1__.htm";
    QTest::newRow("three taken") << 3 << "__TM4__.htm";
    QTest::newRow("last one left") << 8 << "__TM9__.htm";
    QTest::newRow("all taken") << 9 << "";
}

void TestPrintMessage::previewPages()
{
    QFETCH(int, taken);
    QFETCH(QString, page);

    MainWindowFixture f;
    f.create();
    QVERIFY(setMessage(f, "Ann", "S", "x", "<p>y</p>"));
    // A folder in the way of a page makes it unwritable, even for root.
    for (int n = 1; n <= taken; ++n)
        QVERIFY(QDir(f.home.path()).mkdir(QString("__TM%1__.htm").arg(n)));
    f.dialogs.queueModal([](QDialog& d) { return d.result(); });
    f.dialogs.clear();
    f.window->Action26->trigger();

    if (page.isEmpty()) {
        QCOMPARE(f.dialogs.texts("modal"), QStringList());
        const QStringList errors = f.dialogs.texts("error");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(
                     QString("Cannot create file \"%1\". ")
                         .arg(QDir::toNativeSeparators(f.home.file("__TM9__.htm")))),
                 qPrintable(errors.first()));
        return;
    }
    QCOMPARE(f.dialogs.texts("error"), QStringList());
    QCOMPARE(f.window->shellCommands().viewCurrent()->fileAddress(), f.home.file(page));
    QVERIFY(contents(f.home.file(page)).contains("<b>Plain Text Section</b>"));
}

void TestPrintMessage::webSettings_data()
{
    QTest::addColumn<bool>("scrollBars");
    QTest::addColumn<bool>("flat");
    QTest::addColumn<bool>("border");
    QTest::addColumn<bool>("contextMenu");
    QTest::newRow("defaults") << true << false << true << true;
    QTest::newRow("no scroll bars") << false << false << true << true;
    QTest::newRow("flat scroll bars") << true << true << true << true;
    QTest::newRow("no border") << true << false << false << true;
    QTest::newRow("no context menu") << true << false << true << false;
}

void TestPrintMessage::webSettings()
{
    QFETCH(bool, scrollBars);
    QFETCH(bool, flat);
    QFETCH(bool, border);
    QFETCH(bool, contextMenu);

    TWebBrowserWithUI view;
    TWebBrowserWithUI::TUISettings settings;
    QVERIFY(settings.EnableScrollBars && !settings.EnableFlatScrollBars &&
            settings.Enable3DBorder && settings.EnableContextMenu);
    settings.EnableScrollBars = scrollBars;
    settings.EnableFlatScrollBars = flat;
    settings.Enable3DBorder = border;
    settings.EnableContextMenu = contextMenu;
    view.setUISettings(settings);
    view.setPlainText(QString("line\n").repeated(200));
    view.resize(200, 120);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const auto policy = scrollBars ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
    QCOMPARE(view.verticalScrollBarPolicy(), policy);
    QCOMPARE(view.horizontalScrollBarPolicy(), policy);
    QCOMPARE(view.verticalScrollBar()->isVisible(), scrollBars);
    QCOMPARE(view.frameShape(), border ? QFrame::StyledPanel : QFrame::NoFrame);
    if (border)
        QCOMPARE(view.frameShadow(), flat ? QFrame::Plain : QFrame::Sunken);
    QCOMPARE(view.verticalScrollBar()->styleSheet().isEmpty(), !flat);

    // Right-click: the standard menu, or nothing at all.
    QString popped;
    QTimer::singleShot(200, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popped = popup->metaObject()->className();
            popup->close();
        }
    });
    const QPoint at(20, 20);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
    QApplication::sendEvent(view.viewport(), &event);
    QTest::qWait(300);
    QCOMPARE(popped, contextMenu ? QString("QMenu") : QString());
}

void TestPrintMessage::checkWeb_unfoldsAndFolds()
{
    UpdateSitePeer site;
    QVERIFY(
        site.serve("news.html",
                   "<html><body><h1>Brevicast News</h1><p>Version 1.5 is out.</p></body></html>"));
    QVERIFY2(site.start(), qPrintable(site.error()));
    MainWindowFixture f;
    qputenv("BREVICAST_UPDATE_SITE", site.address().toUtf8());
    f.create();
    qunsetenv("BREVICAST_UPDATE_SITE");
    QVERIFY(f.start());
    TfrmBrevicastMain& w = *f.window;
    QCOMPARE(w.panWeb->height(), 1);
    QVERIFY(!w.WebBrowser1->UISettings().EnableScrollBars);
    const int setupFolded = w.Panel2->height();

    struct Expected
    {
        int height;
        QString caption;
        bool checkBoxShown;
    };
    for (const Expected& e :
         {Expected{394, "Collapse Web", false}, Expected{1, "&Check Web", true}}) {
        f.clock.clearWaits();
        w.CheckWeb->trigger();
        QCOMPARE(w.panWeb->height(), e.height);
        QCOMPARE(w.CheckWeb->text(), e.caption);
        QCOMPARE(w.cbxErrorsByEmail->isVisibleTo(&w), e.checkBoxShown);
        // About 49 steps of 30 ms each way.
        QCOMPARE(f.clock.waits().size(), 49);
        QCOMPARE(f.clock.totalWaitedMs(), 49 * 30);
        // The panel lies over the lower part of the set-up area.
        QCOMPARE(w.panWeb->geometry().bottom(), w.Panel2->rect().bottom());
        QCOMPARE(w.panWeb->width(), w.Panel2->width());
        if (e.height == 394) {
            QCOMPARE(w.Panel2->height(), 424);
            QTRY_VERIFY(w.WebBrowser1->toPlainText().contains("Version 1.5 is out."));
            saveShot(w, "main-window-web-open");
        } else {
            QCOMPARE(w.Panel2->height(), setupFolded);
        }
        QCOMPARE(w.WebBrowser1->location(), QUrl(site.address() + "news.html"));
    }
    QVERIFY(site.requests().contains("GET /news.html Brevicast/1.0 | text/html, */*"));
}

void TestPrintMessage::folderChooser_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
}

void TestPrintMessage::folderChooser()
{
    QFETCH(bool, ok);
    QTemporaryDir root;
    QVERIFY(QDir(root.path()).mkpath("Mail/Spool"));
    const QString chosen = root.filePath("Mail/Spool");

    TdlgOpenFolder dialog;
    QCOMPARE(dialog.windowTitle(), QString("Open Folder"));
    QCOMPARE(dialog.btnOK->text(), QString("OK"));
    QCOMPARE(dialog.btnCancel->text(), QString("Cancel"));
    dialog.show();
    // The tree reads the folders in the background.
    QTRY_VERIFY((dialog.setFolder(chosen), dialog.tvFolders->currentIndex().isValid()));
    if (ok)
        saveShot(dialog, "open-folder");
    QTest::mouseClick(ok ? dialog.btnOK : dialog.btnCancel, Qt::LeftButton);
    QCOMPARE(dialog.folder(), ok ? QDir::toNativeSeparators(chosen) : QString());
}

QTEST_MAIN(TestPrintMessage)
#include "tst_printmessage.moc"
