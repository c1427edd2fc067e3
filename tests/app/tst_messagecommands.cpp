// The main window's message commands, driven through its real actions and
// buttons: the Insert menu, the HTML preview pages, message and body files,
// and the preview file read back by two independent parsers.
#include "AppTestFiles.h"
#include "MainWindowFixture.h"
#include "ParsedMessage.h"

#include "app/BrevicastMainUi.h"
#include "app/MessageCommands.h"
#include "app/WebBrowserWithUI.h"
#include "compose/ComposeMessage.h"
#include "compose/MergeFields.h"
#include "send/SmtpClient.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolButton>

using namespace bv;
using namespace bv::app;
using bv::test::contents;
using bv::test::writeFile;

namespace {

const QString kTextFilter = "Text Files (*.TXT)|*.TXT|Any File (*.*)|*.*";

// Puts the caret in an editor, on its own tab, as a user's click would.
bool focusEditor(TfrmBrevicastMain& w, QPlainTextEdit* editor)
{
    w.TABSMessage->setCurrentWidget(editor == w.memHTMLSource ? w.tabHTMLSource : w.tabPlainText);
    editor->setFocus(Qt::MouseFocusReason);
    return QTest::qWaitFor([&] { return w.focusWidget() == editor; });
}

bool focusSubject(TfrmBrevicastMain& w)
{
    w.cbEmailSubject->setFocus(Qt::TabFocusReason);
    return QTest::qWaitFor([&] { return w.cbEmailSubject->hasFocus(); });
}

// One sender account, offered in the From picker but not chosen.
bool offerSender(test::MainWindowFixture& f, const QByteArray& name)
{
    if (!writeFile(f.home.file("Accounts.txt"), name + "\r\nann@example.com\r\n"))
        return false;
    f.window->loadSenderNames();
    return f.window->cbFromEmail->count() == 1;
}

// The page's text; the line break after the last line shows as a blank.
QString shownPage(const TfrmBrevicastMain& w)
{
    return w.wbHTMLMessage->toPlainText().trimmed();
}

} // namespace

class TestMessageCommands : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void insert_replacesSelectionAndLeavesClipboard_data();
    void insert_replacesSelectionAndLeavesClipboard();
    void insert_shortcutsReachTheFocusedEditor();
    void insert_outsideTheEditors_isRefused();
    void insertImage_asksForFileInHtmlOnly();

    void preview_refreshedOnLeavingEditorAndChangingTab();
    void preview_showsOnlyTheMessagesOwnImages_data();
    void preview_showsOnlyTheMessagesOwnImages();
    void preview_linksOpenOutsideOnlyAsWebPagesOrMail_data();
    void preview_linksOpenOutsideOnlyAsWebPagesOrMail();
    void preview_unusablePagesFallToTheNextName();
    void preview_ninthFailure_reportedAndKeepsPage();

    void messageFile_secondSaveDoesNotAsk();
    void messageFile_openReplacesWindowAndSaveStillAsks();
    void messageFile_reopenedAtRestart();
    void messageFile_unreadable_changesNothing_data();
    void messageFile_unreadable_changesNothing();
    void messageFile_unwritable_reported();
    void failedSave_isNotRemembered_data();
    void failedSave_isNotRemembered();
    void bodies_keepEveryCharacterAsTyped();

    void bodyFiles_loadWithTheirLineEnds();
    void bodyFiles_saveAsksOnceExceptSaveAs_data();
    void bodyFiles_saveAsksOnceExceptSaveAs();
    void bodyFiles_unreadable_keepEditor();
    void bodyFiles_unwritable_reported();

    void previewFile_needsSenderAndSubject();
    void previewFile_readByBothParsers();
    void previewFile_missingImage_keepsEarlierFile();

private:
    std::unique_ptr<test::MainWindowFixture> f;
};

void TestMessageCommands::init()
{
    f = std::make_unique<test::MainWindowFixture>();
    QVERIFY(f->start());
}

void TestMessageCommands::cleanup()
{
    f.reset();
}

void TestMessageCommands::insert_replacesSelectionAndLeavesClipboard_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("inserted");
    QTest::newRow("first name, plain") << "FirstName" << false << "{{-firstname-}}";
    QTest::newRow("last name, HTML") << "LastName" << true << "{{-lastname-}}";
    QTest::newRow("salutation, plain") << "Salutation" << false << "{{-salutation-}}";
    QTest::newRow("expletive, HTML") << "Expletive" << true << "";
}

