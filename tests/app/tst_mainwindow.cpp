#include "MainWindowFixture.h"
#include <QDialog>

#include "app/BrevicastMainUi.h"
#include "app/DirectMailFrame.h"
#include "app/Splash.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

using namespace bv;
using namespace bv::app;

namespace {

QStringList actionNames(const QList<QAction*>& actions)
{
    QStringList out;
    for (const QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    return out;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void manage_addsSenderToFromPicker();
    void init();
    void cleanup();

    void menus_data();
    void menus();
    void commands_data();
    void commands();
    void toolBars();
    void toolBarButtons_keepTheirAccessKeys_data();
    void toolBarButtons_keepTheirAccessKeys();
    void updatesByAltU();
    void enabledStates_afterStart();
    void insertCommands_followEditorFocus();
    void editCommands_followFocusedControl();
    void editCommands_respectPasswordAndReadOnly();
    void showActivity_waitsThroughClock();
    void recipientFormats_customShowsName_data();
    void recipientFormats_customShowsName();
    void smtpAndDirect_excludeEachOther();
    void authentication_enablesItsGroup();
    void skipTheFirst_enabledOnlyWhenChosen();
    void emailFolder_pickedAndNormalised();
    void clearButtons();
    void help_opensGuideInBrowser();
    void about_showsSplashInAboutMode();
    void resetWarnings_command();
    void everyControl_hasAccessibleName();

private:
    std::unique_ptr<test::MainWindowFixture> f;
};

void TestMainWindow::init()
{
    f = std::make_unique<test::MainWindowFixture>();
    QVERIFY(f->start());
}

void TestMainWindow::manage_addsSenderToFromPicker()
{
    f->dialogs.queueModal([](QDialog& d) {
        d.show();
        QTest::keyClicks(d.findChild<QLineEdit*>("txtAccountName"), "Ann O'Neil");
        QTest::keyClicks(d.findChild<QLineEdit*>("txtEmail"), "ann@example.com");
        QTest::mouseClick(d.findChild<QPushButton*>("btnAdd"), Qt::LeftButton);
        QTest::mouseClick(d.findChild<QPushButton*>("btnClose"), Qt::LeftButton);
        return int(d.result());
    });
    QTest::mouseClick(f->window->btnManageSenders, Qt::LeftButton);
    QCOMPARE(f->dialogs.texts("modal"), QStringList{"Manage Email Account Information"});
    QCOMPARE(f->window->cbFromEmail->count(), 1);
    QCOMPARE(f->window->cbFromEmail->itemText(0), QStringLiteral("Ann O'Neil"));
}

void TestMainWindow::cleanup()
{
    f.reset();
}

void TestMainWindow::menus_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("File") << "&File"
                          << QStringList{"OpenMsg",  "SaveMsg", "Action22", "LoadPlainText", "SavePlainText", "Action23",
                                         "LoadHTML", "SaveHTML", "Action24", "Exit",          "Action25"};
    QTest::newRow("Edit") << "&Edit"
                          << QStringList{"EditCut1",       "EditCopy1", "EditPaste1", "-",
                                         "EditSelectAll1", "EditUndo1", "-",          "EditDelete1"};
    QTest::newRow("Insert") << "&Insert"
                            << QStringList{"FirstName", "LastName", "Salutation", "-", "Image", "-", "Expletive"};
    QTest::newRow("Print") << "&Print"
                           << QStringList{"Action26", "-",        "Action31", "Action28",
                                          "Action27", "Action29", "-",        "Action30"};
    QTest::newRow("Tools") << "&Tools" << QStringList{"ClearHistory"};
    QTest::newRow("Help") << "&Help" << QStringList{"Action9", "Help", "Action21"};
}

void TestMainWindow::menus()
{
    QFETCH(QString, title);
    QFETCH(QStringList, items);
    const auto* bar = f->find<QMenuBar>("ActionMainMenuBar2");
    QVERIFY(bar);
    QStringList titles;
    QMenu* menu = nullptr;
    for (QAction* a : bar->actions()) {
        titles << a->text();
        if (a->text() == title)
            menu = a->menu();
    }
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&Insert", "&Print", "&Tools", "&Help"}));
    QVERIFY(menu);
    QCOMPARE(actionNames(menu->actions()), items);
}

void TestMainWindow::commands_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QKeySequence>("shortcut");

