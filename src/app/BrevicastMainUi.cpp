// Construction of the main window's controls and commands.
#include "app/BrevicastMainUi.h"

#include "app/BrevicastMain.h"
#include "app/DirectMailFrame.h"
#include "app/ProgramIcon.h"
#include "app/WebBrowserWithUI.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace bv::app {

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), m_group(new QButtonGroup(this))
{
    auto* layout = new QHBoxLayout(this);
    for (qsizetype i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items.at(i), this);
        m_group->addButton(b, int(i));
        m_buttons.append(b);
        layout->addWidget(b);
    }
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            emit itemIndexChanged(id);
    });
}

void TRadioGroup::addTrailingWidget(QWidget* widget)
{
    layout()->addWidget(widget);
}

int TRadioGroup::itemIndex() const
{
    return m_group->checkedId();
}

void TRadioGroup::setItemIndex(int index)
{
    if (QAbstractButton* b = m_group->button(index)) {
        b->setChecked(true);
        return;
    }
    // No choice: exclusive groups refuse to uncheck their last button.
    m_group->setExclusive(false);
    for (QRadioButton* b : std::as_const(m_buttons))
        b->setChecked(false);
    m_group->setExclusive(true);
    emit itemIndexChanged(-1);
}

void bindToAction(QAbstractButton* button, QAction* action)
{
    QObject::connect(button, &QAbstractButton::clicked, action, &QAction::trigger);
    button->setEnabled(action->isEnabled());
    QObject::connect(action, &QAction::enabledChanged, button, &QWidget::setEnabled);
}

QString editorText(const QPlainTextEdit* editor)
{
    // toPlainText() would turn a no-break space into a space and a line
    // separator (U+2028) into a line break; the raw text keeps both, and only
    // the block ends become line breaks.
    QString text = editor->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text;
}

QStringList editorLines(const QPlainTextEdit* editor)
{
    const QString text = editorText(editor);
    if (text.isEmpty())
        return {};
    return text.split(QLatin1Char('\n'));
}

namespace {

template <typename W>
W* named(W* widget, const char* name, const QString& accessibleName = {})
{
    widget->setObjectName(QLatin1String(name));
    if (!accessibleName.isEmpty())
        widget->setAccessibleName(accessibleName);
    return widget;
}

QLabel* captionFor(const QString& text, const char* name, QWidget* buddy, QWidget* parent)
{
    auto* label = named(new QLabel(text, parent), name);
    label->setBuddy(buddy);
    QString plain = text;
    plain.remove(QLatin1Char('&'));
    if (plain.endsWith(QLatin1Char(':')))
        plain.chop(1);
    if (buddy->accessibleName().isEmpty())
        buddy->setAccessibleName(plain.trimmed());
    return label;
}

QToolBar* toolBar(const char* name, const QString& accessibleName, QWidget* parent)
{
    auto* bar = named(new QToolBar(parent), name, accessibleName);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return bar;
}

// A tool bar shows an action's icon text, which has no access key; its
// buttons show the command's own caption, "&Send", so that Alt+S works.
void showAccessKeys(QToolBar* bar)
{
    for (QAction* a : bar->actions()) {
        auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(a));
        if (!button || a->text().isEmpty())
            continue;
        button->setText(a->text());
        // The button takes the icon text again whenever the action changes.
        QObject::connect(a, &QAction::changed, button, [a, button] { button->setText(a->text()); });
    }
}

QToolButton* toolButton(const QString& text, const char* name, QToolBar* bar)
{
    auto* b = named(new QToolButton(bar), name);
    b->setText(text);
    b->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QString plain = text;
    b->setAccessibleName(plain.remove(QLatin1Char('&')).trimmed());
    bar->addWidget(b);
    return b;
}

QToolButton* headerButton(const QString& glyph, const QString& hint, const char* name, QWidget* parent)
{
    auto* b = named(new QToolButton(parent), name, hint);
    b->setText(glyph);
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setFixedSize(26, 24);
    return b;
}