void TestMessageCommands::insert_replacesSelectionAndLeavesClipboard()
{
    QFETCH(QString, action);
    QFETCH(bool, html);
    QFETCH(QString, inserted);
    auto& w = *f->window;
    QPlainTextEdit* editor = html ? w.memHTMLSource : w.memTextMessage;
    QVERIFY(focusEditor(w, editor));
    editor->setPlainText("Hello world!");
    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(6);
    cursor.setPosition(11, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
    QGuiApplication::clipboard()->setText("before");

    auto* a = w.findChild<QAction*>(action);
    QVERIFY(a && a->isEnabled());
    a->trigger();

    const QString text = editor->toPlainText();
    QVERIFY2(text.startsWith("Hello ") && text.endsWith("!"), qPrintable(text));
    const QString put = text.mid(6, text.size() - 7);
    if (inserted.isEmpty()) {
        QVERIFY(put.startsWith(' '));
        QVERIFY2(compose::expletiveWords().contains(put.mid(1)), qPrintable(put));
    } else {
        QCOMPARE(put, inserted);
    }
    QCOMPARE(QGuiApplication::clipboard()->text(), put);
    QCOMPARE(editor->textCursor().position(), 6 + put.size());
    QCOMPARE(f->dialogs.shown().size(), 0);
}

void TestMessageCommands::insert_shortcutsReachTheFocusedEditor()
{
    auto& w = *f->window;
    QVERIFY(focusEditor(w, w.memTextMessage));
    QTest::keyClick(w.memTextMessage, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(w.memTextMessage, Qt::Key_L, Qt::ControlModifier);
    // Image belongs to the HTML body: its shortcut does nothing in the plain text.
    QTest::keyClick(w.memTextMessage, Qt::Key_I, Qt::ControlModifier);
    QCOMPARE(w.memTextMessage->toPlainText(), QString("{{-firstname-}}{{-lastname-}}"));
    QVERIFY(f->dialogs.shown().isEmpty());

    QVERIFY(focusEditor(w, w.memHTMLSource));
    w.memHTMLSource->clear();
    QTest::keyClick(w.memHTMLSource, Qt::Key_X, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(compose::expletiveWords().contains(w.memHTMLSource->toPlainText().mid(1)));
}

void TestMessageCommands::insert_outsideTheEditors_isRefused()
{
    auto& w = *f->window;
    w.memTextMessage->setPlainText("keep");
    QVERIFY(focusSubject(w));
    QVERIFY(!w.FirstName->isEnabled());
    // Reached past the enabled state, as a shortcut could be.
    w.messageCommands().InsertSpecial(w.FirstName);
    QCOMPARE(f->dialogs.texts("message"), QStringList{MessageCommands::insertOnlyInEditorsText()});
    QCOMPARE(
        MessageCommands::insertOnlyInEditorsText(),
        QString("Insert commands are only allowed when editing the HTML or Plain Text messages."));
    QCOMPARE(w.memTextMessage->toPlainText(), QString("keep"));
    QCOMPARE(w.cbEmailSubject->currentText(), QString());
}

void TestMessageCommands::insertImage_asksForFileInHtmlOnly()
{
    auto& w = *f->window;
    QVERIFY(focusEditor(w, w.memHTMLSource));
    w.memHTMLSource->setPlainText("<p></p>");
    QTextCursor cursor = w.memHTMLSource->textCursor();
    cursor.setPosition(3);
    w.memHTMLSource->setTextCursor(cursor);
    const QString path = f->home.file("my pics/logo.gif");
    f->dialogs.queuePath(path);
    QVERIFY(w.Image->isEnabled());
    w.Image->trigger();

    const auto& open = f->dialogs.shown().last();
    QCOMPARE(open.kind, QString("open"));
    QCOMPARE(open.request.title, QString("Open Image"));
    QCOMPARE(open.request.filter,
             QString("Image Files (*.JPG, *.GIF, *.BMP)|*.JPG;*.GIF;*.BMP|Any File (*.*)|*.*"));
    QCOMPARE(open.request.initialDir, f->home.path());
    QCOMPARE(w.memHTMLSource->toPlainText(), "<p>{{-img:" + path + "-}}</p>");
    QCOMPARE(w.opnImage.fileName, path);
    QCOMPARE(QGuiApplication::clipboard()->text(), "{{-img:" + path + "-}}");

    // Cancelled: nothing is inserted and the clipboard keeps what it had.
    QGuiApplication::clipboard()->setText("kept");
    w.Image->trigger();
    QCOMPARE(f->dialogs.texts("open").size(), 2);
    QCOMPARE(w.memHTMLSource->toPlainText(), "<p>{{-img:" + path + "-}}</p>");
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("kept"));
}

void TestMessageCommands::preview_refreshedOnLeavingEditorAndChangingTab()
{
    auto& w = *f->window;
    const QString page = f->home.file("__TM1__.htm");
    QVERIFY(focusEditor(w, w.memHTMLSource));
    w.memHTMLSource->setPlainText(
        "<p>{{-salutation-}} {{-firstname-}} {{-lastname-}}</p>\n<p>{{-firstname-}}</p>");
    QVERIFY(focusSubject(w));
    QCOMPARE(contents(page),
             QByteArray("<p>Mr. Tobias Wrenfield</p>\r\n<p>{{-firstname-}}</p>\r\n"));
    QCOMPARE(w.wbHTMLMessage->source(), QUrl::fromLocalFile(page));
    QVERIFY2(shownPage(w).startsWith("Mr. Tobias Wrenfield"), qPrintable(shownPage(w)));
    // The refresh ends by applying the focus rule again.
    QVERIFY(!w.FirstName->isEnabled());

    // Changed without the editor ever having the focus: the tab change alone
    // must show the new text, although the page keeps its name.
    w.memHTMLSource->setPlainText(QString::fromUtf8("<p>Grüße, {{-firstname-}}</p>"));
    w.TABSMessage->setCurrentWidget(w.tabHTMLPreview);
    QCOMPARE(shownPage(w), QString::fromUtf8("Grüße, Tobias"));
    QCOMPARE(w.wbHTMLMessage->source(), QUrl::fromLocalFile(page));
    QVERIFY(f->dialogs.texts("error").isEmpty());
}

void TestMessageCommands::preview_showsOnlyTheMessagesOwnImages_data()
{
    QTest::addColumn<QString>("element"); // beside the message's own image
    QTest::addColumn<QString>("probe");   // the address it names; "~/": the program folder
    QTest::newRow("its own image") << "" << "";
    QTest::newRow("another file by its address") << "<img src=\"%1\">" << "~/other.png";
    QTest::newRow("another file beside the page") << "<img src=\"%1\">" << "other.png";
    QTest::newRow("an endless file") << "<img src=\"%1\">" << "file:///dev/zero";
    QTest::newRow("a style sheet") << "<link rel=\"stylesheet\" href=\"%1\">" << "~/other.css";
}

// The page loads the files the message's image tokens name and no other:
// its markup may name any file of this computer.
void TestMessageCommands::preview_showsOnlyTheMessagesOwnImages()
{
    QFETCH(QString, element);
    QFETCH(QString, probe);
    if (probe.startsWith("~/"))
        probe = QUrl::fromLocalFile(f->home.file(probe.mid(2))).toString();
    auto& w = *f->window;
    const QString image = f->home.file("pic one.png");
    QVERIFY(writeFile(image, test::pngBytes(16)));
    QVERIFY(writeFile(f->home.file("other.png"), test::pngBytes(8)));
    QVERIFY(writeFile(f->home.file("other.css"), "p { color: red }"));
    w.memHTMLSource->setPlainText("<p>{{-img:" + image + "-}}" + element.arg(probe) + "</p>");
    w.TABSMessage->setCurrentWidget(w.tabHTMLPreview);

    const QUrl address = QUrl::fromLocalFile(image);
    QVERIFY(contents(f->home.file("__TM1__.htm"))
                .startsWith("<p><IMG SRC=\"" + address.toEncoded() + "\">"));
    w.wbHTMLMessage->grab(); // lays the page out, which loads its images
    QTextDocument* page = w.wbHTMLMessage->document();
    QCOMPARE(page->resource(QTextDocument::ImageResource, address).value<QImage>().size(),
             QSize(16, 16));
    if (probe.isEmpty())
        return;
    for (int type : {QTextDocument::ImageResource, QTextDocument::StyleSheetResource}) {
        const QVariant other = page->resource(type, QUrl(probe));
        QVERIFY2(other.value<QImage>().isNull() && other.toByteArray().isEmpty(),
                 qPrintable(other.typeName()));
    }
}

void TestMessageCommands::preview_linksOpenOutsideOnlyAsWebPagesOrMail_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("opened");
    QTest::newRow("web page") << "https://example.org/a?b=c" << "https://example.org/a?b=c";
    QTest::newRow("plain web page") << "http://example.org/" << "http://example.org/";
    QTest::newRow("new mail") << "mailto:ann@example.org" << "mailto:ann@example.org";
    QTest::newRow("local file") << "file:///etc/passwd" << "";
    QTest::newRow("beside the page") << "Preview.eml" << "";
    QTest::newRow("script") << "javascript:alert(1)" << "";
    QTest::newRow("share") << "smb://server/share/setup.exe" << "";
    QTest::newRow("anchor of the page") << "#top" << "";
}

void TestMessageCommands::preview_linksOpenOutsideOnlyAsWebPagesOrMail()
{
    QFETCH(QString, link);
    QFETCH(QString, opened);
    auto& w = *f->window;
    w.memHTMLSource->setPlainText("<p><a name=\"top\" href=\"" + link + "\">here</a></p>");
    w.TABSMessage->setCurrentWidget(w.tabHTMLPreview);
    emit w.wbHTMLMessage->anchorClicked(QUrl(link));
    QCOMPARE(f->shell.urls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    QCOMPARE(w.wbHTMLMessage->source(), QUrl::fromLocalFile(f->home.file("__TM1__.htm")));
}

void TestMessageCommands::preview_unusablePagesFallToTheNextName()
{
    auto& w = *f->window;
    // A page that is a folder can be neither written nor shown.
    QVERIFY(QFile::remove(f->home.file("__TM1__.htm"))); // written at start
    QVERIFY(QDir().mkdir(f->home.file("__TM1__.htm")));
    QVERIFY(QDir().mkdir(f->home.file("__TM2__.htm")));
    w.memHTMLSource->setPlainText("<b>third</b>");
    QVERIFY(w.memHTMLSourceExit());
    QCOMPARE(contents(f->home.file("__TM3__.htm")), QByteArray("<b>third</b>\r\n"));
    QCOMPARE(w.wbHTMLMessage->source(), QUrl::fromLocalFile(f->home.file("__TM3__.htm")));
    QCOMPARE(shownPage(w), QString("third"));
    QVERIFY(f->dialogs.texts("error").isEmpty());
}

void TestMessageCommands::preview_ninthFailure_reportedAndKeepsPage()
{
    auto& w = *f->window;
    w.memHTMLSource->setPlainText("<p>first</p>");
    QVERIFY(w.memHTMLSourceExit());
    QVERIFY(QFile::remove(f->home.file("__TM1__.htm")));
    for (int n = 1; n <= MessageCommands::kPreviewPages; ++n)
        QVERIFY(QDir().mkdir(f->home.file(MessageCommands::previewPageName(n))));
    QCOMPARE(MessageCommands::previewPageName(9), QString("__TM9__.htm"));

    w.memHTMLSource->setPlainText("<p>second</p>");
    QVERIFY(!w.memHTMLSourceExit());
    const QStringList errors = f->dialogs.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains("__TM9__.htm"), qPrintable(errors.first()));
    QCOMPARE(shownPage(w), QString("first"));
    QCOMPARE(w.memHTMLSource->toPlainText(), QString("<p>second</p>"));
}

void TestMessageCommands::messageFile_secondSaveDoesNotAsk()
{
    auto& w = *f->window;
    const QString path = f->home.file("offer.BVC");
    w.memTextMessage->setPlainText("first version");
    f->dialogs.queuePath(path);
    w.SaveMsg->trigger();
    QCOMPARE(f->dialogs.texts("save").size(), 1);
    const FileRequest asked = f->dialogs.shown().last().request;
    QCOMPARE(asked.title, QString());
    QCOMPARE(asked.filter, QString("Brevicast (*.bvc)|*.BVC|All Files (*.*)|*.*"));
    QCOMPARE(asked.defaultExt, QString("BVC"));
    QCOMPARE(asked.initialDir, f->home.path());
    QVERIFY(contents(path).contains(
        "\r\n[memTextMessage_TEXTSection]\r\nfirst version\r\nmemTextMessage_Dummy=-1\r\n"));

    w.memTextMessage->setPlainText("second version");
    w.Action22->trigger(); // "Save Message As..." behaves as Save Message
    QCOMPARE(f->dialogs.texts("save").size(), 1);
    QVERIFY(contents(path).contains("\r\nsecond version\r\n"));
    QVERIFY(f->dialogs.texts("error").isEmpty());
}

void TestMessageCommands::messageFile_openReplacesWindowAndSaveStillAsks()
{
    auto& w = *f->window;
    const QString path = f->home.file("spring.bvc");
    w.txtSMTPServer->setText("smtp.example.org:587");
    w.txtPassword->setText("s3cret=");
    w.memTextMessage->setPlainText("Dear {{-firstname-}},\n[Defaults]\ntxtPassword=fake");
    w.memHTMLSource->setPlainText("<p>Spring {{-lastname-}}</p>");
    w.cbEmailSubject->setEditText("Spring");
    QVERIFY(w.saveWindowState(path, true));
    // A file users copy and share: the password stays behind.
    QVERIFY(!contents(path).contains("s3cret"));

    w.txtSMTPServer->setText("other");
    w.txtPassword->setText("other");
    w.memTextMessage->setPlainText("unsaved");
    w.memHTMLSource->setPlainText("<p>unsaved</p>");
    w.cbEmailSubject->setEditText("Other");
    f->dialogs.queuePath(path);
    w.OpenMsg->trigger();
    const FileRequest asked = f->dialogs.shown().last().request;
    QCOMPARE(asked.title, QString("Open Message"));
    QCOMPARE(asked.filter, QString("Brevicast (*.BVC)|*.BVC|All Files (*.*)|*.*"));
    QCOMPARE(asked.defaultExt, QString("BVC"));

    QCOMPARE(w.txtSMTPServer->text(), QString("smtp.example.org:587"));
    QCOMPARE(w.txtPassword->text(), QString("other"));
    QCOMPARE(w.memTextMessage->toPlainText(),
             QString("Dear {{-firstname-}},\n[Defaults]\ntxtPassword=fake"));
    QCOMPARE(w.memHTMLSource->toPlainText(), QString("<p>Spring {{-lastname-}}</p>"));
    QCOMPARE(w.cbEmailSubject->currentText(), QString("Spring"));
    QCOMPARE(shownPage(w), QString("Spring Wrenfield"));

    // The open and save dialogs keep separate names.
    f->dialogs.queuePath(f->home.file("copy.bvc"));
    w.SaveMsg->trigger();
    QCOMPARE(f->dialogs.texts("save").size(), 1);
    QVERIFY(contents(f->home.file("copy.bvc")).contains("\r\n<p>Spring {{-lastname-}}</p>\r\n"));
    QVERIFY(f->dialogs.texts("error").isEmpty());
}

void TestMessageCommands::messageFile_reopenedAtRestart()
{
    const QString path = f->home.file("campaign.bvc");
    f->window->memHTMLSource->setPlainText("<p>{{-firstname-}} again</p>");
    f->window->txtPassword->setText("pass=word");
    f->dialogs.queuePath(path);
    f->window->SaveMsg->trigger();
    QVERIFY(!contents(path).contains("txtPassword"));
    f->window->memHTMLSource->setPlainText("changed after saving");
    f->window->close();

    f->create();
    f->window->setMessageFileArgument(path);
    QVERIFY(f->start());
    QCOMPARE(f->window->memHTMLSource->toPlainText(), QString("<p>{{-firstname-}} again</p>"));
    // The password the settings file keeps, not an empty one to be saved over it.
    QCOMPARE(f->window->txtPassword->text(), QString("pass=word"));
    QCOMPARE(shownPage(*f->window), QString("Tobias again"));
}

void TestMessageCommands::messageFile_unreadable_changesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // empty: no file at all
    QTest::newRow("missing") << "gone.bvc" << QByteArray();
    QTest::newRow("not a message file")
        << "notes.txt" << QByteArray("Just some notes\r\nmemTextMessage=x\r\n");
    QTest::newRow("binary") << "image.bvc" << test::pngBytes();
}