    const QKeySequence none;
    QTest::newRow("Action1") << "Action1" << "&Send" << "Send" << none;
    QTest::newRow("Action4") << "Action4" << "&Pause" << "Pause" << none;
    QTest::newRow("Action5") << "Action5" << "Pr&eview" << "Preview" << none;
    QTest::newRow("Action8") << "Action8" << "&Updates?" << "Updates?" << none;
    QTest::newRow("OpenMsg") << "OpenMsg" << "&Open Message" << "Open Message" << QKeySequence("Ctrl+O");
    QTest::newRow("SaveMsg") << "SaveMsg" << "&Save Message" << "Save Message" << QKeySequence("Ctrl+S");
    QTest::newRow("Action22") << "Action22" << "S&ave Message As..." << "Save Message As..." << none;
    QTest::newRow("SavePlainText") << "SavePlainText" << "Save P&lain Text" << "Save Plain Text"
                                   << QKeySequence("Ctrl+B");
    QTest::newRow("Action23") << "Action23" << "Sa&ve Plain Text As..." << "Save Plain Text As..." << none;
    QTest::newRow("SaveHTML") << "SaveHTML" << "Save H&TML" << "Save HTML" << QKeySequence("Ctrl+T");
    QTest::newRow("Action24") << "Action24" << "Sav&e HTML As..." << "Save HTML As..." << none;
    QTest::newRow("Exit") << "Exit" << "E&xit" << "Exit" << none;
    QTest::newRow("EditDelete1") << "EditDelete1" << "&Delete" << "Delete" << QKeySequence(Qt::Key_Delete);
    QTest::newRow("EditSelectAll1") << "EditSelectAll1" << "Select &All" << "Select All" << QKeySequence("Ctrl+A");
    QTest::newRow("FirstName") << "FirstName" << "&First Name" << "First Name" << QKeySequence("Ctrl+F");
    QTest::newRow("LastName") << "LastName" << "&Last Name" << "Last Name" << QKeySequence("Ctrl+L");
    QTest::newRow("Salutation") << "Salutation" << "&Salutation" << "Salutation" << none;
    QTest::newRow("Image") << "Image" << "&Image" << "Image" << QKeySequence("Ctrl+I");
    QTest::newRow("Expletive") << "Expletive" << "&Expletive" << "Expletive" << QKeySequence("Ctrl+Alt+X");
    QTest::newRow("Action29") << "Action29" << "Las&t Email - Summary " << "Last Email - Summary" << none;
    QTest::newRow("Action21") << "Action21" << "R&eset Warnings" << "Reset Warnings" << none;
}

void TestMainWindow::commands()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QFETCH(QKeySequence, shortcut);
    const auto* a = f->window->findChild<QAction*>(name);
    QVERIFY(a);
    QCOMPARE(a->text(), text);
    QCOMPARE(a->iconText(), caption);
    QCOMPARE(a->shortcut(), shortcut);
}

void TestMainWindow::toolBarButtons_keepTheirAccessKeys_data()
{
    QTest::addColumn<QString>("bar");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Send") << "ActionToolBar2" << "Action1" << "&Send";
    QTest::newRow("Pause") << "ActionToolBar2" << "Action4" << "&Pause";
    QTest::newRow("Preview") << "ActionToolBar2" << "Action5" << "Pr&eview";
    QTest::newRow("Test") << "ActionToolBar1" << "Action20" << "&Test";
    QTest::newRow("Updates") << "BottomToolBar" << "Action8" << "&Updates?";
    QTest::newRow("Recipients") << "BottomToolBar" << "Action6" << "&Recipients";
}

void TestMainWindow::toolBarButtons_keepTheirAccessKeys()
{
    QFETCH(QString, bar);
    QFETCH(QString, action);
    QFETCH(QString, caption);
    auto* a = f->window->findChild<QAction*>(action);
    auto* button = qobject_cast<QToolButton*>(f->find<QToolBar>(qPrintable(bar))->widgetForAction(a));
    QVERIFY(button);
    QCOMPARE(button->text(), caption);
    // A changed caption ("&Resume") reaches the button with its access key.
    const QString changed = "&X" + caption.mid(1);
    a->setText(changed);
    QCOMPARE(button->text(), changed);
    a->setText(caption);
    QCOMPARE(button->text(), caption);
}

