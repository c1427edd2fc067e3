#include "pop3Main.h"

#include "core/IniFile.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/PlainText.h"
#include "core/Services.h"
#include "core/TextFile.h"
#include "data/Database.h"
#include "data/ListManager.h"
#include "lists/EmailUtils.h"
#include "lists/ExcludeEmail.h"
#include "returned/MailText.h"
#include "returned/Pop3Session.h"
#include "core/SenderAccounts.h"
#include "returned/Setup.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace bv::returned {

namespace {

const QString kSection = QStringLiteral("Defaults");
const QString kLeaveKey = QStringLiteral("cbxLeaveMailOnServer");
const QString kCancelled = QStringLiteral("Exclude Addresses Cancelled.");
const QString kDeletionCancelled = QStringLiteral("Deletion Cancelled.");
const QString kNoneSelected = QStringLiteral("No Messages Selected.");
constexpr qint64 kListEveryMs = 200;

QString clearedText(int n)
{
    return QStringLiteral("Cleared ") + QString::number(n) + QStringLiteral(" Email Messages");
}

QLabel* panel(const char* name, const QString& text, QStatusBar* bar, int stretch)
{
    auto* label = new QLabel(text, bar);
    label->setObjectName(QLatin1String(name));
    // A long server error or subject is cut at the panel's edge instead of
    // widening the window; changing texts do not lay the window out again.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(label, stretch);
    return label;
}

QAction* action(const char* name, const QString& caption, const QString& hint, QWidget* owner)
{
    auto* a = new QAction(caption, owner);
    a->setObjectName(QLatin1String(name));
    if (!hint.isEmpty())
        a->setToolTip(hint);
    return a;
}

} // namespace

QString TfrmMain::explanationText()
{
    return QStringLiteral(
        "Remove email addresses from the selected list found in From. Body, or Subject of Email "
        "Messages. Only addresses found in the selected list will be displayed on the exclusion "
        "screen.  Accounts that you send email from are also kept from being removed.");
}