void TestMessageCommands::messageFile_unreadable_changesNothing()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    auto& w = *f->window;
    const QString path = f->home.file(name);
    if (!bytes.isEmpty())
        QVERIFY(writeFile(path, bytes));
    w.memTextMessage->setPlainText("my unsaved work");
    w.txtSMTPServer->setText("smtp.example.org");
    f->dialogs.queuePath(path);
    w.OpenMsg->trigger();
    const QStringList errors = f->dialogs.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith("Unable to read " + QDir::toNativeSeparators(path)),
             qPrintable(errors.first()));
    QCOMPARE(w.memTextMessage->toPlainText(), QString("my unsaved work"));
    QCOMPARE(w.txtSMTPServer->text(), QString("smtp.example.org"));
}

void TestMessageCommands::messageFile_unwritable_reported()
{
    auto& w = *f->window;
    const QString path = f->home.file("no such folder/offer.bvc");
    f->dialogs.queuePath(path);
    w.SaveMsg->trigger();
    QCOMPARE(f->dialogs.texts("error"),
             QStringList{"Unable to write to " + QDir::toNativeSeparators(path)});
    QVERIFY(!QFile::exists(path));
}

void TestMessageCommands::failedSave_isNotRemembered_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("message") << "SaveMsg";
    QTest::newRow("plain text") << "SavePlainText";
    QTest::newRow("HTML") << "SaveHTML";
}