void TestMainWindow::updatesByAltU()
{
    QVERIFY(QTest::qWaitForWindowActive(f->window.get()));
    QSignalSpy triggered(f->window->Action8, &QAction::triggered);
    QWidget* focus = f->window->focusWidget();
    QTest::keyClick(focus ? focus : f->window.get(), Qt::Key_U, Qt::AltModifier);
    // An access key clicks its button the way a mouse would, after a moment.
    QTRY_COMPARE(triggered.size(), 1);
}

void TestMainWindow::toolBars()
{
    QCOMPARE(actionNames(f->find<QToolBar>("ActionToolBar2")->actions()),
             (QStringList{"Action1", "Action2", "Action3", "Action4", "Action5"}));
    QCOMPARE(actionNames(f->find<QToolBar>("ActionToolBar1")->actions()), QStringList{"Action20"});
    // The spacer between "&Updates?" and "&Recipients" is a widget action
    // without a name.
    QCOMPARE(actionNames(f->find<QToolBar>("BottomToolBar")->actions()),
             (QStringList{"Action7", "CheckWeb", "Action8", "", "Action6"}));

    // The editors' tool buttons run the File menu's commands under their own
    // captions.
    auto* load = f->find<QToolButton>("btnLoadText");
    QCOMPARE(load->text(), QString("&Load"));
    QSignalSpy triggered(f->window->LoadPlainText, &QAction::triggered);
    QTest::mouseClick(load, Qt::LeftButton);
    QCOMPARE(triggered.size(), 1);
    QCOMPARE(f->find<QToolButton>("btnClearHTML")->text(), QString("  &Clear  "));
    QCOMPARE(f->find<QToolButton>("btnSaveHTMLAs")->text(), QString("Save As..."));
}

void TestMainWindow::enabledStates_afterStart()
{
    auto& w = *f->window;
    QVERIFY(!w.Action3->isEnabled());
    QVERIFY(!w.Action4->isEnabled());
    for (QAction* a : {w.Action1, w.Action2, w.Action20, w.Action5, w.Action6, w.Action7, w.Action8, w.CheckWeb,
                       w.OpenMsg, w.SaveMsg, w.Action22, w.LoadPlainText, w.Exit, w.Action25, w.Action26, w.Action30,
                       w.ClearHistory, w.Action9, w.Help, w.Action21})
        QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
    // The show sequence leaves the plain-text editor with the focus.
    QCOMPARE(w.focusWidget(), w.memTextMessage);
    QCOMPARE(w.TABSMessage->currentWidget(), w.tabPlainText);
    QVERIFY(w.FirstName->isEnabled());
    QVERIFY(!w.Image->isEnabled());
    QCOMPARE(w.panWeb->height(), 1);
    QCOMPARE(w.txtTestEmail->currentText(), QString("Enter Test Email Address"));
}

void TestMainWindow::insertCommands_followEditorFocus()
{
    auto& w = *f->window;
    const QList<QAction*> names{w.FirstName, w.LastName, w.Salutation, w.Expletive};

    w.TABSMessage->setCurrentWidget(w.tabHTMLSource);
    w.memHTMLSource->setFocus();
    QTRY_COMPARE(w.focusWidget(), w.memHTMLSource);
    for (QAction* a : names)
        QVERIFY(a->isEnabled());
    QVERIFY(w.Image->isEnabled());

    w.TABSMessage->setCurrentWidget(w.tabPlainText);
    w.memTextMessage->setFocus();
    QTRY_COMPARE(w.focusWidget(), w.memTextMessage);
    QVERIFY(w.FirstName->isEnabled());
    QVERIFY(!w.Image->isEnabled());

    w.cbEmailSubject->setFocus();
    QTRY_VERIFY(w.cbEmailSubject->hasFocus());
    for (QAction* a : names)
        QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
    QVERIFY(!w.Image->isEnabled());
}