TfrmMain::TfrmMain(Services& services, bv::data::Connection& data,
                   bv::data::Connection& localConnect, QWidget* parent)
    : QDialog(parent), m_services(services), m_data(data), m_localConnect(localConnect),
      m_inbox(data), m_session(std::make_unique<Pop3Session>(
                         data, [this](const QByteArray& m) { return storeFetched(m); }))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Remove Returned Email"));

    CheckMail = action("CheckMail", QStringLiteral("Check mail"),
                       QStringLiteral("Connect to server and retrieve mail"), this);
    SetupAccounts = action("SetupAccounts", QStringLiteral("Setup Accounts"),
                           QStringLiteral("Setup POP/SMTP"), this);
    ExcludeAll = action("ExcludeAll", QStringLiteral("Exclude &All"), {}, this);
    ExcludeSelected = action("ExcludeSelected", QStringLiteral("Exclude &Selected"), {}, this);
    TrashAll = action("TrashAll", QStringLiteral("Trash All"), {}, this);
    TrashSelected = action("TrashSelected", QStringLiteral("Trash Selected"), {}, this);
    auto* tools = new QToolBar(this);
    tools->setObjectName(QStringLiteral("tbMain"));
    tools->addActions({CheckMail, SetupAccounts});
    tools->addSeparator();
    tools->addActions({ExcludeAll, ExcludeSelected});
    tools->addSeparator();
    tools->addActions({TrashAll, TrashSelected});

    auto* menus = new QMenuBar(this);
    QMenu* fileMenu = menus->addMenu(QStringLiteral("&File"));
    QAction* exitAction = action("mnuExit", QStringLiteral("E&xit"), {}, this);
    fileMenu->addAction(exitAction);
    QMenu* messagesMenu = menus->addMenu(QStringLiteral("&Messages"));
    m_menuExclude = action("mnuExcludeSelected", QStringLiteral("&Exclude Selected"), {}, this);
    m_menuTrash = action("mnuTrashSelected", QStringLiteral("T&rash Selected"), {}, this);
    messagesMenu->addActions({m_menuExclude, m_menuTrash});

    cbAccount = new QComboBox(this);
    cbAccount->setObjectName(QStringLiteral("cbAccount"));
    cbAccount->setMinimumContentsLength(28);
    cbxLeaveMailOnServer = new QCheckBox(QStringLiteral("Leave Mail On Server"), this);
    cbxLeaveMailOnServer->setObjectName(QStringLiteral("cbxLeaveMailOnServer"));
    cbLists = new QComboBox(this);
    cbLists->setObjectName(QStringLiteral("cbLists"));
    cbLists->setMinimumContentsLength(20);
    auto* accountLabel = new QLabel(QStringLiteral("Active Email Account"), this);
    accountLabel->setBuddy(cbAccount);
    auto* listsLabel = new QLabel(QStringLiteral("Excluding Applies To:"), this);
    listsLabel->setBuddy(cbLists);
    auto* explanation = new QLabel(explanationText(), this);
    explanation->setObjectName(QStringLiteral("lblExplanation"));
    explanation->setWordWrap(true);

    lvHeaders = new QTreeWidget(this);
    lvHeaders->setObjectName(QStringLiteral("lvHeaders"));
    lvHeaders->setHeaderLabels({QStringLiteral("Index"), QStringLiteral("Subject"),
                                QStringLiteral("From"), QStringLiteral("Date"),
                                QStringLiteral("MsgId")});
    lvHeaders->setRootIsDecorated(false);
    // One line a row: the view need not measure every row at every insert.
    lvHeaders->setUniformRowHeights(true);
    lvHeaders->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvHeaders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvHeaders->setSortingEnabled(true);
    lvHeaders->sortByColumn(0, Qt::AscendingOrder);
    // The four-character index keeps the text order numeric.
    lvHeaders->setFont(QFont(QStringLiteral("monospace")));
    // Room for what the columns hold rather than 100 pixels each: subjects
    // and senders were cut off while the index column stood half empty.
    const QFontMetrics metrics(lvHeaders->font());
    const int sortMark = 2 * metrics.height();
    lvHeaders->header()->resizeSection(0, metrics.horizontalAdvance(QStringLiteral("Index")) +
                                              sortMark);
    for (const auto& [column, chars] : {std::pair{1, 34}, std::pair{2, 30}, std::pair{3, 11}})
        lvHeaders->header()->resizeSection(
            column, metrics.horizontalAdvance(QLatin1Char('x')) * chars + metrics.height());

    auto* detail = new QWidget(this);
    auto* form = new QFormLayout(detail);
    const char* names[] = {"lblFrom", "lblTo",       "lblCc",      "lblSubject",
                           "lblDate", "lblPriority", "lblReceipt", "lblOrganization"};
    const char* captions[] = {"From", "To",       "Cc",      "Subject",
                              "Date", "Priority", "Receipt", "Organization"};
    for (int i = 0; i < 8; ++i) {
        auto* value = new QLabel(detail);
        value->setObjectName(QLatin1String(names[i]));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(QLatin1String(captions[i]), value);
        m_values << value;
    }
    memBody = new QPlainTextEdit(detail);
    memBody->setObjectName(QStringLiteral("memBody"));
    memBody->setReadOnly(true);
    form->addRow(memBody);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(lvHeaders);
    split->addWidget(detail);
    split->setSizes({300, 420});

    auto* upper = new QStatusBar(this);
    upper->setObjectName(QStringLiteral("sbStatus"));
    upper->setSizeGripEnabled(false);
    pnlSubject = panel("pnlSubject", QStringLiteral("No message selected"), upper, 1);
    pnlStatus = panel("pnlStatus", notConnectedText(), upper, 1);
    auto* lower = new QStatusBar(this);
    lower->setObjectName(QStringLiteral("sbCount"));
    pnlCount = panel("pnlCount", QString(), lower, 1);

    auto* pickers = new QHBoxLayout;
    pickers->addWidget(accountLabel);
    pickers->addWidget(cbAccount);
    pickers->addWidget(cbxLeaveMailOnServer);
    pickers->addStretch();
    pickers->addWidget(listsLabel);
    pickers->addWidget(cbLists);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menus);
    layout->addWidget(tools);
    layout->addLayout(pickers);
    layout->addWidget(explanation);
    layout->addWidget(split, 1);
    layout->addWidget(upper);
    layout->addWidget(lower);
    resize(980, 760);

    connect(CheckMail, &QAction::triggered, this, &TfrmMain::checkMail);
    connect(SetupAccounts, &QAction::triggered, this, &TfrmMain::setupAccounts);
    connect(ExcludeAll, &QAction::triggered, this, &TfrmMain::excludeAll);
    connect(ExcludeSelected, &QAction::triggered, this, &TfrmMain::excludeSelected);
    connect(m_menuExclude, &QAction::triggered, this, &TfrmMain::excludeSelected);
    connect(TrashAll, &QAction::triggered, this, &TfrmMain::trashAll);
    connect(TrashSelected, &QAction::triggered, this, &TfrmMain::trashSelected);
    connect(m_menuTrash, &QAction::triggered, this, &TfrmMain::trashSelected);
    connect(exitAction, &QAction::triggered, this, &QDialog::reject);
    connect(lvHeaders, &QTreeWidget::itemSelectionChanged, this, &TfrmMain::selectionChanged);

    connect(m_session.get(), &Pop3Session::status, this, &TfrmMain::status);
    connect(m_session.get(), &Pop3Session::messageCount, this, &TfrmMain::showCount);
    connect(m_session.get(), &Pop3Session::notice, this, [this](const QString& text) {
        m_notices << text;
        status(text);
    });
    connect(m_session.get(), &Pop3Session::finished, this, &TfrmMain::checkFinished);
}

