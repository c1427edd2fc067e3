#include "MailboxWindow.h"

#include "HarvestFile.h"
#include "Intake.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/TableViewModel.h"
#include "core/SenderAccounts.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace bv::lists {

QList<qint64> selectedRowids(const QTableView& grid, data::TableView& view)
{
    QList<int> rows;
    for (const QModelIndex& i : grid.selectionModel()->selectedRows())
        rows << i.row();
    std::sort(rows.begin(), rows.end());
    QList<qint64> out;
    for (int r : std::as_const(rows))
        if (const qint64 id = view.rowidAt(r))
            out << id;
    return out;
}

QPushButton* makeIntakeButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    return b;
}

QTableView* makeIntakeGrid(QAbstractItemModel* model, const QString& accessibleName, QWidget* parent)
{
    auto* grid = new QTableView(parent);
    grid->setObjectName(QStringLiteral("dbgReturnedEmails"));
    grid->setAccessibleName(accessibleName);
    grid->setModel(model);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The addresses take the width; any column after them keeps a width of
    // its own at the right.
    QHeaderView* header = grid->horizontalHeader();
    const auto fit = [header] {
        if (header->count() == 0)
            return;
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int i = 1; i < header->count(); ++i)
            header->resizeSection(i, 150);
    };
    QObject::connect(header, &QHeaderView::sectionCountChanged, header, fit);
    fit();
    return grid;
}

MailboxWindow::MailboxWindow(Services& services, data::Connection& connection,
                             const QString& objectName, const QString& title,
                             const QString& explanation, QWidget* parent)
    : QDialog(parent), m_services(services), m_connection(connection),
      tbReturnedEmails(connection, QStringLiteral("BadEmail")),
      tbRecipients(connection, QStringLiteral("RecipientList"))
{
    setObjectName(objectName);
    setWindowTitle(title);
    tbReturnedEmails.setObjectName(QStringLiteral("tbReturnedEmails"));
    tbReturnedEmails.setIndexName(QStringLiteral("EMAILMEMO"));

    lblExplain = new QLabel(explanation, this);
    lblExplain->setObjectName(QStringLiteral("lblExplain"));
    lblExplain->setWordWrap(true);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setValue(0);
    lblNumFound = new QLabel(this);
    lblNumFound->setObjectName(QStringLiteral("lblNumFound"));
    lblCount = new QLabel(this);
    lblCount->setObjectName(QStringLiteral("lblCount"));

    m_model = new data::TableViewModel(tbReturnedEmails, {{QStringLiteral("EmailMemo"), QStringLiteral("Email")}},
                                       this);
    m_model->setEditable(true);
    connect(m_model, &data::TableViewModel::editFailed, this,
            [this](const QString& text) { m_services.dialogs.showError(text); });
    dbgReturnedEmails = makeIntakeGrid(m_model, title, this);
    dbgReturnedEmails->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                       QAbstractItemView::SelectedClicked);

    btnOpenFile = makeIntakeButton("btnOpenFile", QStringLiteral("Open File"), this);
    btnClose = makeIntakeButton("btnClose", QStringLiteral("Close"), this);

    auto* counts = new QHBoxLayout;
    counts->addWidget(lblNumFound);
    counts->addStretch();
    counts->addWidget(lblCount);
    m_buttons = new QHBoxLayout;
    m_buttons->addWidget(btnOpenFile);
    m_buttons->addStretch();
    m_buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblExplain);
    layout->addWidget(ProgressBar1);
    layout->addLayout(counts);
    layout->addWidget(dbgReturnedEmails);
    layout->addLayout(m_buttons);

    connect(btnOpenFile, &QPushButton::clicked, this, &MailboxWindow::openFile);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    resize(520, 440);
}

QPushButton* MailboxWindow::addActionButton(const char* name, const QString& caption)
{
    auto* b = makeIntakeButton(name, caption, this);
    m_buttons->insertWidget(m_buttons->count() - 2, b);
    return b;
}

QList<qint64> MailboxWindow::selectedRows()
{
    return selectedRowids(*dbgReturnedEmails, tbReturnedEmails);
}

void MailboxWindow::showEvent(QShowEvent* event)
{
    // The grid stays empty until a file is read; BadEmail keeps the last
    // harvest for "Add All" and "Exclude All" meanwhile.
    tbReturnedEmails.close();
    lblNumFound->clear();
    try {
        tbRecipients.close();
        tbRecipients.open();
        showRecipientCount();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
    QDialog::showEvent(event);
}

void MailboxWindow::done(int result)
{
    // Not while a file is read: the harvest is still filling the grid's table.
    if (m_busy)
        return;
    tbReturnedEmails.close();
    tbRecipients.close();
    QDialog::done(result);
}

void MailboxWindow::showRecipientCount()
{
    if (tbRecipients.isOpen())
        lblCount->setText(recipientsInAllListsText(tbRecipients.recordCount()));
}

void MailboxWindow::setBusy(bool busy)
{
    m_busy = busy;
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setEnabled(!busy);
    dbgReturnedEmails->setEnabled(!busy);
}

void MailboxWindow::openFile()
{
    const QString path = m_services.dialogs.openFile(mailboxFileRequest(m_services.programFolder));
    if (path.isEmpty())
        return;
    setBusy(true);
    harvest(path);
    setBusy(false);
}

void MailboxWindow::harvest(const QString& path)
{
    const bool wasOpen = tbReturnedEmails.isOpen();
    try {
        // The user's own addresses stand in every returned message.
        const QStringList ignore = LoadSenderAddressesUpper(m_services.programFolder);
        tbReturnedEmails.close();
        qsizetype reached = 0;
        EventThrottle throttle(m_services.clock, [&] { ProgressBar1->setValue(int(reached)); });
        const int count = HarvestUniqueAddresses(m_connection, path, ignore,
                                                 [&](qsizetype line, qsizetype lines) {
                                                     if (line == 0) {
                                                         ProgressBar1->setMaximum(int(lines));
                                                         ProgressBar1->setValue(0);
                                                     }
                                                     reached = line + 1;
                                                     throttle.tick();
                                                 });
        ProgressBar1->setValue(ProgressBar1->maximum());
        tbReturnedEmails.open();
        lblNumFound->setText(QString::number(count));
        m_services.dialogs.message(uniqueAddressesMessage(count));
    } catch (const HarvestError& e) {
        m_services.dialogs.showError(unreadableFileMessage(path, e.message()));
    } catch (const AccountsError& e) {
        m_services.dialogs.showError(e.message());
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
    ProgressBar1->setValue(0);
    try {
        // A file that was not read leaves the grid as it was.
        if (!tbReturnedEmails.isOpen() && wasOpen)
            tbReturnedEmails.open();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

std::function<void(int)> MailboxWindow::progressBar(int maximum)
{
    ProgressBar1->setMaximum(maximum);
    ProgressBar1->setValue(0);
    return [this](int position) {
        ProgressBar1->setValue(position);
        ProgressBar1->repaint();
    };
}

void MailboxWindow::runCommand(const std::function<void()>& command)
{
    try {
        command();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
    ProgressBar1->setValue(0);
    try {
        if (tbReturnedEmails.isOpen())
            tbReturnedEmails.refresh();
        showRecipientCount();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

} // namespace bv::lists