void TestMainWindow::editCommands_followFocusedControl()
{
    auto& w = *f->window;
    QGuiApplication::clipboard()->setText(QStringLiteral("pasted"));
    w.PageControl2->setCurrentWidget(w.TabSheet4);
    w.txtDomain->setFocus();
    QTRY_VERIFY(w.txtDomain->hasFocus());
    QVERIFY(w.EditPaste1->isEnabled());
    QVERIFY(!w.EditCut1->isEnabled());
    QVERIFY(!w.EditSelectAll1->isEnabled());
    QVERIFY(!w.EditUndo1->isEnabled());

    QTest::keyClicks(w.txtDomain, "example.org");
    QVERIFY(w.EditSelectAll1->isEnabled());
    QVERIFY(w.EditUndo1->isEnabled());
    QVERIFY(!w.EditCopy1->isEnabled());

    w.EditSelectAll1->trigger();
    QVERIFY(w.EditCut1->isEnabled());
    QVERIFY(w.EditCopy1->isEnabled());
    QVERIFY(w.EditDelete1->isEnabled());
    w.EditCut1->trigger();
    QCOMPARE(w.txtDomain->text(), QString());
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("example.org"));
    w.EditPaste1->trigger();
    QCOMPARE(w.txtDomain->text(), QString("example.org"));
    w.EditUndo1->trigger();
    QCOMPARE(w.txtDomain->text(), QString());

    // The editable subject box is a text control too.
    w.cbEmailSubject->setFocus();
    QTRY_VERIFY(w.cbEmailSubject->hasFocus());
    QTest::keyClicks(w.cbEmailSubject, "News");
    w.EditSelectAll1->trigger();
    w.EditDelete1->trigger();
    QCOMPARE(w.cbEmailSubject->currentText(), QString());

    // Off any text control nothing applies.
    w.btnManageSenders->setFocus();
    QTRY_VERIFY(w.btnManageSenders->hasFocus());
    for (QAction* a : {w.EditCut1, w.EditCopy1, w.EditPaste1, w.EditSelectAll1, w.EditUndo1, w.EditDelete1})
        QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
}

void TestMainWindow::editCommands_respectPasswordAndReadOnly()
{
    auto& w = *f->window;
    QGuiApplication::clipboard()->setText(QStringLiteral("x"));
    w.PageControl2->setCurrentWidget(w.TabSheet4);
    w.cbxAuth->setChecked(true);
    w.txtPassword->setFocus();
    QTRY_VERIFY(w.txtPassword->hasFocus());
    QTest::keyClicks(w.txtPassword, "secret");
    w.EditSelectAll1->trigger();
    QVERIFY(!w.EditCopy1->isEnabled());
    QVERIFY(!w.EditCut1->isEnabled());
    QVERIFY(w.EditDelete1->isEnabled());

    w.PageControl2->setCurrentWidget(w.TabSheet3);
    w.AddStatusLine(QStringLiteral("line one"));
    w.memStatus->setFocus();
    QTRY_VERIFY(w.memStatus->hasFocus());
    w.EditSelectAll1->trigger();
    QVERIFY(w.EditCopy1->isEnabled());
    QVERIFY(!w.EditCut1->isEnabled());
    QVERIFY(!w.EditPaste1->isEnabled());
    QVERIFY(!w.EditDelete1->isEnabled());
}

void TestMainWindow::showActivity_waitsThroughClock()
{
    auto& w = *f->window;
    f->clock.clearWaits();
    w.ShowActivity(QStringLiteral("Building List"));
    QCOMPARE(w.lblCurrentActivity->text(), QString("Building List"));
    QCOMPARE(f->clock.waits().size(), 1);
    QCOMPARE(f->clock.waits().first().kind, QString("sleep"));
    QCOMPARE(f->clock.waits().first().ms, 40);

    w.AddStatusLine(QStringLiteral("first"));
    w.AddStatusLine(QStringLiteral("second"));
    QCOMPARE(w.memStatus->toPlainText(), QString("first\nsecond"));
}

void TestMainWindow::recipientFormats_customShowsName_data()
{
    QTest::addColumn<int>("down");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("visible");
    const QStringList entries{"\"Mr. John Smith\" (Sal. FirstName LastName)",
                              "\"John Smith\" (FirstName LastName)",
                              "\"Smith, John\" (LastName, FirstName)",
                              "\"John\" (FirstName)",
                              "\"Smith\" (LastName)",
                              "Use Email Address for Name",
                              "Custom"};
    for (int i = 0; i < entries.size(); ++i)
        QTest::newRow(qPrintable(entries.at(i))) << i + 1 << entries.at(i) << (i == 6);
}