QLabel* statusLabel(const char* name, const QString& accessibleName, const QString& text, QWidget* parent)
{
    auto* label = named(new QLabel(text, parent), name, accessibleName);
    // What a run shows here comes from recipients and servers.
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

void TfrmBrevicastMain::createActions()
{
    struct Def
    {
        QAction** slot;
        const char* name;
        const char* text;
        const char* caption; // the command's caption where the menu text differs
        QKeySequence key;
    };
    const Def defs[] = {
        {&Action1, "Action1", "&Send", nullptr, {}},
        {&Action2, "Action2", "&Redo", nullptr, {}},
        {&Action20, "Action20", "&Test", nullptr, {}},
        {&Action3, "Action3", "&Cancel", nullptr, {}},
        {&Action4, "Action4", "&Pause", nullptr, {}},
        {&Action5, "Action5", "Pr&eview", "Preview", {}},
        {&Action6, "Action6", "&Recipients", nullptr, {}},
        {&Action7, "Action7", "&Exit", nullptr, {}},
        {&CheckWeb, "CheckWeb", "&Check Web", nullptr, {}},
        {&Action8, "Action8", "&Updates?", nullptr, {}},
        {&OpenMsg, "OpenMsg", "&Open Message", nullptr, QKeySequence(Qt::CTRL | Qt::Key_O)},
        {&SaveMsg, "SaveMsg", "&Save Message", nullptr, QKeySequence(Qt::CTRL | Qt::Key_S)},
        {&Action22, "Action22", "S&ave Message As...", "Save Message As...", {}},
        {&LoadPlainText, "LoadPlainText", "Load &Plain Text", nullptr, {}},
        {&SavePlainText, "SavePlainText", "Save P&lain Text", nullptr, QKeySequence(Qt::CTRL | Qt::Key_B)},
        {&Action23, "Action23", "Sa&ve Plain Text As...", "Save Plain Text As...", {}},
        {&LoadHTML, "LoadHTML", "Load &HTML", nullptr, {}},
        {&SaveHTML, "SaveHTML", "Save H&TML", nullptr, QKeySequence(Qt::CTRL | Qt::Key_T)},
        {&Action24, "Action24", "Sav&e HTML As...", "Save HTML As...", {}},
        {&Exit, "Exit", "E&xit", nullptr, {}},
        {&Action25, "Action25", "&New Message", nullptr, {}},
        {&EditCut1, "EditCut1", "Cu&t", nullptr, QKeySequence(Qt::CTRL | Qt::Key_X)},
        {&EditCopy1, "EditCopy1", "&Copy", nullptr, QKeySequence(Qt::CTRL | Qt::Key_C)},
        {&EditPaste1, "EditPaste1", "&Paste", nullptr, QKeySequence(Qt::CTRL | Qt::Key_V)},
        {&EditSelectAll1, "EditSelectAll1", "Select &All", nullptr, QKeySequence(Qt::CTRL | Qt::Key_A)},
        {&EditUndo1, "EditUndo1", "&Undo", nullptr, QKeySequence(Qt::CTRL | Qt::Key_Z)},
        {&EditDelete1, "EditDelete1", "&Delete", nullptr, QKeySequence(Qt::Key_Delete)},
        {&FirstName, "FirstName", "&First Name", nullptr, QKeySequence(Qt::CTRL | Qt::Key_F)},
        {&LastName, "LastName", "&Last Name", nullptr, QKeySequence(Qt::CTRL | Qt::Key_L)},
        {&Salutation, "Salutation", "&Salutation", nullptr, {}},
        {&Image, "Image", "&Image", nullptr, QKeySequence(Qt::CTRL | Qt::Key_I)},
        {&Expletive, "Expletive", "&Expletive", nullptr, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_X)},
        {&Action26, "Action26", "&Current Message", nullptr, {}},
        {&Action31, "Action31", "&Last Email - All", nullptr, {}},
        {&Action28, "Action28", "L&ast Email - Errors", nullptr, {}},
        {&Action27, "Action27", "La&st Email - Successes", nullptr, {}},
        {&Action29, "Action29", "Las&t Email - Summary ", nullptr, {}},
        {&Action30, "Action30", "&Email History", nullptr, {}},
        {&ClearHistory, "ClearHistory", "&Clear History", nullptr, {}},
        {&Action9, "Action9", "&About", nullptr, {}},
        {&Help, "Help", "&Contents", nullptr, {}},
        {&Action21, "Action21", "R&eset Warnings", nullptr, {}},
    };
    for (const Def& d : defs) {
        auto* a = new QAction(QString::fromLatin1(d.text), this);
        a->setObjectName(QLatin1String(d.name));
        if (d.caption)
            a->setIconText(QString::fromLatin1(d.caption));
        if (!d.key.isEmpty())
            a->setShortcut(d.key);
        addAction(a);
        *d.slot = a;
    }
}