TfrmMain::~TfrmMain()
{
    qDeleteAll(m_pendingRows);
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_opened) {
        m_opened = true;
        openWindow();
    }
    fillListPicker();
}

void TfrmMain::openWindow()
{
    readLeaveMail();
    guarded([this] {
        const std::optional<PopAccount> account = GetDefaultAccount(m_data);
        fillAccounts(account ? account->emailAddress : QString());
    });
    guarded([this] {
        m_inbox.renumber();
        fillList();
    });
    QDir().mkpath(m_services.programFolder + QStringLiteral("Attach"));
}

void TfrmMain::fillAccounts(const QString& current)
{
    m_accounts = LoadPopAccounts(m_data);
    cbAccount->clear();
    for (const PopAccount& a : m_accounts)
        cbAccount->addItem(a.emailAddress);
    const int at = cbAccount->findText(current);
    cbAccount->setCurrentIndex(at >= 0 ? at : (m_accounts.empty() ? -1 : 0));
}

void TfrmMain::fillListPicker()
{
    cbLists->clear();
    cbLists->addItem(allListsText());
    QStringList names;
    guarded([&] { data::LoadListNames(m_localConnect, names); });
    cbLists->addItems(names);
    cbLists->setCurrentIndex(0);
}

void TfrmMain::readLeaveMail()
{
    IniFile ini;
    QString error;
    m_settingsReadable =
        IniFile::load(m_services.programFolder + settingsFileName(), ini, &error);
    if (!m_settingsReadable)
        m_services.dialogs.showError(error);
    const QString value = ini.value(kSection, kLeaveKey, QStringLiteral("0")).trimmed();
    cbxLeaveMailOnServer->setChecked(value == QLatin1String("1") ||
                                     value.compare(QLatin1String("true"), Qt::CaseInsensitive) ==
                                         0);
}