void TestMainWindow::recipientFormats_customShowsName()
{
    QFETCH(int, down);
    QFETCH(QString, entry);
    QFETCH(bool, visible);
    auto& w = *f->window;
    QCOMPARE(w.cbRecipientEmailFormat->count(), 7);
    QVERIFY(!w.txtCustomRecipientName->isVisible());
    w.cbRecipientEmailFormat->setFocus();
    for (int i = 0; i < down; ++i)
        QTest::keyClick(w.cbRecipientEmailFormat, Qt::Key_Down);
    QCOMPARE(w.cbRecipientEmailFormat->currentText(), entry);
    QCOMPARE(w.txtCustomRecipientName->isVisible(), visible);
    QCOMPARE(w.lblCustomRecipientName->isVisible(), visible);
}

namespace {
// On the box itself, not in the empty stretch of a wide check box.
void clickBox(QCheckBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}
} // namespace

void TestMainWindow::smtpAndDirect_excludeEachOther()
{
    auto& w = *f->window;
    QCheckBox* direct = w.fraDirectMail1->cbxDirect;
    // A missing settings file ticks both; only a click makes them exclusive.
    QVERIFY(w.cbxSMTP->isChecked());
    QVERIFY(direct->isChecked());

    w.PageControl2->setCurrentWidget(w.TabSheet4);
    clickBox(w.cbxSMTP);
    QVERIFY(!w.cbxSMTP->isChecked());
    QVERIFY(direct->isChecked());
    clickBox(w.cbxSMTP);
    QVERIFY(w.cbxSMTP->isChecked());
    QVERIFY(!direct->isChecked());
    QVERIFY(!w.fraDirectMail1->gbDirectSend->isEnabled());

    w.PageControl2->setCurrentWidget(w.TabSheet1);
    clickBox(direct);
    QVERIFY(direct->isChecked());
    QVERIFY(!w.cbxSMTP->isChecked());
    QVERIFY(w.fraDirectMail1->gbDirectSend->isEnabled());
}

void TestMainWindow::authentication_enablesItsGroup()
{
    auto& w = *f->window;
    w.PageControl2->setCurrentWidget(w.TabSheet4);
    QVERIFY(w.cbxAuth->isChecked());
    QVERIFY(w.gbAuth->isEnabled());
    clickBox(w.cbxAuth);
    QVERIFY(!w.gbAuth->isEnabled());
    QVERIFY(!w.txtUser->isEnabled());
    QCOMPARE(w.txtPassword->echoMode(), QLineEdit::Password);
}

void TestMainWindow::skipTheFirst_enabledOnlyWhenChosen()
{
    auto& w = *f->window;
    QCOMPARE(w.rgSendTo->itemIndex(), 0);
    QVERIFY(!w.txtSkipTheFirst->isEnabled());
    QTest::mouseClick(w.rgSendTo->button(1), Qt::LeftButton);
    QCOMPARE(w.rgSendTo->itemIndex(), 1);
    QVERIFY(w.txtSkipTheFirst->isEnabled());
    QTest::mouseClick(w.rgSendTo->button(0), Qt::LeftButton);
    QVERIFY(!w.txtSkipTheFirst->isEnabled());
}

void TestMainWindow::emailFolder_pickedAndNormalised()
{
    auto& w = *f->window;
    TfraDirectMail* frame = w.fraDirectMail1;
    w.PageControl2->setCurrentWidget(w.TabSheet1);

    f->dialogs.queuePath(f->home.path() + "spool");
    QTest::mouseClick(frame->btnEmailPath, Qt::LeftButton);
    QCOMPARE(f->dialogs.texts("folder"), QStringList{"Open Folder"});
    QCOMPARE(frame->txtEmailPath->text(), f->home.path() + "spool/");

    // Cancelling the picker leaves the field alone.
    QTest::mouseClick(frame->btnEmailPath, Qt::LeftButton);
    QCOMPARE(frame->txtEmailPath->text(), f->home.path() + "spool/");

    frame->txtEmailPath->setFocus();
    QTRY_VERIFY(frame->txtEmailPath->hasFocus());
    frame->txtEmailPath->setText(QStringLiteral("  /var/spool/bv  "));
    frame->txtDNS->setFocus();
    QTRY_COMPARE(frame->txtEmailPath->text(), QString("/var/spool/bv/"));
    frame->txtEmailPath->clear();
    frame->txtEmailPath->setFocus();
    QTRY_VERIFY(frame->txtEmailPath->hasFocus());
    frame->txtHELO->setFocus();
    // Empty stays empty: it means the program folder's own spool folder, never
    // the root of the file system.
    QTRY_VERIFY(frame->txtHELO->hasFocus());
    QCOMPARE(frame->txtEmailPath->text(), QString());
    QCOMPARE(frame->spoolFolder(false), f->home.path() + "Spool/");
    frame->txtEmailPath->setText(QStringLiteral("/"));
    QCOMPARE(frame->spoolFolder(false), f->home.path() + "Spool/");
    QVERIFY(!QDir(f->home.path() + "Spool").exists());
    QCOMPARE(frame->spoolFolder(true), f->home.path() + "Spool/");
    QVERIFY(QDir(f->home.path() + "Spool").exists());
}