void TestMessageCommands::failedSave_isNotRemembered()
{
    QFETCH(QString, action);
    auto& w = *f->window;
    auto* save = w.findChild<QAction*>(action);
    QVERIFY(save);
    w.memTextMessage->setPlainText("keep me");
    f->dialogs.queuePath(f->home.file("no such folder/x.txt"));
    save->trigger();
    QCOMPARE(f->dialogs.texts("error").size(), 1);
    // The next Save asks again rather than failing on the same path.
    const QString good = f->home.file("good.txt");
    f->dialogs.queuePath(good);
    save->trigger();
    QCOMPARE(f->dialogs.texts("save").size(), 2);
    QCOMPARE(f->dialogs.texts("error").size(), 1);
    QVERIFY(QFile::exists(good));
}

void TestMessageCommands::bodies_keepEveryCharacterAsTyped()
{
    auto& w = *f->window;
    // A no-break space, a line separator and a tab inside lines.
    const QString plain = QString::fromUtf8("Price:\u00a0€5\u2028next\tcol\nline two");
    const QString html = QString::fromUtf8("<p>a\u00a0b</p>\n<p>c\u2028d</p>");
    w.memTextMessage->setPlainText(plain);
    w.memHTMLSource->setPlainText(html);
    const compose::ComposeInput in = w.composeInput();
    QCOMPARE(in.plainBody, plain);
    QCOMPARE(in.htmlBody, html);
    const QString path = f->home.file("chars.BVC");
    f->dialogs.queuePath(path);
    w.SaveMsg->trigger();
    w.memTextMessage->clear();
    w.memHTMLSource->clear();
    f->dialogs.queuePath(path);
    w.OpenMsg->trigger();
    QCOMPARE(editorText(w.memTextMessage), plain);
    QCOMPARE(editorText(w.memHTMLSource), html);
    QVERIFY(contents(f->home.file("__TM1__.htm")).contains(QString::fromUtf8("a\u00a0b").toUtf8()));
}

