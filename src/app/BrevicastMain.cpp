#include "app/BrevicastMain.h"

#include "app/BrevicastMainUi.h"
#include "app/DirectMailFrame.h"
#include "app/EditCommands.h"
#include "app/MailingCommands.h"
#include "app/MessageCommands.h"
#include "app/MessageDlgBVC.h"
#include "app/ProgramIcon.h"
#include "app/ReportCommands.h"
#include "app/SenderDomains.h"
#include "app/ShellCommands.h"
#include "app/Splash.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/ProgramFolder.h"
#include "core/Shell.h"
#include "data/BrevicastData.h"
#include "data/Database.h"
#include "data/GetListName.h"
#include "data/ListManager.h"
#include "data/TableView.h"
#include "lists/ImportCommands.h"
#include "lists/Recipients.h"
#include "lists/XLImportWindow.h"
#include "returned/ManageEmailAccount.h"
#include "returned/pop3Main.h"
#include "core/SenderAccounts.h"
#include "send/SmtpClient.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QHash>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>

namespace bv::app {

namespace {

// Refills a combo box's list and leaves its text as it was.
void replaceItems(QComboBox* box, const QStringList& items, const QString& text)
{
    box->clear();
    box->addItems(items);
    box->setCurrentIndex(-1);
    box->setEditText(text);
}

} // namespace

QStringList TfrmBrevicastMain::recipientFormats()
{
    return {
        QStringLiteral("\"Mr. John Smith\" (Sal. FirstName LastName)"),
        QStringLiteral("\"John Smith\" (FirstName LastName)"),
        QStringLiteral("\"Smith, John\" (LastName, FirstName)"),
        QStringLiteral("\"John\" (FirstName)"),
        QStringLiteral("\"Smith\" (LastName)"),
        QStringLiteral("Use Email Address for Name"),
        QStringLiteral("Custom"),
    };
}

TfrmBrevicastMain::TfrmBrevicastMain(Services& services, data::Connection& localConnect, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_localConnect(localConnect)
{
    setObjectName(QStringLiteral("frmBrevicastMain"));
    setWindowTitle(QStringLiteral("Brevicast"));
    setAccessibleName(QStringLiteral("Brevicast"));
    createWidgets();
    IpSmtpClient1 = new send::TIpSmtpClient(services.clock, this);
    m_messageCommands = new MessageCommands(*this);
    m_shellCommands = new ShellCommands(*this, UpdateSite::fromEnvironment());
    m_editCommands =
        new EditCommands(this, {EditCut1, EditCopy1, EditPaste1, EditSelectAll1, EditUndo1, EditDelete1});
    connectControls();

    for (QAction* a : actions())
        a->setEnabled(true);
    m_editCommands->refresh();
    refreshInsertCommands();
    refreshCustomRecipientName();
    refreshSendTo();
    refreshAuthentication();
    fraDirectMail1->refreshDirectSend();
    ShowActivity(QString());
    memStatus->clear();
    resize(1024, 800);
}

TfrmBrevicastMain::~TfrmBrevicastMain()
{
    // Focus and the current tab move while the widgets go; nothing may react
    // to it by then.
    disconnect(qApp, nullptr, this, nullptr);
    TABSMessage->disconnect(this);
    memHTMLSource->removeEventFilter(this);
    delete m_editCommands;
}

void TfrmBrevicastMain::connectControls()
{
    connect(cbRecipientEmailFormat, &QComboBox::currentIndexChanged, this,
            &TfrmBrevicastMain::refreshCustomRecipientName);
    connect(cbCurrentList, &QComboBox::activated, this, &TfrmBrevicastMain::refreshListCount);
    connect(rgSendTo, &TRadioGroup::itemIndexChanged, this, &TfrmBrevicastMain::refreshSendTo);
    connect(cbxAuth, &QCheckBox::toggled, this, &TfrmBrevicastMain::refreshAuthentication);
    // Only the user's click switches the other mode off: a restored state
    // may have both ticked.
    connect(cbxSMTP, &QCheckBox::clicked, this, [this](bool on) { fraDirectMail1->cbxDirect->setChecked(!on); });
    connect(fraDirectMail1->cbxDirect, &QCheckBox::clicked, this, [this](bool on) { cbxSMTP->setChecked(!on); });
    connect(qApp, &QApplication::focusChanged, this, &TfrmBrevicastMain::refreshInsertCommands);

    connect(btnManageSenders, &QPushButton::clicked, this, [this] {
        returned::TfrmManageEmailAccount accounts(m_services, this);
        m_services.dialogs.execModal(accounts);
        loadSenderNames();
    });
    connect(btnSenderDomains, &QPushButton::clicked, this, [this] {
        TfrmSenderDomains::showFor(m_services, [this] { return fraDirectMail1->txtDNS->text(); }, this);
    });
    connect(Action7, &QAction::triggered, this, &QWidget::close);
    connect(Exit, &QAction::triggered, this, &QWidget::close);
    connect(SpeedButton1, &QToolButton::clicked, this, [this] {
        saveSubjects();
        close();
    });
    connect(SpeedButton2, &QToolButton::clicked, this, &QWidget::showMinimized);
    connect(SpeedButton3, &QToolButton::clicked, this, &TfrmBrevicastMain::openHelp);
    connect(Help, &QAction::triggered, this, &TfrmBrevicastMain::openHelp);
    connect(Action9, &QAction::triggered, this, &TfrmBrevicastMain::showAbout);
    connect(Action21, &QAction::triggered, this,
            [this] { ResetWarnings(m_services.dialogs, m_services.programFolder); });
    connect(Action25, &QAction::triggered, this, &TfrmBrevicastMain::NewMessage);

    MessageCommands* m = m_messageCommands;
    for (QAction* insert : {FirstName, LastName, Salutation, Image, Expletive})
        connect(insert, &QAction::triggered, m, [m, insert] { m->InsertSpecial(insert); });
    connect(OpenMsg, &QAction::triggered, m, &MessageCommands::openMessage);
    connect(SaveMsg, &QAction::triggered, m, &MessageCommands::saveMessage);
    connect(Action22, &QAction::triggered, m, &MessageCommands::saveMessage);
    connect(LoadPlainText, &QAction::triggered, m, &MessageCommands::loadPlainText);
    connect(SavePlainText, &QAction::triggered, m, [m] { m->savePlainText(false); });
    connect(Action23, &QAction::triggered, m, [m] { m->savePlainText(false); });
    connect(btnSaveTextAs, &QToolButton::clicked, m, [m] { m->savePlainText(true); });
    connect(LoadHTML, &QAction::triggered, m, &MessageCommands::loadHtml);
    connect(SaveHTML, &QAction::triggered, m, [m] { m->saveHtml(false); });
    connect(Action24, &QAction::triggered, m, [m] { m->saveHtml(false); });
    connect(btnSaveHTMLAs, &QToolButton::clicked, m, [m] { m->saveHtml(true); });
    connect(Action5, &QAction::triggered, m, &MessageCommands::preview);
    connect(Action6, &QAction::triggered, this, &TfrmBrevicastMain::showRecipients);
    connect(TABSMessage, &QTabWidget::currentChanged, this, &TfrmBrevicastMain::memHTMLSourceExit);
    memHTMLSource->installEventFilter(this);

    connect(btnClearText, &QToolButton::clicked, this, &TfrmBrevicastMain::clearPlainText);
    connect(btnClearHTML, &QToolButton::clicked, this, &TfrmBrevicastMain::clearHtmlSource);
    connect(btnDeleteSubject, &QPushButton::clicked, this, &TfrmBrevicastMain::deleteSubject);
    cbEmailSubject->installEventFilter(this);
}

void TfrmBrevicastMain::setDataModule(data::TdmBrevicastData* dataModule)
{
    m_data = dataModule;
    if (m_data && !m_mailingCommands)
        m_mailingCommands = new MailingCommands(*this);
    if (m_data && !m_reportCommands) {
        m_reportCommands = new ReportCommands(m_services, m_data->AdsConnection1, this);
        m_reportCommands->connectActions({Action30, Action29, Action31, Action28, Action27, ClearHistory});
    }
}

void TfrmBrevicastMain::setStartupSplash(TForm_Splash* splash)
{
    m_startupSplash.reset(splash);
}

void TfrmBrevicastMain::ShowActivity(const QString& text)
{
    lblCurrentActivity->setText(text);
    lblCurrentActivity->repaint();
    repaint();
    m_services.clock.sleep(40);
    for (int i = 0; i < 3; ++i)
        m_services.clock.processEvents();
}

void TfrmBrevicastMain::AddStatusLine(const QString& text)
{
    memStatus->appendPlainText(text);
}

void TfrmBrevicastMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // After the window is on the screen, so that the splash opens over it.
    QMetaObject::invokeMethod(this, &TfrmBrevicastMain::afterFirstShow, Qt::QueuedConnection);
}

void TfrmBrevicastMain::afterFirstShow()
{
    panWeb->setFixedHeight(1);
    showStartupSplash();
    TABSMessage->setCurrentWidget(tabPlainText);
    memTextMessage->setFocus();
    loadListNames();
    runStartupMaintenance();
    loadSubjects();
    loadSenderNames();

    const QString messageFile = m_messageFileArgument.trimmed();
    const QString settings = m_services.programFolder + settingsFileName();
    // A message file holds no password (the stored one stands unless it does), and one that
    // cannot be read must not leave a blank window that would overwrite the settings file.
    if (!messageFile.isEmpty())
        txtPassword->setText(storedSmtpPassword(settings, m_services.secrets));
    if (messageFile.isEmpty() || !loadWindowState(messageFile, true)) {
        // Nor may a settings file that is there but cannot be read.
        m_keepSettingsFile = !loadWindowState(settings);
    }

    txtTestEmail->setEditText(QStringLiteral("Enter Test Email Address"));
    Action3->setEnabled(false);
    Action4->setEnabled(false);
    m_startupDone = true;
    emit startupFinished();
}

void TfrmBrevicastMain::showStartupSplash()
{
    if (!m_startupSplash)
        return;
    m_services.dialogs.execModal(*m_startupSplash);
    m_startupSplash.reset();
}

void TfrmBrevicastMain::runStartupMaintenance()
{
    if (!m_data)
        return;
    try {
        if (lists::TfrmRecipients* w = recipientsWindow())
            data::runStartupMaintenance(w->recipients(), w->exclusions());
    } catch (const std::exception&) {
        // Maintenance is a courtesy; the tables stay as they are.
    }
}

lists::TfrmRecipients* TfrmBrevicastMain::recipientsWindow()
{
    if (m_recipientsWindow || !m_data)
        return m_recipientsWindow;
    if (!m_listNamePrompt)
        m_listNamePrompt = new data::TfrmGetListName(this);
    m_recipientsWindow =
        new lists::TfrmRecipients(m_services, m_data->AdsConnection1, m_localConnect, *m_listNamePrompt, this);
    lists::TfrmRecipients::Hooks hooks;
    hooks.askReturnedFileQuestion = [this] {
        return AskQuestion(m_services.dialogs, m_services.programFolder, QLatin1String(kRtdFileMsg)) == Answer::Yes;
    };
    hooks.checkReturnedMail = [this] {
        returned::TfrmMain window(m_services, m_data->AdsConnection1, m_localConnect, this);
        m_services.dialogs.execModal(window);
    };
    lists::TfrmRecipients* w = m_recipientsWindow;
    hooks.importRecipientsCsv = [this, w] {
        lists::LoadMoreCsv(m_services, w->currentList(), w->recipients(), false);
    };
    hooks.importExclusionsCsv = [this, w] {
        lists::LoadMoreCsv(m_services, w->currentList(), w->exclusions(), true);
    };
    hooks.importExcel = [this] {
        lists::TfrmXLImport window(m_services, m_data->AdsConnection1, m_localConnect, this);
        m_services.dialogs.execModal(window);
    };
    m_recipientsWindow->setHooks(std::move(hooks));
    return m_recipientsWindow;
}

data::TableView* TfrmBrevicastMain::recipientsView() const
{
    return m_recipientsWindow ? &m_recipientsWindow->recipients() : nullptr;
}

data::TableView* TfrmBrevicastMain::exclusionsView() const
{
    return m_recipientsWindow ? &m_recipientsWindow->exclusions() : nullptr;
}

void TfrmBrevicastMain::showRecipients()
{
    lists::TfrmRecipients* w = recipientsWindow();
    if (!w)
        return;
    m_services.dialogs.execModal(*w);
    loadListNames();
    refreshListCount();
}

void TfrmBrevicastMain::loadListNames()
{
    cbCurrentList->clear();
    QStringList names;
    try {
        data::LoadListNames(m_localConnect, names);
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
    cbCurrentList->addItems(names);
    cbCurrentList->setCurrentIndex(-1);
}

void TfrmBrevicastMain::loadSenderNames()
{
    cbFromEmail->clear();
    try {
        cbFromEmail->addItems(LoadSenderNames(m_services.programFolder));
    } catch (const AccountsError& e) {
        m_services.dialogs.showError(e.message());
    }
    cbFromEmail->setCurrentIndex(-1);
}

void TfrmBrevicastMain::refreshListCount()
{
    const QString list = data::quoted(cbCurrentList->currentText());
    const QString sql = QStringLiteral("Select count(r.Email) as \"Ct\" From RecipientList r Where r.list = ")
                        + list + QStringLiteral(" ")
                        + QStringLiteral("and not (r.Email in (select e.email from ExclusionList e where e.List = ")
                        + list + QStringLiteral("))");
    try {
        data::Query query(m_data ? m_data->AdsConnection1 : m_localConnect);
        query.setSql(sql);
        query.open();
        txtSendAll->setText(query.value(QStringLiteral("Ct")).toString());
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

void TfrmBrevicastMain::refreshCustomRecipientName()
{
    const bool custom = cbRecipientEmailFormat->currentIndex() == kCustomFormat;
    lblCustomRecipientName->setVisible(custom);
    txtCustomRecipientName->setVisible(custom);
}

void TfrmBrevicastMain::refreshSendTo()
{
    txtSkipTheFirst->setEnabled(rgSendTo->itemIndex() == 1);
}

void TfrmBrevicastMain::refreshAuthentication()
{
    gbAuth->setEnabled(cbxAuth->isChecked());
}

void TfrmBrevicastMain::refreshInsertCommands()
{
    const QWidget* focus = focusWidget();
    const bool html = focus == memHTMLSource;
    const bool body = html || focus == memTextMessage;
    for (QAction* a : {FirstName, LastName, Salutation, Expletive})
        a->setEnabled(body);
    Image->setEnabled(html);
}

bool TfrmBrevicastMain::memHTMLSourceExit()
{
    return m_messageCommands->memHTMLSourceExit();
}

compose::ComposeInput TfrmBrevicastMain::composeInput() const
{
    return {FormatSender(m_services.programFolder, cbFromEmail->currentText()),
            cbEmailSubject->currentText(), editorText(memTextMessage), editorText(memHTMLSource)};
}

void TfrmBrevicastMain::ComposeMessage(const QString& salutation, const QString& firstName,
                                       const QString& lastName)
{
    compose::ComposeMessage(IpSmtpClient1->message(), composeInput(), salutation, firstName, lastName);
}

void TfrmBrevicastMain::enableMarkedActions()
{
    for (QMenu* menu : {mnuFile, mnuInsert, mnuPrint, mnuTools, mnuHelp})
        for (QAction* a : menu->actions())
            a->setEnabled(true);
    Action1->setEnabled(true);
}

QList<ControlValue> TfrmBrevicastMain::windowState() const
{
    auto items = [](const QComboBox* box) {
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            out << box->itemText(i);
        return out;
    };
    const TfraDirectMail* frame = fraDirectMail1;
    return {
        ControlValue::multiLine(QStringLiteral("memTextMessage"), editorLines(memTextMessage)),
        ControlValue::multiLine(QStringLiteral("memHTMLSource"), editorLines(memHTMLSource)),
        ControlValue::multiLine(QStringLiteral("memStatus"), editorLines(memStatus)),
        ControlValue::checkBox(QStringLiteral("cbxSMTP"), cbxSMTP->isChecked()),
        ControlValue::edit(QStringLiteral("txtDomain"), txtDomain->text()),
        ControlValue::edit(QStringLiteral("txtSMTPServer"), txtSMTPServer->text()),
        ControlValue::edit(QStringLiteral("txtUser"), txtUser->text()),
        ControlValue::edit(QStringLiteral("txtPassword"), txtPassword->text()),
        ControlValue::checkBox(QStringLiteral("cbxAuth"), cbxAuth->isChecked()),
        // Off in files written before it existed.
        ControlValue::checkBox(QStringLiteral("cbxAllowPlainPassword"), cbxAllowPlainPassword->isChecked(), false),
        ControlValue::checkBox(QStringLiteral("cbxDirect"), frame->cbxDirect->isChecked()),
        ControlValue::edit(QStringLiteral("txtEmailPath"), frame->txtEmailPath->text()),
        ControlValue::edit(QStringLiteral("txtDNS"), frame->txtDNS->text()),
        ControlValue::edit(QStringLiteral("txtHELO"), frame->txtHELO->text()),
        ControlValue::dropDown(QStringLiteral("cbRecipientEmailFormat"), cbRecipientEmailFormat->currentText(),
                               items(cbRecipientEmailFormat)),
        ControlValue::edit(QStringLiteral("txtCustomRecipientName"), txtCustomRecipientName->text()),
        ControlValue::radioGroup(QStringLiteral("rgSendTo"), rgSendTo->itemIndex()),
        ControlValue::dropDown(QStringLiteral("cbCurrentList"), cbCurrentList->currentText(), items(cbCurrentList)),
        ControlValue::edit(QStringLiteral("txtSkipTheFirst"), txtSkipTheFirst->text()),
        ControlValue::dropDown(QStringLiteral("cbFromEmail"), cbFromEmail->currentText(), items(cbFromEmail)),
        ControlValue::combo(QStringLiteral("cbEmailSubject"), cbEmailSubject->currentText()),
        ControlValue::comboWithItems(QStringLiteral("txtTestEmail"), txtTestEmail->currentText(),
                                     items(txtTestEmail)),
        ControlValue::checkBox(QStringLiteral("cbxErrorsByEmail"), cbxErrorsByEmail->isChecked()),
        ControlValue::fileDialog(QStringLiteral("opnTextMessage"), opnTextMessage.fileName),
        ControlValue::fileDialog(QStringLiteral("opnHTMLMessage"), opnHTMLMessage.fileName),
        ControlValue::fileDialog(QStringLiteral("opnMessage"), opnMessage.fileName),
        ControlValue::fileDialog(QStringLiteral("opnImage"), opnImage.fileName),
    };
}

void TfrmBrevicastMain::applyWindowState(const QList<ControlValue>& controls)
{
    QHash<QString, QLineEdit*> edits{
        {QStringLiteral("txtDomain"), txtDomain},
        {QStringLiteral("txtSMTPServer"), txtSMTPServer},
        {QStringLiteral("txtUser"), txtUser},
        {QStringLiteral("txtPassword"), txtPassword},
        {QStringLiteral("txtEmailPath"), fraDirectMail1->txtEmailPath},
        {QStringLiteral("txtDNS"), fraDirectMail1->txtDNS},
        {QStringLiteral("txtHELO"), fraDirectMail1->txtHELO},
        {QStringLiteral("txtCustomRecipientName"), txtCustomRecipientName},
        {QStringLiteral("txtSkipTheFirst"), txtSkipTheFirst},
    };
    QHash<QString, QCheckBox*> checks{
        {QStringLiteral("cbxSMTP"), cbxSMTP},
        {QStringLiteral("cbxAuth"), cbxAuth},
        {QStringLiteral("cbxAllowPlainPassword"), cbxAllowPlainPassword},
        {QStringLiteral("cbxDirect"), fraDirectMail1->cbxDirect},
        {QStringLiteral("cbxErrorsByEmail"), cbxErrorsByEmail},
    };
    QHash<QString, QPlainTextEdit*> memos{
        {QStringLiteral("memTextMessage"), memTextMessage},
        {QStringLiteral("memHTMLSource"), memHTMLSource},
        {QStringLiteral("memStatus"), memStatus},
    };
    QHash<QString, QComboBox*> lists{
        {QStringLiteral("cbRecipientEmailFormat"), cbRecipientEmailFormat},
        {QStringLiteral("cbCurrentList"), cbCurrentList},
        {QStringLiteral("cbFromEmail"), cbFromEmail},
    };
    QHash<QString, FileDialogState*> dialogs{
        {QStringLiteral("opnTextMessage"), &opnTextMessage},
        {QStringLiteral("opnHTMLMessage"), &opnHTMLMessage},
        {QStringLiteral("opnMessage"), &opnMessage},
        {QStringLiteral("opnImage"), &opnImage},
    };

    for (const ControlValue& c : controls) {
        if (QLineEdit* e = edits.value(c.name))
            e->setText(c.text);
        else if (QCheckBox* b = checks.value(c.name))
            b->setChecked(c.checked);
        else if (QPlainTextEdit* m = memos.value(c.name))
            m->setPlainText(c.lines.join(QLatin1Char('\n')));
        else if (QComboBox* l = lists.value(c.name))
            l->setCurrentIndex(c.index);
        else if (FileDialogState* d = dialogs.value(c.name))
            *d = {c.text, c.folder};
        else if (c.name == QLatin1String("rgSendTo"))
            rgSendTo->setItemIndex(c.index);
        else if (c.name == QLatin1String("cbEmailSubject"))
            replaceItems(cbEmailSubject, m_subjects.subjects(), c.text);
        else if (c.name == QLatin1String("txtTestEmail"))
            replaceItems(txtTestEmail, c.items, c.text);
    }
}

bool TfrmBrevicastMain::loadWindowState(const QString& path, bool messageFile)
{
    QList<ControlValue> controls = windowState();
    QString error;
    if (!bv::app::loadWindowState(path, controls, m_services.programFolder, &error, messageFile, m_services.secrets)) {
        m_services.dialogs.showError(error);
        return false;
    }
    clearMessage();
    enableMarkedActions();
    applyWindowState(controls);
    refreshCustomRecipientName();
    refreshListCount();
    refreshSendTo();
    memHTMLSourceExit();
    refreshAuthentication();
    fraDirectMail1->refreshDirectSend();
    return true;
}

bool TfrmBrevicastMain::saveWindowState(const QString& path, bool messageFile)
{
    QString error;
    if (bv::app::saveWindowState(path, windowState(), &error,
                                 messageFile ? StateFile::Message : StateFile::Settings, m_services.secrets))
        return true;
    m_services.dialogs.showError(error);
    return false;
}

bool TfrmBrevicastMain::SaveComponentStates()
{
    return saveWindowState(m_services.programFolder + settingsFileName());
}

void TfrmBrevicastMain::clearMessage()
{
    cbFromEmail->setCurrentIndex(-1);
    cbCurrentList->setCurrentIndex(-1);
    cbRecipientEmailFormat->setCurrentIndex(-1);
    cbEmailSubject->setCurrentIndex(-1);
    cbEmailSubject->setEditText(QString());
    txtSkipTheFirst->clear();
    memTextMessage->clear();
    memHTMLSource->clear();
    memStatus->clear();
    lblCount->clear();
    lblCurrentEmail->clear();
    lblLastError->clear();
}

void TfrmBrevicastMain::NewMessage()
{
    clearMessage();
    refreshListCount();
    refreshSendTo();
}

void TfrmBrevicastMain::loadSubjects()
{
    QString error;
    if (!m_subjects.load(m_services.programFolder + compose::SubjectHistory::fileName(), &error))
        m_services.dialogs.showError(error);
    replaceItems(cbEmailSubject, m_subjects.subjects(), cbEmailSubject->currentText());
}

void TfrmBrevicastMain::saveSubjects()
{
    const QString text = cbEmailSubject->currentText();
    if (m_subjects.addIfAbsent(text))
        replaceItems(cbEmailSubject, m_subjects.subjects(), text);
    const QString path = m_services.programFolder + compose::SubjectHistory::fileName();
    if (!m_subjects.save(path))
        m_services.dialogs.showError(unableToWriteText(path));
}

void TfrmBrevicastMain::deleteSubject()
{
    m_subjects.remove(cbEmailSubject->currentText());
    replaceItems(cbEmailSubject, m_subjects.subjects(), QString());
}

bool TfrmBrevicastMain::eventFilter(QObject* watched, QEvent* event)
{
    // Leaving a control for a menu or another window is not leaving it.
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        const bool left = reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
        if (left && watched == cbEmailSubject && m_startupDone)
            saveSubjects();
        else if (left && watched == memHTMLSource)
            memHTMLSourceExit();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmBrevicastMain::clearPlainText()
{
    memTextMessage->selectAll();
    memTextMessage->cut();
}

void TfrmBrevicastMain::clearHtmlSource()
{
    memHTMLSource->selectAll();
    memHTMLSource->cut();
    memHTMLSource->setPlainText(QStringLiteral("<HTML>\n<BODY>\n\n</BODY>\n</HTML>"));
}

void TfrmBrevicastMain::openHelp()
{
    const QString guide = helpGuidePath();
    if (!QFileInfo::exists(guide)) {
        m_services.dialogs.showError(QStringLiteral("The help file %1 cannot be found.").arg(guide));
        return;
    }
    if (!m_services.shell.openUrl(QUrl::fromLocalFile(guide)))
        m_services.dialogs.showError(QStringLiteral("Unable to open the help file %1.").arg(guide));
}

void TfrmBrevicastMain::showAbout()
{
    TForm_Splash about(m_services.clock, m_services.dialogs, SplashMode::About, {}, this);
    m_services.dialogs.execModal(about);
}

void TfrmBrevicastMain::closeEvent(QCloseEvent* event)
{
    // A mailing in progress ends after its current recipient; the window
    // closes then.
    if (m_mailingCommands && !m_mailingCommands->closeRequested()) {
        event->ignore();
        return;
    }
    // Before the state was restored the window holds nothing worth keeping,
    // and writing it would replace the user's settings with blanks.
    if (m_startupDone) {
        saveSubjects();
        if (!m_keepSettingsFile)
            SaveComponentStates();
    }
    event->accept();
}

} // namespace bv::app