void TestMainWindow::clearButtons()
{
    auto& w = *f->window;
    w.memTextMessage->setPlainText(QStringLiteral("Hello {{-firstname-}}"));
    QTest::mouseClick(w.btnClearText, Qt::LeftButton);
    QCOMPARE(w.memTextMessage->toPlainText(), QString());
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("Hello {{-firstname-}}"));

    w.TABSMessage->setCurrentWidget(w.tabHTMLSource);
    w.memHTMLSource->setPlainText(QStringLiteral("<p>old</p>"));
    QTest::mouseClick(w.btnClearHTML, Qt::LeftButton);
    QCOMPARE(w.memHTMLSource->toPlainText(), QString("<HTML>\n<BODY>\n\n</BODY>\n</HTML>"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("<p>old</p>"));
}

void TestMainWindow::help_opensGuideInBrowser()
{
    auto& w = *f->window;
    w.Help->trigger();
    QTest::mouseClick(w.SpeedButton3, Qt::LeftButton);
    QCOMPARE(f->dialogs.texts("error"), QStringList{});
    QCOMPARE(f->shell.urls.size(), 2);
    const QUrl guide = f->shell.urls.first();
    QVERIFY(guide.isLocalFile());
    QVERIFY2(guide.toLocalFile().endsWith("/help/Brevicast.html"), qPrintable(guide.toString()));
    QVERIFY(QFileInfo(guide.toLocalFile()).size() > 1000);
    QCOMPARE(f->shell.urls.last(), guide);
}

void TestMainWindow::about_showsSplashInAboutMode()
{
    QString label;
    SplashMode mode = SplashMode::StartUp;
    f->dialogs.queueModal([&](QDialog& d) {
        auto& splash = static_cast<TForm_Splash&>(d);
        splash.show();
        label = splash.lblApp->text();
        mode = splash.mode();
        return 1;
    });
    f->window->Action9->trigger();
    QCOMPARE(f->dialogs.texts("modal"), QStringList{"Splash"});
    QCOMPARE(label, QString("Brevicast 1 Beta"));
    QVERIFY(mode == SplashMode::About);
}

void TestMainWindow::resetWarnings_command()
{
    QFile file(f->home.file("BrevicastWarnings.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Defaults]\r\nRedoMsg=1\r\nSkipMsg=1\r\nRtdFileMsg=1\r\n");
    file.close();
    f->window->Action21->trigger();
    QCOMPARE(f->dialogs.texts("message"), QStringList{"Warning and Confirmation messages have been reset."});
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("[Defaults]\r\nRedoMsg=0\r\nSkipMsg=0\r\nRtdFileMsg=0\r\n"));
}

void TestMainWindow::everyControl_hasAccessibleName()
{
    auto& w = *f->window;
    QStringList missing;
    for (QWidget* child : w.findChildren<QWidget*>()) {
        const QString name = child->objectName();
        if (name.startsWith(QLatin1String("qt_")))
            continue;
        // Parts of a composite control speak through the control itself.
        bool part = false;
        for (QWidget* up = child->parentWidget(); up && up != &w; up = up->parentWidget())
            part = part || qobject_cast<QComboBox*>(up) || up->objectName().startsWith(QLatin1String("qt_"));
        if (part)
            continue;
        if (name.isEmpty() && child->focusPolicy() == Qt::NoFocus && !qobject_cast<QToolButton*>(child))
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child);
        if (!iface || iface->text(QAccessible::Name).trimmed().isEmpty())
            missing << QStringLiteral("%1 (%2)").arg(name, QString::fromLatin1(child->metaObject()->className()));
    }
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