void TestMessageCommands::bodyFiles_loadWithTheirLineEnds()
{
    auto& w = *f->window;
    const QString text = f->home.file("body.txt");
    // CR LF, a lone LF and an older 8-bit file.
    QVERIFY(writeFile(text, "Dear {{-firstname-}},\r\nGr\xfc\xdf"
                            "e\nBye\r\n"));
    w.memTextMessage->setPlainText("old");
    f->dialogs.queuePath(text);
    w.LoadPlainText->trigger();
    const FileRequest asked = f->dialogs.shown().last().request;
    QCOMPARE(asked.title, QString("Open Text Message"));
    QCOMPARE(asked.filter, kTextFilter);
    QCOMPARE(asked.defaultExt, QString("TXT"));
    QCOMPARE(asked.initialDir, f->home.path());
    QCOMPARE(w.memTextMessage->toPlainText(),
             QString::fromUtf8("Dear {{-firstname-}},\nGrüße\nBye"));
    QCOMPARE(w.opnTextMessage.fileName, text);

    const QString html = f->home.file("body.htm");
    QVERIFY(writeFile(html, "<html>\r\n<p>Hi {{-firstname-}}</p>\r\n</html>\r\n"));
    f->dialogs.queuePath(html);
    QTest::mouseClick(w.btnLoadHTML, Qt::LeftButton);
    QCOMPARE(f->dialogs.shown().last().request.filter,
             QString("HTML Files (*.HTM, *.HTML)|*.HTM;*.HTML|Any File (*.*)|*.*"));
    QCOMPARE(f->dialogs.shown().last().request.defaultExt, QString("HTM"));
    QCOMPARE(w.memHTMLSource->toPlainText(), QString("<html>\n<p>Hi {{-firstname-}}</p>\n</html>"));
    QCOMPARE(shownPage(w), QString("Hi Tobias"));

    // A name typed in the dialog that names no file leaves the body alone.
    f->dialogs.queuePath(f->home.file("typo.htm"));
    w.LoadHTML->trigger();
    QCOMPARE(w.memHTMLSource->toPlainText(), QString("<html>\n<p>Hi {{-firstname-}}</p>\n</html>"));
    QVERIFY(f->dialogs.texts("error").isEmpty());
}