void TfrmBrevicastMain::createMenus()
{
    auto menu = [this](const char* name, const QString& title, const QList<QAction*>& items) {
        QMenu* m = ActionMainMenuBar2->addMenu(title);
        m->setObjectName(QLatin1String(name));
        m->setAccessibleName(QString(title).remove(QLatin1Char('&')));
        for (QAction* a : items) {
            if (a)
                m->addAction(a);
            else
                m->addSeparator();
        }
        return m;
    };
    mnuFile = menu("mnuFile", QStringLiteral("&File"),
                   {OpenMsg, SaveMsg, Action22, LoadPlainText, SavePlainText, Action23, LoadHTML, SaveHTML,
                    Action24, Exit, Action25});
    mnuEdit = menu("mnuEdit", QStringLiteral("&Edit"),
                   {EditCut1, EditCopy1, EditPaste1, nullptr, EditSelectAll1, EditUndo1, nullptr, EditDelete1});
    mnuInsert = menu("mnuInsert", QStringLiteral("&Insert"),
                     {FirstName, LastName, Salutation, nullptr, Image, nullptr, Expletive});
    mnuPrint = menu("mnuPrint", QStringLiteral("&Print"),
                    {Action26, nullptr, Action31, Action28, Action27, Action29, nullptr, Action30});
    mnuTools = menu("mnuTools", QStringLiteral("&Tools"), {ClearHistory});
    mnuHelp = menu("mnuHelp", QStringLiteral("&Help"), {Action9, Help, Action21});
}

QWidget* TfrmBrevicastMain::createHeader()
{
    Panel3 = named(new QFrame(this), "Panel3", QStringLiteral("Brevicast"));
    Panel3->setFrameShape(QFrame::StyledPanel);
    imgAllIcon = named(new QLabel(Panel3), "imgAllIcon", QStringLiteral("Program icon"));
    imgAllIcon->setPixmap(programPixmap(28));
    lblBrevicast = named(new QLabel(QStringLiteral("Brevicast  "), Panel3), "lblBrevicast");
    QFont title = lblBrevicast->font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.3);
    lblBrevicast->setFont(title);
    ActionMainMenuBar2 = named(new QMenuBar(Panel3), "ActionMainMenuBar2", QStringLiteral("Main menu"));
    ActionMainMenuBar2->setNativeMenuBar(false);
    SpeedButton2 = headerButton(QStringLiteral("\u2013"), QStringLiteral("Minimize"), "SpeedButton2", Panel3);
    SpeedButton1 = headerButton(QStringLiteral("\u2715"), QStringLiteral("Exit"), "SpeedButton1", Panel3);
    SpeedButton3 = headerButton(QStringLiteral("?"), QStringLiteral("Help"), "SpeedButton3", Panel3);

    auto* row = new QHBoxLayout(Panel3);
    row->setContentsMargins(6, 2, 6, 2);
    row->addWidget(imgAllIcon);
    row->addWidget(lblBrevicast);
    row->addWidget(ActionMainMenuBar2, 1, Qt::AlignVCenter);
    row->addWidget(SpeedButton2);
    row->addWidget(SpeedButton1);
    row->addWidget(SpeedButton3);
    return Panel3;
}