void TfrmMain::writeLeaveMail()
{
    // A file that could not be read is not overwritten with what was not read.
    if (!m_settingsReadable)
        return;
    const QString path = m_services.programFolder + settingsFileName();
    IniFile ini;
    QString error;
    if (!IniFile::load(path, ini, &error)) {
        m_services.dialogs.showError(error);
        return;
    }
    ini.setValue(kSection, kLeaveKey,
                 cbxLeaveMailOnServer->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
    if (!writeTextLines(path, ini.toLines(), &error))
        m_services.dialogs.showError(error);
}

bool TfrmMain::confirmed(const QString& question, const QString& cancelled)
{
    if (m_services.dialogs.ask(question, Buttons::YesNoCancel) == Answer::Yes)
        return true;
    status(cancelled);
    return false;
}

bool TfrmMain::guarded(const std::function<void()>& operation)
{
    try {
        operation();
        return true;
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    } catch (const AccountsError& e) {
        m_services.dialogs.showError(e.message());
    }
    return false;
}

void TfrmMain::status(const QString& text)
{
    showPlainText(pnlStatus, text);
}

void TfrmMain::showCount()
{
    pnlCount->setText(QString::number(lvHeaders->topLevelItemCount()));
}

bool TfrmMain::event(QEvent* event)
{
    // Coming back from one of its own message boxes or modal windows is no
    // new activation: the result they left in the status line stays.
    if (event->type() == QEvent::WindowDeactivate) {
        QWidget* modal = QApplication::activeModalWidget();
        m_leftForModal = modal && modal != this;
    } else if (event->type() == QEvent::WindowActivate) {
        if (!m_leftForModal && !m_session->busy())
            status(notConnectedText());
        m_leftForModal = false;
    }
    return QDialog::event(event);
}

void TfrmMain::checkMail()
{
    if (m_session->busy())
        return;
    if (!guarded([this] { fillAccounts(cbAccount->currentText()); }))
        return;
    if (m_accounts.empty()) {
        m_services.dialogs.message(QStringLiteral("Please add Account information."));
        return;
    }
    const PopAccount& a = m_accounts.at(size_t(qMax(0, cbAccount->currentIndex())));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    status(QStringLiteral("Connecting...."));
    m_notices.clear();
    setCheckRunning(true);
    m_session->setLeaveMailOnServer(cbxLeaveMailOnServer->isChecked());
    // New messages come with the highest numbers, so they belong at the end;
    // sorting the whole list after every one of them made a long check slow
    // down with every message. One sort when the check ends.
    lvHeaders->setSortingEnabled(false);
    m_listedAt = m_services.clock.uptimeMs();
    m_session->checkMail({a.popServer, a.port, a.account, PopPassword(m_services.secrets, a.emailAddress, a.password),
                          a.allowPlainPassword});
}

void TfrmMain::setCheckRunning(bool running)
{
    // Trashing renumbers the inbox under the rows the check is still adding,
    // and an exclusion would miss them: the inbox stands still until the end.
    for (QAction* a : {CheckMail, SetupAccounts, ExcludeAll, ExcludeSelected, TrashAll,
                       TrashSelected, m_menuExclude, m_menuTrash})
        a->setEnabled(!running);
}

void TfrmMain::checkFinished(bool ok, const QString& error)
{
    if (!CheckMail->isEnabled())
        QApplication::restoreOverrideCursor();
    setCheckRunning(false);
    listPending();
    lvHeaders->setSortingEnabled(true);
    // Closing the window ended the check; nobody is left to tell.
    if (m_closing)
        return;
    if (!ok) {
        status(error);
        m_services.dialogs.message(error, Severity::Error);
    }
    if (!m_notices.isEmpty())
        m_services.dialogs.message(m_notices.join(QLatin1Char('\n')), Severity::Warning);
    m_notices.clear();
}

int TfrmMain::storeFetched(const QByteArray& message)
{
    const int index = m_inbox.store(message);
    if (const std::optional<QString> text = m_inbox.messageText(index))
        m_pendingRows << makeRow(index, parseMessage(*text));
    // Every change of the list repaints it; listed a few times a second, a
    // long check is not held up by its own window.
    if (m_services.clock.uptimeMs() - m_listedAt >= kListEveryMs)
        listPending();
    return index;
}

void TfrmMain::listPending()
{
    lvHeaders->addTopLevelItems(m_pendingRows);
    m_pendingRows.clear();
    m_listedAt = m_services.clock.uptimeMs();
    showCount();
}

void TfrmMain::setupAccounts()
{
    if (m_session->busy())
        return;
    TfmSetup setup(m_services, m_data, this);
    m_services.dialogs.execModal(setup);
    guarded([this] { fillAccounts(cbAccount->currentText()); });
}

QTreeWidgetItem* TfrmMain::makeRow(int index, const MailFields& fields)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, QStringLiteral("%1").arg(index, 4));
    item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(0, Qt::UserRole, index);
    item->setText(1, fields.subject);
    item->setText(2, fields.from);
    item->setText(3, fields.date.isValid()
                         ? QLocale::system().toString(fields.date.date(), QLocale::ShortFormat)
                         : QString());
    item->setText(4, fields.messageId);
    return item;
}

void TfrmMain::fillList()
{
    lvHeaders->clear();
    clearDetail();
    for (const Inbox::Message& m : m_inbox.messages()) {
        const MailFields fields = parseMessage(m.text);
        showDetail(fields);
        lvHeaders->addTopLevelItem(makeRow(m.index, fields));
    }
    showCount();
}

void TfrmMain::clearDetail()
{
    memBody->clear();
    pnlSubject->clear();
    for (QLabel* value : m_values)
        value->clear();
}

void TfrmMain::showDetail(const MailFields& f)
{
    const QStringList values{f.from,
                             f.to,
                             f.cc,
                             f.subject,
                             detailDateText(f.date),
                             QString::number(f.priority),
                             f.receiptTo,
                             f.organization};
    for (int i = 0; i < m_values.size(); ++i)
        showPlainText(m_values.at(i), values.at(i));
    showPlainText(pnlSubject, f.subject);
    memBody->setPlainText(f.body);
}

QList<int> TfrmMain::selectedIndexes() const
{
    QList<int> out;
    for (int i = 0; i < lvHeaders->topLevelItemCount(); ++i)
        if (QTreeWidgetItem* item = lvHeaders->topLevelItem(i); item->isSelected())
            out << item->data(0, Qt::UserRole).toInt();
    return out;
}

void TfrmMain::selectionChanged()
{
    clearDetail();
    const QList<int> selected = selectedIndexes();
    if (selected.size() != 1)
        return;
    guarded([&] {
        if (const std::optional<QString> text = m_inbox.messageText(selected.front()))
            showDetail(parseMessage(*text));
    });
}