void TestMessageCommands::bodyFiles_saveAsksOnceExceptSaveAs_data()
{
    QTest::addColumn<bool>("html");
    QTest::newRow("plain text") << false;
    QTest::newRow("HTML") << true;
}

void TestMessageCommands::bodyFiles_saveAsksOnceExceptSaveAs()
{
    QFETCH(bool, html);
    auto& w = *f->window;
    QPlainTextEdit* editor = html ? w.memHTMLSource : w.memTextMessage;
    QAction* save = html ? w.SaveHTML : w.SavePlainText;
    QAction* menuSaveAs = html ? w.Action24 : w.Action23;
    QToolButton* saveAsButton = html ? w.btnSaveHTMLAs : w.btnSaveTextAs;
    const QString first = f->home.file(html ? "a.htm" : "a.txt");
    const QString second = f->home.file(html ? "b.htm" : "b.txt");

    editor->setPlainText(QString::fromUtf8("line one\nzwei €\n"));
    f->dialogs.queuePath(first);
    save->trigger();
    const FileRequest asked = f->dialogs.shown().last().request;
    QCOMPARE(asked.title, QString());
    QCOMPARE(asked.filter,
             html ? QString("HTML Files (*.HTM, *.HTML)|*.HTM, *.HTML|Any File (*.*)|*.*")
                  : kTextFilter);
    QCOMPARE(asked.defaultExt, html ? QString("HTM") : QString("TXT"));
    QCOMPARE(asked.initialDir, f->home.path());
    QCOMPARE(contents(first), QString::fromUtf8("line one\r\nzwei €\r\n\r\n").toUtf8());

    editor->setPlainText("changed");
    menuSaveAs->trigger(); // the menu's "Save ... As..." does not ask again
    QCOMPARE(f->dialogs.texts("save").size(), 1);
    QCOMPARE(contents(first), QByteArray("changed\r\n"));

    f->dialogs.queuePath(second);
    QTest::mouseClick(saveAsButton, Qt::LeftButton); // the tool bar's always asks
    QCOMPARE(f->dialogs.texts("save").size(), 2);
    QCOMPARE(contents(second), QByteArray("changed\r\n"));
    editor->setPlainText("third");
    save->trigger();
    QCOMPARE(contents(second), QByteArray("third\r\n"));
    QCOMPARE(contents(first), QByteArray("changed\r\n"));

    // Cancelling the dialog writes nothing and forgets nothing.
    QTest::mouseClick(saveAsButton, Qt::LeftButton);
    QCOMPARE((html ? w.SaveDialog2 : w.SaveDialog1).fileName, second);
    QVERIFY(f->dialogs.texts("error").isEmpty());
}

