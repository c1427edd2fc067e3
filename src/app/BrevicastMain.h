#pragma once

#include "app/WindowState.h"
#include "compose/ComposeMessage.h"
#include "compose/SubjectHistory.h"
#include "core/Services.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QToolBar;
class QToolButton;
class QWidget;

namespace bv::data {
class Connection;
class TableView;
class TdmBrevicastData;
class TfrmGetListName;
} // namespace bv::data

namespace bv::send {
class TIpSmtpClient;
}

namespace bv::lists {
class TfrmRecipients;
}

namespace bv::app {

class EditCommands;
class MailingCommands;
class MessageCommands;
class ReportCommands;
class ShellCommands;
class TForm_Splash;
class TRadioGroup;
class TfraDirectMail;
class TWebBrowserWithUI;

// Where a file dialog of the main window last was.
struct FileDialogState
{
    QString fileName;
    QString initialDir;
};

// The main window: message editor, mailing set-up, status and every command.
class TfrmBrevicastMain : public QMainWindow
{
    Q_OBJECT
public:
    // The entries of cbRecipientEmailFormat, in order; the last is "Custom".
    static QStringList recipientFormats();
    static constexpr int kCustomFormat = 6;
    static QString settingsFileName() { return QStringLiteral("BrevicastSettings.ini"); }

    TfrmBrevicastMain(Services& services, data::Connection& localConnect, QWidget* parent = nullptr);
    ~TfrmBrevicastMain() override;

    // Set by the start-up before the window is shown.
    // The mailing commands come with it.
    void setDataModule(data::TdmBrevicastData* dataModule);
    data::TdmBrevicastData* dataModule() const { return m_data; }
    data::Connection& localConnect() const { return m_localConnect; }
    void setListNamePrompt(data::TfrmGetListName* prompt) { m_listNamePrompt = prompt; }
    data::TfrmGetListName* listNamePrompt() const { return m_listNamePrompt; }
    // The start-up splash, shown modally when the window is first shown; the
    // window frees it when it closes.
    void setStartupSplash(TForm_Splash* splash);
    // The first command-line argument: a message file to load instead of the
    // settings file, when it is not blank.
    void setMessageFileArgument(const QString& argument) { m_messageFileArgument = argument; }

    // Status helpers for the mailing run and direct delivery.
    void ShowActivity(const QString& text);
    void AddStatusLine(const QString& text);

    // The window-state store: the settings file at shut-down, message files.
    bool SaveComponentStates();
    // A message file is written without the SMTP password.
    bool saveWindowState(const QString& path, bool messageFile = false);
    // Starts from a new message, restores every persisted control from the
    // file and refreshes what depends on them, the HTML preview included. A
    // missing settings file restores the defaults; a message file must exist
    // and be one. A file that cannot be read is reported and changes nothing;
    // returns false then.
    bool loadWindowState(const QString& path, bool messageFile = false);
    QList<ControlValue> windowState() const;
    void applyWindowState(const QList<ControlValue>& controls);

    // "&New Message" without the refresh of the list count and send-to choice.
    void clearMessage();
    void NewMessage();

    // The recipient count of the list chosen in cbCurrentList into txtSendAll.
    void refreshListCount();
    void refreshCustomRecipientName();
    void refreshSendTo();
    void refreshAuthentication();
    void refreshInsertCommands();
    // Refreshes the "HTML Preview" page from the HTML editor.
    bool memHTMLSourceExit();
    // Refills cbCurrentList from the list registry; nothing is chosen.
    void loadListNames();
    // Refills cbFromEmail with the sender account names; nothing is chosen.
    void loadSenderNames();

    // The record views the start-up maintenance ran on, kept for the recipient
    // list window.
    data::TableView* recipientsView() const;
    data::TableView* exclusionsView() const;
    // The recipient list window, made once when first needed (at start-up,
    // for the table maintenance); null without a data module.
    lists::TfrmRecipients* recipientsWindow();
    // "Recipients": the list window, modally; the list picker is refilled after.
    void showRecipients();

