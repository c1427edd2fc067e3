#include "Recipients.h"

#include "AddEmailSpecial.h"
#include "ClearDups.h"
#include "ClearDupsWindow.h"
#include "RecipientOperations.h"
#include "RemoveReturnedEmails.h"
#include "SearchActiveList.h"
#include "ShowBadEmails.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/Backup.h"
#include "data/GetBackupFolder.h"
#include "data/ListManager.h"
#include "data/ListOperations.h"
#include "data/TableViewModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace bv::lists {

namespace {

constexpr int kTransientMs = 7000;

template <typename W> W* named(W* widget, const char* name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QPushButton* button(const QString& caption, const char* name, QWidget* parent)
{
    auto* b = named(new QPushButton(caption, parent), name);
    b->setAutoDefault(false);
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')).trimmed());
    return b;
}

} // namespace

// One page: its view, grid, edit boxes and texts.
struct TfrmRecipients::Page
{
    data::TableView& view;
    bool exclusions;
    QString noun; // "Recipient", "Exclusion"
    data::TableViewModel* model = nullptr;
    QTableView* grid = nullptr;
    QLineEdit* email = nullptr;
    QLineEdit* lastName = nullptr;
    QLineEdit* firstName = nullptr;
    QLineEdit* salutation = nullptr;
    QCheckBox* sendTo = nullptr; // recipients only
    QLabel* counter = nullptr;
    QLabel* status = nullptr;
    QMenu* menu = nullptr;
    bool syncing = false;
};

TfrmRecipients::TfrmRecipients(Services& services, data::Connection& data, data::Connection& localConnect,
                               data::TfrmGetListName& listNamePrompt, QWidget* parent)
    : QDialog(parent), m_services(services), m_data(data),
      tbRecipients(data, QStringLiteral("RecipientList")),
      tbExclusions(data, QStringLiteral("ExclusionList")),
      m_recipientsPage(new Page{tbRecipients, false, QStringLiteral("Recipient")}),
      m_exclusionsPage(new Page{tbExclusions, true, QStringLiteral("Exclusion")})
{
    setObjectName(QStringLiteral("frmRecipients"));
    setWindowTitle(QStringLiteral("Recipients"));
    tbRecipients.setObjectName(QStringLiteral("tbRecipients"));
    tbExclusions.setObjectName(QStringLiteral("tbExclusions"));
    for (data::TableView* v : {&tbRecipients, &tbExclusions}) {
        v->setFilter(QString::fromLatin1(data::NoListFilter));
        v->setFiltered(true);
    }
    buildWindow();
    m_lists = std::make_unique<data::ListOperations>(data::ListOperations::Parts{
        m_data, localConnect, *cbCurrentList, tbRecipients, tbExclusions, listNamePrompt, m_services.dialogs});
    m_backupPrompt = std::make_unique<data::GetBackupFolderPrompt>(m_services.programFolder, m_services.dialogs, this);
    m_backups = std::make_unique<data::BackupCommands>(data::BackupCommands::Parts{
        m_data, m_services.programFolder, m_services.clock, m_services.dialogs, *m_backupPrompt,
        [this] { openWindow(); }});
    m_search = std::make_unique<SearchActiveList>(m_data, tbRecipients, tbExclusions, m_services.dialogs);

    timStatusClear = m_services.clock.createTimer(this);
    timStatusClear->setObjectName(QStringLiteral("timStatusClear"));
    timStatusClear->setInterval(kTransientMs);
    connect(timStatusClear, &Timer::timeout, this, [this] {
        timStatusClear->stop();
        lblRCVStatus->clear();
        lblEXStatus->clear();
    });
    timExcludeInclude = m_services.clock.createTimer(this);
    timExcludeInclude->setObjectName(QStringLiteral("timExcludeInclude"));
    timExcludeInclude->setInterval(kTransientMs);
    connect(timExcludeInclude, &Timer::timeout, this, [this] {
        timExcludeInclude->stop();
        lblRecMoved->hide();
        lblExcMoved->hide();
    });
}

TfrmRecipients::~TfrmRecipients()
{
    // The grids and their models go first, while the views they read live;
    // the views then close with nobody listening.
    delete pgcLists;
    tbRecipients.disconnect();
    tbExclusions.disconnect();
}

QString TfrmRecipients::selectListFirstText()
{
    return QStringLiteral("Please, select an email list first.");
}

QString TfrmRecipients::notAvailableText(const QString& command)
{
    return QStringLiteral("\"%1\" is not available in this version yet.").arg(command);
}

QString TfrmRecipients::currentList() const
{
    return cbCurrentList->currentText();
}

QMenu* TfrmRecipients::menu(const char* name, QWidget* parent, const QList<QPair<const char*, QString>>& items,
                            const QList<std::function<void()>>& handlers)
{
    auto* m = named(new QMenu(parent), name);
    m->setAccessibleName(QString::fromLatin1(name + 3) + QStringLiteral(" menu"));
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!items[i].first) {
            m->addSeparator();
            continue;
        }
        QAction* a = m->addAction(items[i].second);
        a->setObjectName(QLatin1String(items[i].first));
        connect(a, &QAction::triggered, this, handlers[i] ? handlers[i] : [] {});
    }
    return m;
}