void TfrmMain::excludeAll()
{
    int count = 0;
    if (!guarded([&] { count = m_inbox.count(); }))
        return;
    if (count == 0) {
        m_services.dialogs.message(QStringLiteral("No Messages to process."));
        status(kCancelled);
        return;
    }
    if (!confirmed(QStringLiteral("Display addresses found in all of the ") +
                       QString::number(count) + QStringLiteral(" messages in this list?"),
                   kCancelled))
        return;
    QStringList texts;
    if (!guarded([&] {
            for (const Inbox::Message& m : m_inbox.messages())
                texts << Inbox::harvestTexts(parseMessage(m.text));
        }))
        return;
    exclude(texts);
}

void TfrmMain::excludeSelected()
{
    const QList<int> selected = selectedIndexes();
    if (selected.isEmpty()) {
        m_services.dialogs.message(kNoneSelected);
        status(kCancelled);
        return;
    }
    if (!confirmed(QStringLiteral("Display Addresses found in the ") +
                       QString::number(selected.size()) + QStringLiteral(" selected messages?"),
                   kCancelled))
        return;
    QStringList texts;
    if (!guarded([&] {
            for (int index : selected)
                if (const std::optional<QString> text = m_inbox.messageText(index))
                    texts << Inbox::harvestTexts(parseMessage(*text));
        }))
        return;
    exclude(texts);
}

void TfrmMain::exclude(const QStringList& texts)
{
    lists::TExclude excluder(m_services.programFolder);
    excluder.OnStatus = [this](int pos, int max) {
        status(QStringLiteral("Processing: ") +
               QString::number(max > 0 ? int(double(pos) / max * 100) : 0) + QStringLiteral(" %"));
        m_services.clock.processEvents();
    };
    const QString listName = cbLists->currentIndex() > 0 ? cbLists->currentText() : QString();
    if (!guarded([&] {
            excluder.CollectAddresses(listName, LoadSenderAddressesUpper(m_services.programFolder),
                                      texts);
        }))
        return;
    lists::TfrmExcludeEmail review(m_services, m_data, this);
    QString result = kCancelled;
    if (review.execute() == QDialog::Accepted &&
        m_services.dialogs.ask(
            QStringLiteral("Remove the Recipients found, and add them to Exclusions?"),
            Buttons::YesNoCancel) == Answer::Yes) {
        if (!guarded([&] { excluder.ExcludeCollected(); }))
            return;
        result =
            QString::number(excluder.NewExclusions) + QStringLiteral(" Addresses Excluded, and ") +
            QString::number(excluder.DeletedRecipients) + QStringLiteral(" Recipients Removed.");
    }
    status(result);
    m_services.dialogs.message(result);
}

void TfrmMain::trashAll()
{
    int count = 0;
    if (!guarded([&] { count = m_inbox.count(); }))
        return;
    if (!confirmed(QStringLiteral("Delete all of the ") + QString::number(count) +
                       QStringLiteral(" messages in this list?"),
                   kDeletionCancelled))
        return;
    guarded([&] {
        const int ct = m_inbox.trashAll();
        status(clearedText(ct));
        m_inbox.renumber();
    });
    lvHeaders->clear();
    clearDetail();
    showCount();
}

void TfrmMain::trashSelected()
{
    const QList<int> selected = selectedIndexes();
    if (selected.isEmpty()) {
        m_services.dialogs.message(kNoneSelected);
        return;
    }
    if (!confirmed(QStringLiteral("Delete the ") + QString::number(selected.size()) +
                       QStringLiteral(" selected messages?"),
                   kDeletionCancelled))
        return;
    int deleted = 0;
    guarded([&] {
        for (int index : selected) {
            if (m_inbox.trash(index))
                status(clearedText(++deleted));
        }
    });
    m_services.dialogs.message(clearedText(deleted));
    guarded([this] {
        m_inbox.renumber();
        fillList();
    });
}

void TfrmMain::done(int result)
{
    if (m_closing) {
        // Closed again while the server is slow to say goodbye.
        m_session->cancel();
        return;
    }
    m_closing = true;
    if (m_session->busy()) {
        // A stuck server must not keep the window open. Without QUIT the
        // server deletes nothing, as RSET would have it.
        m_session->cancel();
    } else if (m_session->endSession()) {
        while (m_session->busy())
            m_services.clock.waitForEvents(100);
    }
    m_closing = false;
    status(notConnectedText());
    lvHeaders->clear();
    if (!cbAccount->currentText().isEmpty())
        guarded([this] { SetDefaultAccount(m_data, cbAccount->currentText()); });
    writeLeaveMail();
    QDialog::done(result);
}

} // namespace bv::returned