QWidget* TfrmBrevicastMain::createEditor()
{
    TABSMessage = named(new QTabWidget(this), "TABSMessage", QStringLiteral("Message"));
    TABSMessage->setTabPosition(QTabWidget::South);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    struct Page
    {
        const char* name;
        QString title;
        const char* editorName;
        const char* barName;
        const char* buttonNames[4];
        QPlainTextEdit*& editor;
        QToolBar*& bar;
        QToolButton** buttons[4];
    };
    auto page = [&](const Page& p) {
        auto* tab = named(new QWidget(TABSMessage), p.name, p.title);
        p.bar = toolBar(p.barName, p.title + QStringLiteral(" tools"), tab);
        const QString captions[4] = {QStringLiteral("  &Clear  "), QStringLiteral("&Load"), QStringLiteral("&Save"),
                                     QStringLiteral("Save As...")};
        for (int i = 0; i < 4; ++i)
            *p.buttons[i] = toolButton(captions[i], p.buttonNames[i], p.bar);
        p.editor = named(new QPlainTextEdit(tab), p.editorName, p.title);
        p.editor->setFont(fixed);
        p.editor->setLineWrapMode(QPlainTextEdit::NoWrap);
        auto* layout = new QVBoxLayout(tab);
        layout->setContentsMargins(2, 2, 2, 2);
        layout->addWidget(p.bar);
        layout->addWidget(p.editor, 1);
        TABSMessage->addTab(tab, p.title);
        return tab;
    };
    tabPlainText = page({"tabPlainText",
                         QStringLiteral("Plain Text Message"),
                         "memTextMessage",
                         "tlbPlainText",
                         {"btnClearText", "btnLoadText", "btnSaveText", "btnSaveTextAs"},
                         memTextMessage,
                         tlbPlainText,
                         {&btnClearText, &btnLoadText, &btnSaveText, &btnSaveTextAs}});
    tabHTMLSource = page({"tabHTMLSource",
                          QStringLiteral("HTML Source"),
                          "memHTMLSource",
                          "tlbHTMLSource",
                          {"btnClearHTML", "btnLoadHTML", "btnSaveHTML", "btnSaveHTMLAs"},
                          memHTMLSource,
                          tlbHTMLSource,
                          {&btnClearHTML, &btnLoadHTML, &btnSaveHTML, &btnSaveHTMLAs}});

    tabHTMLPreview = named(new QWidget(TABSMessage), "tabHTMLPreview", QStringLiteral("HTML Preview"));
    wbHTMLMessage = named(new TWebBrowserWithUI(tabHTMLPreview), "wbHTMLMessage", QStringLiteral("HTML Preview"));
    auto* previewLayout = new QVBoxLayout(tabHTMLPreview);
    previewLayout->setContentsMargins(2, 2, 2, 2);
    previewLayout->addWidget(wbHTMLMessage);
    TABSMessage->addTab(tabHTMLPreview, QStringLiteral("HTML Preview"));

    bindToAction(btnLoadText, LoadPlainText);
    bindToAction(btnSaveText, SavePlainText);
    bindToAction(btnLoadHTML, LoadHTML);
    bindToAction(btnSaveHTML, SaveHTML);
    return TABSMessage;
}