void TfrmRecipients::buildWindow()
{
    auto* top = new QHBoxLayout;
    auto* listLabel = new QLabel(QStringLiteral("Active List"), this);
    cbCurrentList = named(new QComboBox(this), "cbCurrentList");
    cbCurrentList->setAccessibleName(QStringLiteral("Active List"));
    cbCurrentList->setMinimumContentsLength(20);
    listLabel->setBuddy(cbCurrentList);
    connect(cbCurrentList, &QComboBox::activated, this, [this] { listChosen(); });

    btnLists = button(QStringLiteral("Lists"), "btnLists", this);
    popLists = menu("popLists", this,
                    {{"actNewList", QStringLiteral("New")},
                     {"actRenameList", QStringLiteral("Rename")},
                     {"actDeleteList", QStringLiteral("Delete")},
                     {"actDuplicateList", QStringLiteral("Duplicate")},
                     {nullptr, {}},
                     {"actBackupLists", QStringLiteral("Backup Lists")},
                     {"actRestoreLists", QStringLiteral("Restore Lists")}},
                    {[this] { guarded([this] { m_lists->CreateList(); }); },
                     [this] { guarded([this] { m_lists->RenameList(); }); },
                     [this] { guarded([this] { m_lists->DeleteList(); }); },
                     [this] { guarded([this] { m_lists->DuplicateList(); }); },
                     {},
                     [this] { m_backups->BackupLists(); },
                     [this] { m_backups->RestoreLists(); }});
    connect(btnLists, &QPushButton::clicked, this,
            [this] { popLists->popup(btnLists->mapToGlobal(QPoint(0, btnLists->height()))); });

    auto* searchBox = named(new QGroupBox(QStringLiteral("Search Active List"), this), "grpSearch");
    txtSearchFor = named(new QLineEdit(searchBox), "txtSearchFor");
    txtSearchFor->setAccessibleName(QStringLiteral("What To Find"));
    cbSearchField = named(new QComboBox(searchBox), "cbSearchField");
    cbSearchField->addItems({QStringLiteral("Salutation"), QStringLiteral("First Name"), QStringLiteral("Last Name"),
                             QStringLiteral("Email"), QStringLiteral("All")});
    cbSearchField->setAccessibleName(QStringLiteral("Where To Find It"));
    cbSearchTable = named(new QComboBox(searchBox), "cbSearchTable");
    cbSearchTable->addItems({QStringLiteral("RecipientList"), QStringLiteral("ExclusionList"), QStringLiteral("Both")});
    cbSearchTable->setAccessibleName(QStringLiteral("Search In"));
    btnGo = button(QStringLiteral("Find"), "btnGo", searchBox);
    btnNext = button(QStringLiteral("Next"), "btnNext", searchBox);
    auto* searchRow = new QGridLayout(searchBox);
    searchRow->addWidget(new QLabel(QStringLiteral("What To Find"), searchBox), 0, 0);
    searchRow->addWidget(new QLabel(QStringLiteral("Where To Find It"), searchBox), 0, 1);
    searchRow->addWidget(txtSearchFor, 1, 0);
    searchRow->addWidget(cbSearchField, 1, 1);
    searchRow->addWidget(cbSearchTable, 1, 2);
    searchRow->addWidget(btnGo, 1, 3);
    searchRow->addWidget(btnNext, 1, 4);
    connect(btnGo, &QPushButton::clicked, this, [this] { search(true); });
    connect(btnNext, &QPushButton::clicked, this, [this] { search(false); });
    connect(txtSearchFor, &QLineEdit::textEdited, this, [this] {
        m_search->searchTextEdited();
        btnNext->setEnabled(false);
    });

    btnRemoveReturned = button(QStringLiteral("Remove Unsubscribers && Returned Emails"), "btnRemoveReturned", this);
    btnRemoveReturned->setAccessibleName(QStringLiteral("Remove Unsubscribers & Returned Emails"));
    popRemoveReturned = menu(
        "popRemoveReturned", this,
        {{"actByEudora", QStringLiteral("By Eudora")}, {"actByCheckingEmail", QStringLiteral("By Checking Email")}},
        {[this] {
             if (m_hooks.askReturnedFileQuestion && !m_hooks.askReturnedFileQuestion())
                 return;
             removeReturnedEmails();
         },
         [this] { runHook(QStringLiteral("By Checking Email"), m_hooks.checkReturnedMail); }});
    connect(btnRemoveReturned, &QPushButton::clicked, this, [this] {
        popRemoveReturned->popup(btnRemoveReturned->mapToGlobal(QPoint(0, btnRemoveReturned->height())));
    });
    btnClose = button(QStringLiteral("Close"), "btnClose", this);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);

    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(listLabel);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(cbCurrentList);
    listRow->addWidget(btnLists);
    listColumn->addLayout(listRow);
    listColumn->addWidget(btnRemoveReturned);
    top->addLayout(listColumn);
    top->addWidget(searchBox, 1);
    top->addWidget(btnClose, 0, Qt::AlignTop);

    pgcLists = named(new QTabWidget(this), "pgcLists");
    pgcLists->setAccessibleName(QStringLiteral("Recipients and exclusions"));
    tabRecipients = buildPage(*m_recipientsPage, false);
    tabExclusions = buildPage(*m_exclusionsPage, true);
    pgcLists->addTab(tabRecipients, QStringLiteral("Recipients"));
    pgcLists->addTab(tabExclusions, QStringLiteral("Exclusions"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(pgcLists, 1);
    resize(1000, 680);
}

QWidget* TfrmRecipients::buildPage(Page& page, bool exclusions)
{
    auto* tab = named(new QWidget(pgcLists), exclusions ? "tabExclusions" : "tabRecipients");
    QList<data::TableViewModel::Column> columns{{QStringLiteral("Salutation"), QStringLiteral("(Sal.)")},
                                               {QStringLiteral("FirstName"), QStringLiteral("First Name")},
                                               {QStringLiteral("LastName"), QStringLiteral("Last Name")},
                                               {QStringLiteral("Email"), QStringLiteral("Email")}};
    if (!exclusions)
        columns << data::TableViewModel::Column{QStringLiteral("SendTo"), QStringLiteral("Snd?")};
    page.model = new data::TableViewModel(page.view, columns, tab);
    page.grid = named(new QTableView(tab), exclusions ? "dbgExclusions" : "dbgRecipients");
    page.grid->setModel(page.model);
    page.grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    page.grid->setSelectionMode(QAbstractItemView::SingleSelection);
    page.grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    page.grid->verticalHeader()->setDefaultSectionSize(page.grid->fontMetrics().height() + 6);
    page.grid->horizontalHeader()->setSectionsClickable(true);
    page.grid->horizontalHeader()->setStretchLastSection(true);
    page.grid->setColumnWidth(0, 56);
    page.grid->setColumnWidth(1, 130);
    page.grid->setColumnWidth(2, 140);
    page.grid->setColumnWidth(3, 230);
    page.grid->setAccessibleName(exclusions ? QStringLiteral("Exclusions") : QStringLiteral("Recipients"));
    connect(page.grid->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this, &page](int column) { sortBy(page, column); });
    connect(page.grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [&page](const QModelIndex& current) {
                if (!page.syncing && current.isValid())
                    page.view.moveTo(current.row());
            });
    // Every read, move, insert and removal ends with the current row telling.
    connect(&page.view, &data::TableView::currentChanged, this, [this, &page] { recordChanged(page); });

    const char* prefix = exclusions ? "lbeEX" : "lbeRCV";
    auto edit = [&](const char* field, int width, const QString& caption) {
        auto* e = named(new QLineEdit(tab), (QByteArray(prefix) + field).constData());
        e->setMaxLength(width);
        e->setMinimumWidth(e->fontMetrics().averageCharWidth() * 30);
        e->setAccessibleName(caption);
        return e;
    };
    page.email = edit("Email", 60, QStringLiteral("Email"));
    page.lastName = edit("LastName", 30, QStringLiteral("Last Name"));
    page.firstName = edit("FirstName", 30, QStringLiteral("First Name"));
    page.salutation = edit("Sal", 10, QStringLiteral("(Sal.)"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Email"), page.email);
    form->addRow(QStringLiteral("Last Name"), page.lastName);
    form->addRow(QStringLiteral("First Name"), page.firstName);
    form->addRow(QStringLiteral("(Sal.)"), page.salutation);
    if (!exclusions) {
        page.sendTo = cbxSendTo = named(new QCheckBox(QStringLiteral("Send To?"), tab), "cbxSendTo");
        form->addRow(QString(), cbxSendTo);
    }

    const char* b = exclusions ? "btnEX" : "btnRCV";
    auto* add = button(QStringLiteral("Add"), (QByteArray(b) + "Add").constData(), tab);
    auto* update = button(QStringLiteral("Update"), (QByteArray(b) + "Update").constData(), tab);
    auto* del = button(QStringLiteral("Delete"), (QByteArray(b) + "Delete").constData(), tab);
    auto* clear = button(QStringLiteral("Clear"), (QByteArray(b) + "Clear").constData(), tab);
    connect(add, &QPushButton::clicked, this, [this, &page] { addOrUpdate(page, false); });
    connect(update, &QPushButton::clicked, this, [this, &page] { addOrUpdate(page, true); });
    connect(del, &QPushButton::clicked, this, [this, &page] { deleteRecord(page); });
    connect(clear, &QPushButton::clicked, this, [this, &page] { clearBoxes(page); });
    auto* buttons = new QGridLayout;
    buttons->addWidget(add, 0, 0);
    buttons->addWidget(update, 0, 1);
    buttons->addWidget(del, 1, 0);
    buttons->addWidget(clear, 1, 1);

    page.counter = named(new QLabel(tab), exclusions ? "lblExCt" : "lblRctCt");
    page.status = named(new QLabel(tab), exclusions ? "lblEXStatus" : "lblRCVStatus");
    auto* moved = named(new QLabel(exclusions ? QStringLiteral("Exclusion moved to Recipients.")
                                              : QStringLiteral("Recipient moved to Exclusions."),
                                   tab),
                        exclusions ? "lblExcMoved" : "lblRecMoved");
    QFont bold = moved->font();
    bold.setBold(true);
    moved->setFont(bold);

    auto* side = new QVBoxLayout;
    side->addLayout(form);
    side->addLayout(buttons);
    (exclusions ? dbgExclusions : dbgRecipients) = page.grid;
    (exclusions ? lbeEXEmail : lbeRCVEmail) = page.email;
    (exclusions ? lbeEXLastName : lbeRCVLastName) = page.lastName;
    (exclusions ? lbeEXFirstName : lbeRCVFirstName) = page.firstName;
    (exclusions ? lbeEXSal : lbeRCVSal) = page.salutation;
    if (!exclusions) {
        btnRCVAdd = add;
        btnRCVUpdate = update;
        btnRCVDelete = del;
        btnRCVClear = clear;
        btnExclude = button(QStringLiteral("Exclude"), "btnExclude", tab);
        btnSendToAll = button(QStringLiteral("Send To All"), "btnSendToAll", tab);
        btnSendToNone = button(QStringLiteral("Send To None"), "btnSendToNone", tab);
        btnRecipientsMenu = button(QStringLiteral("Recipients Menu"), "btnRecipientsMenu", tab);
        connect(btnExclude, &QPushButton::clicked, this,
                [this] { move(*m_recipientsPage, *m_exclusionsPage, lblRecMoved, lblExcMoved); });
        connect(btnSendToAll, &QPushButton::clicked, this, [this] { sendTo(true); });
        connect(btnSendToNone, &QPushButton::clicked, this, [this] { sendTo(false); });
        side->addWidget(btnExclude);
        side->addWidget(btnSendToAll);
        side->addWidget(btnSendToNone);
        side->addWidget(btnRecipientsMenu);
        lblRctCt = page.counter;
        lblRCVStatus = page.status;
        lblRecMoved = moved;
        page.menu = popRecipients = menu(
            "popRecipients", tab,
            {{"actLoadMoreCsv", QStringLiteral("Load More (CSV)")},
             {"actLoadMoreExcel", QStringLiteral("Load More (Excel)")},
             {"actLoadMoreMbx", QStringLiteral("Load More (MBX)")},
             {nullptr, {}},
             {"actClearList", QStringLiteral("Clear List")},
             {"actExportList", QStringLiteral("Export List (CSV)")},
             {nullptr, {}},
             {"actClearDuplicates", QStringLiteral("Clear Duplicates")},
             {"actRemoveInvalid", QStringLiteral("Remove Invalid")},
             {"actRemoveExclusions", QStringLiteral("Remove Exclusions")}},
            {[this] { runHook(QStringLiteral("Load More (CSV)"), m_hooks.importRecipientsCsv); },
             [this] { runHook(QStringLiteral("Load More (Excel)"), m_hooks.importExcel); },
             [this] { addFromMailbox(); },
             {},
             [this] { clearList(*m_recipientsPage); },
             [this] { exportList(*m_recipientsPage); },
             {},
             [this] { clearDuplicates(*m_recipientsPage); },
             [this] { removeInvalid(); },
             [this] { removeExclusions(); }});
        connect(btnRecipientsMenu, &QPushButton::clicked, this, [this] { showPageMenu(*m_recipientsPage); });
    } else {
        btnEXAdd = add;
        btnEXUpdate = update;
        btnEXDelete = del;
        btnEXClear = clear;
        btnInclude = button(QStringLiteral("Include"), "btnInclude", tab);
        btnExclusionsMenu = button(QStringLiteral("Exclusions Menu"), "btnExclusionsMenu", tab);
        connect(btnInclude, &QPushButton::clicked, this,
                [this] { move(*m_exclusionsPage, *m_recipientsPage, lblExcMoved, lblRecMoved); });
        side->addWidget(btnInclude);
        side->addWidget(btnExclusionsMenu);
        lblExCt = page.counter;
        lblEXStatus = page.status;
        lblExcMoved = moved;
        page.menu = popExclusions = menu(
            "popExclusions", tab,
            {{"actEXLoadMoreCsv", QStringLiteral("Load More (CSV)")},
             {nullptr, {}},
             {"actEXClearList", QStringLiteral("Clear List")},
             {"actEXExportList", QStringLiteral("Export List (CSV)")},
             {nullptr, {}},
             {"actEXClearDuplicates", QStringLiteral("Clear Duplicates")}},
            {[this] { runHook(QStringLiteral("Load More (CSV)"), m_hooks.importExclusionsCsv); },
             {},
             [this] { clearList(*m_exclusionsPage); },
             [this] { exportList(*m_exclusionsPage); },
             {},
             [this] { clearDuplicates(*m_exclusionsPage); }});
        connect(btnExclusionsMenu, &QPushButton::clicked, this, [this] { showPageMenu(*m_exclusionsPage); });
    }
    side->addStretch();
    side->addWidget(moved);

    auto* gridColumn = new QVBoxLayout;
    gridColumn->addWidget(page.grid, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(page.status, 1);
    bottom->addWidget(page.counter);
    gridColumn->addLayout(bottom);
    auto* row = new QHBoxLayout(tab);
    row->addLayout(gridColumn, 1);
    row->addLayout(side);
    return tab;
}

void TfrmRecipients::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        openWindow();
}

void TfrmRecipients::openWindow()
{
    m_search->forget();
    guarded([this] {
        tbRecipients.open();
        tbExclusions.open();
        m_lists->refillPicker();
        m_lists->applyNoList();
    });
    cbSearchField->setCurrentText(QStringLiteral("Salutation"));
    cbSearchTable->setCurrentText(QStringLiteral("RecipientList"));
    lblRctCt->clear();
    lblExCt->clear();
    btnNext->setEnabled(false);
    pgcLists->setCurrentWidget(tabRecipients);
    clearBoxes(*m_recipientsPage);
    clearBoxes(*m_exclusionsPage);
    lblRecMoved->hide();
    lblExcMoved->hide();
}

void TfrmRecipients::listChosen()
{
    const QString name = currentList();
    if (name.isEmpty())
        return;
    guarded([this, &name] { m_lists->applyListSelection(name); });
}

void TfrmRecipients::recordChanged(Page& page)
{
    if (!page.view.isOpen())
        return;
    page.counter->setText(QString::number(page.view.snapshotSize()) + QStringLiteral(" Records"));
    const int row = page.view.recNo();
    page.syncing = true;
    if (row >= 0)
        page.grid->selectRow(row);
    else
        page.grid->clearSelection();
    page.syncing = false;
    if (m_editing)
        return;
    if (row < 0) {
        if (page.sendTo && page.view.isEmpty())
            page.sendTo->setChecked(true);
        return;
    }
    const RecordFields f = currentFields(page.view);
    page.email->setText(f.email);
    page.lastName->setText(f.lastName);
    page.firstName->setText(f.firstName);
    page.salutation->setText(f.salutation);
    if (page.sendTo)
        page.sendTo->setChecked(f.sendTo);
    for (QLineEdit* box : {page.email, page.lastName, page.firstName, page.salutation})
        box->setCursorPosition(0); // a long address shows its start
}

void TfrmRecipients::rereadViews()
{
    guarded([this] {
        tbRecipients.refresh();
        tbExclusions.refresh();
    });
}

bool TfrmRecipients::listSelected()
{
    if (tbRecipients.filter() == QLatin1String(data::NoListFilter)) {
        m_services.dialogs.message(selectListFirstText());
        return false;
    }
    return true;
}

RecordFields TfrmRecipients::boxes(const Page& page) const
{
    RecordFields f;
    f.email = page.email->text();
    f.lastName = page.lastName->text();
    f.firstName = page.firstName->text();
    f.salutation = page.salutation->text();
    f.sendTo = page.sendTo ? page.sendTo->isChecked() : true;
    return f;
}

void TfrmRecipients::addOrUpdate(Page& page, bool update)
{
    if (!listSelected())
        return;
    m_editing = true;
    bool done = false;
    guarded([&] {
        if (update)
            updateRecord(page.view, boxes(page), currentList(), page.exclusions);
        else
            appendRecord(page.view, boxes(page), currentList(), page.exclusions);
        done = true;
    });
    m_editing = false;
    rereadViews();
    if (done)
        setStatus(page, page.noun + (update ? QStringLiteral(" Updated.") : QStringLiteral(" Added.")));
}

void TfrmRecipients::deleteRecord(Page& page)
{
    if (!listSelected())
        return;
    if (page.view.isEmpty()) {
        if (page.exclusions)
            rereadViews();
        return;
    }
    if (m_services.dialogs.ask(QStringLiteral("Delete this entry?"), Buttons::YesNoCancel) == Answer::Yes) {
        bool done = false;
        guarded([&] {
            page.view.deleteRecord();
            done = true;
        });
        if (done)
            setStatus(page, page.noun + QStringLiteral(" Deleted."));
    }
    rereadViews();
}

void TfrmRecipients::clearBoxes(Page& page)
{
    page.email->clear();
    page.lastName->clear();
    page.firstName->clear();
    page.salutation->clear();
    lblRCVStatus->clear();
    lblEXStatus->clear();
    if (page.sendTo)
        page.sendTo->setChecked(true);
}

void TfrmRecipients::setStatus(Page& page, const QString& text)
{
    Page& other = &page == m_recipientsPage.get() ? *m_exclusionsPage : *m_recipientsPage;
    page.status->setText(text);
    other.status->clear();
    timStatusClear->stop();
    timStatusClear->start();
}

void TfrmRecipients::move(Page& from, Page& to, QLabel* shown, QLabel* hidden)
{
    if (from.view.isEmpty())
        return;
    guarded([&] { moveCurrentRecord(from.view, to.view); });
    rereadViews();
    shown->show();
    hidden->hide();
    timExcludeInclude->stop();
    timExcludeInclude->start();
}

void TfrmRecipients::sendTo(bool on)
{
    if (currentList().isEmpty())
        return;
    guarded([&] {
        setSendTo(m_data, currentList(), on);
        tbRecipients.close();
        tbRecipients.open();
    });
}

void TfrmRecipients::clearList(Page& page)
{
    const QString question = page.exclusions ? QStringLiteral("Clear All Exclusions?")
                                             : QStringLiteral("Clear All Recipients From This List?");
    if (m_services.dialogs.ask(question, Buttons::YesNo) != Answer::Yes)
        return;
    guarded([&] { clearView(page.view); });
    rereadViews();
}

void TfrmRecipients::exportList(Page& page)
{
    const QString path = m_services.dialogs.saveFile(
        {QString(), QStringLiteral("CSV (*.TXT, *.CSV)|*.TXT;*.CSV|Any File (*.*)|*.*"), QStringLiteral("TXT"),
         m_services.programFolder, QString()});
    if (path.isEmpty())
        return;
    bool done = false;
    guarded([&] {
        exportListToCsv(page.view, path);
        done = true;
    });
    if (done)
        m_services.dialogs.message((page.exclusions ? QStringLiteral("Exclusions saved to: ")
                                                    : QStringLiteral("Recipients saved to: "))
                                   + path);
}

void TfrmRecipients::removeExclusions()
{
    if (m_services.dialogs.ask(QStringLiteral("Remove Recipients whose email address appear in Exclusion List?"),
                               Buttons::YesNo)
        != Answer::Yes)
        return;
    int removed = 0;
    guarded([&] { removed = removeExcludedRecipients(m_data, currentList()); });
    rereadViews();
    m_services.dialogs.message(recipientsRemovedText(removed));
}

void TfrmRecipients::removeInvalid()
{
    if (currentList().trimmed().isEmpty()) {
        m_services.dialogs.message(QStringLiteral("No List Selected."));
        return;
    }
    TfrmShowBadEmails window(m_services, m_data, this);
    m_services.dialogs.execModal(window);
    rereadViews();
}

void TfrmRecipients::addFromMailbox()
{
    if (!m_addEmailSpecial)
        m_addEmailSpecial = new TfrmAddEmailSpecial(m_services, m_data, this);
    m_addEmailSpecial->execute(currentList());
    rereadViews();
}

void TfrmRecipients::removeReturnedEmails()
{
    if (!m_removeReturnedEmails)
        m_removeReturnedEmails = new TfrmRemoveReturnedEmails(m_services, m_data, this);
    m_removeReturnedEmails->execute();
    rereadViews();
}

void TfrmRecipients::clearDuplicates(Page& page)
{
    if (page.exclusions) {
        guarded([&] { RemoveDuplicateExclusions(tbExclusions, tbRecipients, m_services.dialogs); });
        return;
    }
    TfrmClearDups window(m_data, m_services.dialogs, [this] { return currentList(); }, this);
    m_services.dialogs.execModal(window);
    rereadViews();
}

void TfrmRecipients::search(bool find)
{
    const SearchRequest request{txtSearchFor->text(), cbSearchField->currentText(), cbSearchTable->currentText(),
                                currentList()};
    const int page = m_search->press(find ? SearchActiveList::Button::Find : SearchActiveList::Button::Next, request);
    if (page == 0)
        pgcLists->setCurrentWidget(tabRecipients);
    else if (page == 1)
        pgcLists->setCurrentWidget(tabExclusions);
    btnNext->setEnabled(m_search->nextEnabled());
}

void TfrmRecipients::sortBy(Page& page, int column)
{
    const QString field = page.model->fieldAt(column);
    if (field.isEmpty())
        return;
    // The same title again turns the order round; a third click turns it back.
    const QString order =
        page.view.indexName().compare(field, Qt::CaseInsensitive) == 0 ? field + QStringLiteral("Desc") : field;
    guarded([&] { page.view.setIndexName(order); });
}

void TfrmRecipients::showPageMenu(Page& page)
{
    if (currentList().trimmed().isEmpty()) {
        m_services.dialogs.message(selectListFirstText());
        return;
    }
    QWidget* b = page.exclusions ? static_cast<QWidget*>(btnExclusionsMenu) : btnRecipientsMenu;
    page.menu->popup(b->mapToGlobal(QPoint(0, b->height())));
}

void TfrmRecipients::runHook(const QString& command, const std::function<void()>& hook)
{
    if (!hook) {
        m_services.dialogs.message(notAvailableText(command));
        return;
    }
    hook();
    rereadViews();
}

void TfrmRecipients::guarded(const std::function<void()>& operation)
{
    try {
        operation();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    } catch (const std::exception& e) {
        m_services.dialogs.showError(QString::fromUtf8(e.what()));
    }
}

} // namespace bv::lists