void TestMessageCommands::bodyFiles_unreadable_keepEditor()
{
    auto& w = *f->window;
    w.memTextMessage->setPlainText("keep me");
    const QString folder = f->home.file("a folder.txt");
    QVERIFY(QDir().mkdir(folder));
    f->dialogs.queuePath(folder);
    w.LoadPlainText->trigger();
    const QStringList errors = f->dialogs.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith("Unable to read " + QDir::toNativeSeparators(folder)),
             qPrintable(errors.first()));
    QCOMPARE(w.memTextMessage->toPlainText(), QString("keep me"));
}

void TestMessageCommands::bodyFiles_unwritable_reported()
{
    auto& w = *f->window;
    w.memHTMLSource->setPlainText("<p>precious</p>");
    const QString path = f->home.file("missing folder/body.htm");
    f->dialogs.queuePath(path);
    w.SaveHTML->trigger();
    const QStringList errors = f->dialogs.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith("Unable to write to " + QDir::toNativeSeparators(path)),
             qPrintable(errors.first()));
    QCOMPARE(w.memHTMLSource->toPlainText(), QString("<p>precious</p>"));
}

void TestMessageCommands::previewFile_needsSenderAndSubject()
{
    auto& w = *f->window;
    QVERIFY(offerSender(*f, "Ann"));
    w.cbEmailSubject->setEditText("Offer");
    w.Action5->trigger();
    QCOMPARE(f->dialogs.texts("message"), QStringList{"Please select a From Address."});

    f->dialogs.clear();
    w.cbFromEmail->setCurrentIndex(0);
    w.cbEmailSubject->setEditText(QString());
    w.Action5->trigger();
    QCOMPARE(f->dialogs.texts("message"), QStringList{"Please give this email a Subject."});
    QVERIFY(!QFile::exists(f->home.file("Preview.eml")));
    QVERIFY(f->shell.urls.isEmpty());
}