    // The main window's current SMTP client, owner of the message object.
    send::TIpSmtpClient& smtpClient() const { return *IpSmtpClient1; }
    // What the message is built from: the chosen sender as its From text, the
    // subject and both bodies. Throws AccountsError when the sender
    // accounts cannot be read.
    compose::ComposeInput composeInput() const;
    // Rebuilds the current SMTP client's message for one recipient.
    void ComposeMessage(const QString& salutation, const QString& firstName, const QString& lastName);

    MessageCommands& messageCommands() const { return *m_messageCommands; }
    // Null until the data module is set.
    MailingCommands* mailingCommands() const { return m_mailingCommands; }
    ShellCommands& shellCommands() const { return *m_shellCommands; }
    Services& services() const { return m_services; }
    bool startupDone() const { return m_startupDone; }

    FileDialogState opnTextMessage, opnHTMLMessage, opnMessage, opnImage;
    // The save dialogs remember their file for the rest of the run only.
    FileDialogState SaveDialog1, SaveDialog2, SaveDialog3;

    send::TIpSmtpClient* IpSmtpClient1 = nullptr;

    // Header.
    QFrame* Panel3 = nullptr;
    QLabel* imgAllIcon = nullptr;
    QLabel* lblBrevicast = nullptr;
    QMenuBar* ActionMainMenuBar2 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;

    // Message editor.
    QTabWidget* TABSMessage = nullptr;
    QWidget* tabPlainText = nullptr;
    QWidget* tabHTMLSource = nullptr;
    QWidget* tabHTMLPreview = nullptr;
    QPlainTextEdit* memTextMessage = nullptr;
    QPlainTextEdit* memHTMLSource = nullptr;
    TWebBrowserWithUI* wbHTMLMessage = nullptr;
    QToolBar* tlbPlainText = nullptr;
    QToolBar* tlbHTMLSource = nullptr;
    QToolButton* btnClearText = nullptr;
    QToolButton* btnLoadText = nullptr;
    QToolButton* btnSaveText = nullptr;
    QToolButton* btnSaveTextAs = nullptr;
    QToolButton* btnClearHTML = nullptr;
    QToolButton* btnLoadHTML = nullptr;
    QToolButton* btnSaveHTML = nullptr;
    QToolButton* btnSaveHTMLAs = nullptr;

    // Mailing set-up.
    QFrame* Panel2 = nullptr;
    QComboBox* cbRecipientEmailFormat = nullptr;
    QLabel* lblCustomRecipientName = nullptr;
    QLineEdit* txtCustomRecipientName = nullptr;
    QComboBox* cbFromEmail = nullptr;
    QPushButton* btnManageSenders = nullptr;
    QPushButton* btnSenderDomains = nullptr;
    QComboBox* cbEmailSubject = nullptr;
    QPushButton* btnDeleteSubject = nullptr;
    QFrame* pnlSendTo = nullptr;
    TRadioGroup* rgSendTo = nullptr;
    QLineEdit* txtSkipTheFirst = nullptr;
    QComboBox* cbCurrentList = nullptr;
    QLineEdit* txtSendAll = nullptr;
    QTabWidget* PageControl2 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QWidget* TabSheet4 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QPlainTextEdit* memStatus = nullptr;
    QLabel* lblCurrentActivity = nullptr;
    QLabel* lblSenderActiveThreads = nullptr;
    QLabel* lblLastError = nullptr;
    QLabel* lblCurrentEmail = nullptr;
    QLabel* lblTotalErrors = nullptr;
    QLabel* lblCount = nullptr;
    QProgressBar* pbEmailProgress = nullptr;
    QCheckBox* cbxSMTP = nullptr;
    QGroupBox* gbSMTPSetup = nullptr;
    QLineEdit* txtDomain = nullptr;
    QLineEdit* txtSMTPServer = nullptr;
    QGroupBox* gbAuth = nullptr;
    QLineEdit* txtUser = nullptr;
    QLineEdit* txtPassword = nullptr;
    QCheckBox* cbxAuth = nullptr;
    QCheckBox* cbxAllowPlainPassword = nullptr;
    TfraDirectMail* fraDirectMail1 = nullptr;
    QLabel* lblDirectWarning = nullptr;
    QCheckBox* cbxErrorsByEmail = nullptr;
    QToolBar* ActionToolBar2 = nullptr;
    QComboBox* txtTestEmail = nullptr;
    QToolBar* ActionToolBar1 = nullptr;
    QToolBar* BottomToolBar = nullptr;