QWidget* TfrmBrevicastMain::createStatusPages()
{
    PageControl2 = named(new QTabWidget(Panel2), "PageControl2", QStringLiteral("Settings and status"));

    TabSheet3 = named(new QWidget(PageControl2), "TabSheet3", QStringLiteral("Status"));
    memStatus = named(new QPlainTextEdit(TabSheet3), "memStatus");
    memStatus->setReadOnly(true);
    auto* lblSendStatus = captionFor(QStringLiteral("Send Status"), "lblSendStatus", memStatus, TabSheet3);
    lblCurrentActivity = statusLabel("lblCurrentActivity", QStringLiteral("Current Activity"), {}, TabSheet3);
    QFont activity = lblCurrentActivity->font();
    activity.setBold(true);
    lblCurrentActivity->setFont(activity);
    lblSenderActiveThreads =
        statusLabel("lblSenderActiveThreads", QStringLiteral("Active Connections"), QStringLiteral("0"), TabSheet3);
    lblLastError = statusLabel("lblLastError", QStringLiteral("Last Error"), {}, TabSheet3);
    lblLastError->setWordWrap(true);
    lblCurrentEmail = statusLabel("lblCurrentEmail", QStringLiteral("Current Recipient"), {}, TabSheet3);
    lblTotalErrors =
        statusLabel("lblTotalErrors", QStringLiteral("Total Errors"), QStringLiteral("Total Errors: "), TabSheet3);
    lblCount = statusLabel("lblCount", QStringLiteral("Messages processed"), {}, TabSheet3);
    pbEmailProgress = named(new QProgressBar(TabSheet3), "pbEmailProgress", QStringLiteral("Sending progress"));
    pbEmailProgress->setValue(0);

    auto* facts = new QGridLayout;
    facts->setColumnStretch(1, 1);
    facts->addWidget(named(new QLabel(QStringLiteral("Active Connections"), TabSheet3), "lblActiveConnections"),
                     0, 0);
    facts->addWidget(lblSenderActiveThreads, 0, 1);
    facts->addWidget(named(new QLabel(QStringLiteral("Last Error:"), TabSheet3), "lblLastErrorCaption"), 1, 0);
    facts->addWidget(lblLastError, 1, 1);
    facts->addWidget(named(new QLabel(QStringLiteral("Current Recipient:"), TabSheet3), "lblCurrentEmailCaption"),
                     2, 0);
    facts->addWidget(lblCurrentEmail, 2, 1);
    auto* counts = new QHBoxLayout;
    counts->addWidget(lblTotalErrors);
    counts->addStretch();
    counts->addWidget(lblCount);

    auto* status = new QVBoxLayout(TabSheet3);
    status->addWidget(lblSendStatus);
    status->addWidget(memStatus, 1);
    status->addWidget(lblCurrentActivity);
    status->addLayout(facts);
    status->addLayout(counts);
    status->addWidget(pbEmailProgress);
    PageControl2->addTab(TabSheet3, QStringLiteral("Status"));

    TabSheet4 = named(new QWidget(PageControl2), "TabSheet4", QStringLiteral("Send By SMTP"));
    cbxSMTP = named(new QCheckBox(QStringLiteral("Send using SMTP"), TabSheet4), "cbxSMTP");
    gbSMTPSetup = named(new QGroupBox(QStringLiteral("SMTP Setup"), TabSheet4), "gbSMTPSetup");
    txtDomain = named(new QLineEdit(gbSMTPSetup), "txtDomain");
    txtSMTPServer = named(new QLineEdit(gbSMTPSetup), "txtSMTPServer");
    auto* smtpForm = new QFormLayout(gbSMTPSetup);
    smtpForm->addRow(captionFor(QStringLiteral("Domain (For Identification)"), "lblDomain", txtDomain, gbSMTPSetup),
                     txtDomain);
    smtpForm->addRow(captionFor(QStringLiteral("SMTP Server"), "lblSMTPServer", txtSMTPServer, gbSMTPSetup),
                     txtSMTPServer);
    cbxAuth = named(new QCheckBox(QStringLiteral("Use Authentication"), TabSheet4), "cbxAuth");
    gbAuth = named(new QGroupBox(QStringLiteral("Authentication"), TabSheet4), "gbAuth");
    txtUser = named(new QLineEdit(gbAuth), "txtUser");
    txtPassword = named(new QLineEdit(gbAuth), "txtPassword");
    txtPassword->setEchoMode(QLineEdit::Password);
    auto* authForm = new QFormLayout(gbAuth);
    authForm->addRow(captionFor(QStringLiteral("User ID"), "lblUser", txtUser, gbAuth), txtUser);
    authForm->addRow(captionFor(QStringLiteral("Password"), "lblPassword", txtPassword, gbAuth), txtPassword);
    cbxAllowPlainPassword = named(new QCheckBox(QStringLiteral("Allow password without encryption"), gbAuth),
                                  "cbxAllowPlainPassword");
    cbxAllowPlainPassword->setToolTip(QStringLiteral(
        "Send the password even when the server offers no encryption (STARTTLS): anyone on the way can "
        "read it then. Servers on this computer always get it."));
    authForm->addRow(cbxAllowPlainPassword);
    auto* smtp = new QVBoxLayout(TabSheet4);
    smtp->addWidget(cbxSMTP);
    smtp->addWidget(gbSMTPSetup);
    smtp->addWidget(cbxAuth);
    smtp->addWidget(gbAuth);
    smtp->addStretch();
    PageControl2->addTab(TabSheet4, QStringLiteral("Send By SMTP"));

    TabSheet1 = named(new QWidget(PageControl2), "TabSheet1", QStringLiteral("Send Direct"));
    fraDirectMail1 = new TfraDirectMail(m_services.dialogs, m_services.programFolder, TabSheet1);
    lblDirectWarning = named(new QLabel(QStringLiteral("Though faster, without being equipped with reverse DNS "
                                                       "entries  for the IP address you are sending from, many "
                                                       "servers will reject this type of email."),
                                        TabSheet1),
                             "lblDirectWarning");
    lblDirectWarning->setWordWrap(true);
    auto* direct = new QVBoxLayout(TabSheet1);
    direct->addWidget(fraDirectMail1);
    direct->addWidget(lblDirectWarning);
    direct->addStretch();
    PageControl2->addTab(TabSheet1, QStringLiteral("Send Direct"));
    return PageControl2;
}