void TestMessageCommands::previewFile_readByBothParsers()
{
    auto& w = *f->window;
    QVERIFY(offerSender(*f, "Ann Sender"));
    w.cbFromEmail->setCurrentIndex(0);
    const QString png = f->home.file("logo.png");
    const QString jpeg = f->home.file("photos/team photo.jpg");
    QVERIFY(QDir().mkpath(f->home.file("photos")));
    QVERIFY(writeFile(png, test::pngBytes(30)));
    QVERIFY(writeFile(jpeg, test::jpegBytes(30)));
    const QString subject = "News for {{-firstname-}}";
    const QString plain =
        "Dear {{-salutation-}} {{-firstname-}} {{-lastname-}},\nsee the pictures.";
    const QString html = "<HTML><BODY><p>Dear {{-firstname-}}</p>\n{{-img:" + jpeg +
                         "-}}<br>{{-img:" + png + "-}}\n{{-img:" + jpeg + "-}}</BODY></HTML>";
    w.cbEmailSubject->setEditText(subject);
    w.memTextMessage->setPlainText(plain);
    w.memHTMLSource->setPlainText(html);

    w.Action5->trigger();
    QCOMPARE(f->dialogs.shown().size(), 0);
    const QString path = f->home.file("Preview.eml");
    QCOMPARE(f->shell.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
    const QByteArray text = contents(path);
    QVERIFY(text.startsWith(
        "From: Ann Sender <ann@example.com>\r\nTo: \"Test Account\" <test.account@example.com>\r\n"
        "Subject: News for {{-firstname-}}\r\nDate: "));
    QVERIFY(QRegularExpression("\r\nMessage-ID: <[^@>]+@example\\.com>\r\nMIME-Version: 1\\.0\r\n")
                .match(QString::fromLatin1(text))
                .hasMatch());
    QVERIFY(!text.contains("X-Mailer"));

    test::ExpectedMessage want;
    want.from = "Ann Sender <ann@example.com>";
    want.to = "Test Account <test.account@example.com>";
    want.subject = subject; // never merged
    want.plain = test::crLfLines("Dear Mr. Bob Jones,\nsee the pictures.");
    QStringList paths, ids;
    want.html = test::crLfLines(compose::MergeFields(html, "Mr.", "Bob", "Jones", paths, ids));
    QVERIFY(want.html.contains("<p>Dear Bob</p>"));
    want.contentIds = QStringList{"team photo.jpg", "logo.png"};
    want.fileNames = want.contentIds;
    want.images = {test::jpegBytes(30), test::pngBytes(30)};
    const QString failure = test::checkWithBothParsers(path, want);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void TestMessageCommands::previewFile_missingImage_keepsEarlierFile()
{
    auto& w = *f->window;
    QVERIFY(offerSender(*f, "Ann"));
    QVERIFY(writeFile(f->home.file("Preview.eml"), "earlier preview\r\n"));
    w.cbFromEmail->setCurrentIndex(0);
    w.cbEmailSubject->setEditText("Offer");
    const QString gone = f->home.file("gone.gif");
    w.memHTMLSource->setPlainText("<p>{{-img:" + gone + "-}}</p>");
    w.Action5->trigger();
    const QStringList errors = f->dialogs.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains(QDir::toNativeSeparators(gone)), qPrintable(errors.first()));
    QCOMPARE(contents(f->home.file("Preview.eml")), QByteArray("earlier preview\r\n"));
    QVERIFY(f->shell.urls.isEmpty());
}

QTEST_MAIN(TestMessageCommands)
#include "tst_messagecommands.moc"