    // Web panel.
    QFrame* panWeb = nullptr;
    TWebBrowserWithUI* WebBrowser1 = nullptr;

    // Menus.
    QMenu *mnuFile = nullptr, *mnuEdit = nullptr, *mnuInsert = nullptr, *mnuPrint = nullptr,
          *mnuTools = nullptr, *mnuHelp = nullptr;

    // Commands.
    QAction *Action1 = nullptr, *Action2 = nullptr, *Action3 = nullptr, *Action4 = nullptr,
            *Action5 = nullptr, *Action6 = nullptr, *Action7 = nullptr, *Action8 = nullptr,
            *Action9 = nullptr, *Action20 = nullptr, *Action21 = nullptr, *Action22 = nullptr,
            *Action23 = nullptr, *Action24 = nullptr, *Action25 = nullptr, *Action26 = nullptr,
            *Action27 = nullptr, *Action28 = nullptr, *Action29 = nullptr, *Action30 = nullptr,
            *Action31 = nullptr;
    QAction *CheckWeb = nullptr, *OpenMsg = nullptr, *SaveMsg = nullptr, *LoadPlainText = nullptr,
            *SavePlainText = nullptr, *LoadHTML = nullptr, *SaveHTML = nullptr, *Exit = nullptr;
    QAction *EditCut1 = nullptr, *EditCopy1 = nullptr, *EditPaste1 = nullptr, *EditSelectAll1 = nullptr,
            *EditUndo1 = nullptr, *EditDelete1 = nullptr;
    QAction *FirstName = nullptr, *LastName = nullptr, *Salutation = nullptr, *Image = nullptr,
            *Expletive = nullptr;
    QAction *ClearHistory = nullptr, *Help = nullptr;

signals:
    // The show sequence has ended: the state is restored and the window is
    // ready for the user.
    void startupFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Widget construction lives in BrevicastMainUi.cpp.
    void createActions();
    void createMenus();
    void createWidgets();
    QWidget* createHeader();
    QWidget* createEditor();
    QWidget* createSetup();
    QWidget* createStatusPages();
    void connectControls();

    void afterFirstShow();
    void showStartupSplash();
    void runStartupMaintenance();
    void loadSubjects();
    void saveSubjects();
    void rememberSubject();
    void deleteSubject();
    void clearPlainText();
    void clearHtmlSource();
    void openHelp();
    void showAbout();
    void enableMarkedActions();

    Services& m_services;
    data::Connection& m_localConnect;
    data::TdmBrevicastData* m_data = nullptr;
    data::TfrmGetListName* m_listNamePrompt = nullptr;
    std::unique_ptr<TForm_Splash> m_startupSplash;
    lists::TfrmRecipients* m_recipientsWindow = nullptr;
    EditCommands* m_editCommands = nullptr;
    MessageCommands* m_messageCommands = nullptr;
    MailingCommands* m_mailingCommands = nullptr;
    ReportCommands* m_reportCommands = nullptr;
    ShellCommands* m_shellCommands = nullptr;
    compose::SubjectHistory m_subjects;
    QString m_messageFileArgument;
    bool m_shown = false;
    bool m_startupDone = false;
    // The settings file could not be read at start: shut-down leaves it alone.
    bool m_keepSettingsFile = false;
};

} // namespace bv::app