QWidget* TfrmBrevicastMain::createSetup()
{
    Panel2 = named(new QFrame(this), "Panel2", QStringLiteral("Mailing set-up"));

    cbRecipientEmailFormat = named(new QComboBox(Panel2), "cbRecipientEmailFormat");
    cbRecipientEmailFormat->addItems(recipientFormats());
    cbRecipientEmailFormat->setCurrentIndex(-1);
    txtCustomRecipientName = named(new QLineEdit(Panel2), "txtCustomRecipientName");
    lblCustomRecipientName = captionFor(QStringLiteral("Custom Recipient Name"), "lblCustomRecipientName",
                                        txtCustomRecipientName, Panel2);
    cbFromEmail = named(new QComboBox(Panel2), "cbFromEmail");
    btnManageSenders = named(new QPushButton(QStringLiteral("Manage"), Panel2), "btnManageSenders");
    btnSenderDomains = named(new QPushButton(QStringLiteral("Domains"), Panel2), "btnSenderDomains",
                             QStringLiteral("Sender Domains"));
    btnSenderDomains->setToolTip(QStringLiteral("Sender Domains: signing keys and DNS records"));
    cbEmailSubject = named(new QComboBox(Panel2), "cbEmailSubject");
    cbEmailSubject->setEditable(true);
    cbEmailSubject->setInsertPolicy(QComboBox::NoInsert);
    btnDeleteSubject = named(new QPushButton(QStringLiteral("Delete"), Panel2), "btnDeleteSubject",
                             QStringLiteral("Delete Subject"));

    auto* form = new QGridLayout;
    form->setColumnStretch(1, 1);
    form->addWidget(captionFor(QStringLiteral("Recipient Name"), "lblRecipientName", cbRecipientEmailFormat, Panel2),
                    0, 0);
    form->addWidget(cbRecipientEmailFormat, 0, 1, 1, 2);
    form->addWidget(lblCustomRecipientName, 1, 0);
    form->addWidget(txtCustomRecipientName, 1, 1, 1, 2);
    form->addWidget(captionFor(QStringLiteral("From:"), "lblFrom", cbFromEmail, Panel2), 2, 0);
    form->addWidget(cbFromEmail, 2, 1);
    auto* senderButtons = new QHBoxLayout;
    senderButtons->addWidget(btnManageSenders);
    senderButtons->addWidget(btnSenderDomains);
    form->addLayout(senderButtons, 2, 2);
    form->addWidget(captionFor(QStringLiteral("Subject:"), "lblSubject", cbEmailSubject, Panel2), 3, 0);
    form->addWidget(cbEmailSubject, 3, 1);
    form->addWidget(btnDeleteSubject, 3, 2);

    pnlSendTo = named(new QFrame(Panel2), "pnlSendTo", QStringLiteral("Send To"));
    pnlSendTo->setFrameShape(QFrame::StyledPanel);
    rgSendTo = named(new TRadioGroup(QStringLiteral("Send To"),
                                     {QStringLiteral("Send All"), QStringLiteral("Skip The First")}, pnlSendTo),
                     "rgSendTo");
    txtSkipTheFirst = named(new QLineEdit(rgSendTo), "txtSkipTheFirst", QStringLiteral("Skip The First"));
    txtSkipTheFirst->setMaximumWidth(80);
    rgSendTo->addTrailingWidget(txtSkipTheFirst);
    cbCurrentList = named(new QComboBox(pnlSendTo), "cbCurrentList");
    txtSendAll = named(new QLineEdit(pnlSendTo), "txtSendAll", QStringLiteral("Recipients not excluded"));
    txtSendAll->setReadOnly(true);
    txtSendAll->setMaximumWidth(90);
    txtSendAll->setToolTip(QStringLiteral("Recipients not excluded"));
    auto* sendToRow = new QHBoxLayout;
    sendToRow->addWidget(rgSendTo);
    sendToRow->addStretch();
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(captionFor(QStringLiteral("List To Send To:"), "lblCurrentList", cbCurrentList, pnlSendTo));
    listRow->addWidget(cbCurrentList, 1);
    listRow->addWidget(txtSendAll);
    auto* sendTo = new QVBoxLayout(pnlSendTo);
    sendTo->addLayout(sendToRow);
    sendTo->addLayout(listRow);

    cbxErrorsByEmail = named(new QCheckBox(QStringLiteral("Send Errors To From Address"), Panel2), "cbxErrorsByEmail");
    ActionToolBar2 = toolBar("ActionToolBar2", QStringLiteral("Run"), Panel2);
    ActionToolBar2->addActions({Action1, Action2, Action3, Action4, Action5});
    showAccessKeys(ActionToolBar2);
    txtTestEmail = named(new QComboBox(Panel2), "txtTestEmail", QStringLiteral("Test Email Address"));
    txtTestEmail->setEditable(true);
    txtTestEmail->setInsertPolicy(QComboBox::NoInsert);
    txtTestEmail->setMinimumContentsLength(24);
    ActionToolBar1 = toolBar("ActionToolBar1", QStringLiteral("Test"), Panel2);
    ActionToolBar1->addAction(Action20);
    showAccessKeys(ActionToolBar1);

    auto* left = new QVBoxLayout;
    left->addLayout(form);
    left->addWidget(pnlSendTo);
    left->addWidget(cbxErrorsByEmail);
    left->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addWidget(createStatusPages(), 1);
    auto* runRow = new QHBoxLayout;
    runRow->addWidget(ActionToolBar2);
    runRow->addStretch();
    runRow->addWidget(txtTestEmail);
    runRow->addWidget(ActionToolBar1);
    auto* layout = new QVBoxLayout(Panel2);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(top);
    layout->addLayout(runRow);
    return Panel2;
}

void TfrmBrevicastMain::createWidgets()
{
    createActions();
    setMenuWidget(createHeader());
    createMenus();

    auto* central = named(new QWidget(this), "pnlClient", QStringLiteral("Brevicast"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    // The user decides how much room the message gets.
    auto* split = named(new QSplitter(Qt::Vertical, central), "splMessage", QStringLiteral("Message and set-up"));
    split->setChildrenCollapsible(false);
    split->addWidget(createEditor());
    split->addWidget(createSetup());
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setSizes({420, 330});
    TABSMessage->setMinimumHeight(160);
    layout->addWidget(split, 1);

    BottomToolBar = toolBar("BottomToolBar", QStringLiteral("Program"), central);
    BottomToolBar->addActions({Action7, CheckWeb, Action8});
    auto* spacer = new QWidget(BottomToolBar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    spacer->setEnabled(false);
    BottomToolBar->addWidget(spacer);
    BottomToolBar->addAction(Action6);
    showAccessKeys(BottomToolBar);
    layout->addWidget(BottomToolBar);

    // Outside the set-up area's layout: it unfolds over its lower part.
    panWeb = named(new QFrame(Panel2), "panWeb", QStringLiteral("Web"));
    WebBrowser1 = named(new TWebBrowserWithUI(panWeb), "WebBrowser1", QStringLiteral("Web page"));
    auto* web = new QVBoxLayout(panWeb);
    web->setContentsMargins(0, 0, 0, 0);
    web->addWidget(WebBrowser1);
    setCentralWidget(central);
}

} // namespace bv::app
