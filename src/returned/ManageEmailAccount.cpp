#include "ManageEmailAccount.h"

#include "core/SenderAccounts.h"
#include "core/SingleLine.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "lists/ValidateEmail.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace bv::returned {

namespace {

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption);
    b->setAutoDefault(false);
    return b;
}

} // namespace

TfrmManageEmailAccount::TfrmManageEmailAccount(Services& services, QWidget* parent)
    : QDialog(parent), m_services(services)
{
    setObjectName(QStringLiteral("frmManageEmailAccount"));
    setWindowTitle(QStringLiteral("Manage Email Account Information"));
    // Wide enough for the caption the window manager shows with it.
    setMinimumWidth(480);

    m_grid = new QTableWidget(0, 2, this);
    m_grid->setObjectName(QStringLiteral("sgAccounts"));
    m_grid->setAccessibleName(QStringLiteral("Accounts"));
    m_grid->setHorizontalHeaderLabels({QStringLiteral("Account Name"), QStringLiteral("Email Address")});
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* nameLabel = new QLabel(QStringLiteral("Account Name"), this);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("txtAccountName"));
    m_name->setAccessibleName(nameLabel->text());
    nameLabel->setBuddy(m_name);
    auto* emailLabel = new QLabel(QStringLiteral("Email Address"), this);
    m_email = new QLineEdit(this);
    m_email->setObjectName(QStringLiteral("txtEmail"));
    m_email->setAccessibleName(emailLabel->text());
    emailLabel->setBuddy(m_email);
    // Each value is one line of "Accounts.txt".
    auto* oneLine = new SingleLineValidator(this);
    m_name->setValidator(oneLine);
    m_email->setValidator(oneLine);

    m_add = makeButton(QStringLiteral("btnAdd"), QStringLiteral("Add"), this);
    auto* modifyButton = makeButton(QStringLiteral("btnModify"), QStringLiteral("Modify"), this);
    auto* deleteButton = makeButton(QStringLiteral("btnDelete"), QStringLiteral("Delete"), this);
    auto* closeButton = makeButton(QStringLiteral("btnClose"), QStringLiteral("Close"), this);

    auto* fields = new QGridLayout;
    fields->addWidget(nameLabel, 0, 0);
    fields->addWidget(m_name, 0, 1);
    fields->addWidget(emailLabel, 1, 0);
    fields->addWidget(m_email, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_add);
    buttons->addWidget(modifyButton);
    buttons->addWidget(deleteButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_grid);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    connect(m_add, &QPushButton::clicked, this, &TfrmManageEmailAccount::add);
    connect(modifyButton, &QPushButton::clicked, this, &TfrmManageEmailAccount::modify);
    connect(deleteButton, &QPushButton::clicked, this, &TfrmManageEmailAccount::remove);
    connect(closeButton, &QPushButton::clicked, this, &TfrmManageEmailAccount::closeAndSave);
}

void TfrmManageEmailAccount::showEvent(QShowEvent* event)
{
    fillGrid();
    QDialog::showEvent(event);
}

void TfrmManageEmailAccount::fillGrid()
{
    m_updating = false;
    m_add->setText(QStringLiteral("Add"));
    m_add->setAccessibleName(m_add->text());
    m_loadFailed = false;
    QList<SenderAccount> accounts;
    try {
        accounts = LoadSenderAccounts(m_services.programFolder);
    } catch (const AccountsError& e) {
        m_loadFailed = true;
        m_services.dialogs.showError(e.message());
    }
    m_grid->setRowCount(0);
    m_grid->setRowCount(qMax(1, int(accounts.size())));
    for (int r = 0; r < accounts.size(); ++r) {
        setCell(r, 0, accounts[r].name);
        setCell(r, 1, accounts[r].address);
    }
    m_grid->setCurrentCell(0, 0);
}

int TfrmManageEmailAccount::currentDataRow() const
{
    const int r = m_grid->currentRow();
    return r >= 0 && r < m_grid->rowCount() ? r : 0;
}

QString TfrmManageEmailAccount::cell(int row, int column) const
{
    const QTableWidgetItem* item = m_grid->item(row, column);
    return item ? item->text() : QString();
}

void TfrmManageEmailAccount::setCell(int row, int column, const QString& text)
{
    if (QTableWidgetItem* item = m_grid->item(row, column))
        item->setText(text);
    else
        m_grid->setItem(row, column, new QTableWidgetItem(text));
}

void TfrmManageEmailAccount::add()
{
    if (!bv::lists::IsValidEmail(m_email->text())) {
        m_services.dialogs.message(QStringLiteral("This email addresses is not valid."));
        return;
    }
    int target;
    if (m_updating) {
        target = currentDataRow();
    } else if (m_grid->rowCount() == 1 && cell(0, 1).isEmpty()) {
        target = 0;
    } else {
        target = m_grid->rowCount();
        m_grid->insertRow(target);
    }
    setCell(target, 0, m_name->text());
    setCell(target, 1, m_email->text());
    m_grid->setCurrentCell(target, 0);
    m_updating = false;
    m_add->setText(QStringLiteral("Add"));
    m_add->setAccessibleName(m_add->text());
}

void TfrmManageEmailAccount::modify()
{
    const int r = currentDataRow();
    m_name->setText(cell(r, 0));
    m_email->setText(cell(r, 1));
    m_updating = true;
    m_add->setText(QStringLiteral("Update"));
    m_add->setAccessibleName(m_add->text());
}

void TfrmManageEmailAccount::remove()
{
    if (m_grid->rowCount() == 1 && !bv::lists::IsValidEmail(cell(0, 1))) {
        m_services.dialogs.message(QStringLiteral("Nothing to Delete."));
        return;
    }
    const int r = currentDataRow();
    const QString question = QStringLiteral("Delete ") + cell(r, 0).trimmed() + QLatin1Char('\n')
                             + cell(r, 1).trimmed() + QLatin1Char('?');
    if (m_services.dialogs.ask(question, Buttons::YesNo) != Answer::Yes)
        return;
    if (m_grid->rowCount() == 1) {
        setCell(0, 0, QString());
        setCell(0, 1, QString());
        return;
    }
    m_grid->removeRow(r);
    m_grid->setCurrentCell(qMin(r, m_grid->rowCount() - 1), 0);
}

void TfrmManageEmailAccount::closeAndSave()
{
    if (m_loadFailed) {
        // Writing the grid would replace accounts it never showed.
        m_services.dialogs.showError(QStringLiteral("\"Accounts.txt\" could not be read; it is left as it was."));
        reject();
        return;
    }
    QList<SenderAccount> accounts;
    for (int r = 0; r < m_grid->rowCount(); ++r)
        accounts.append({cell(r, 0), cell(r, 1)});
    QString error;
    if (!WriteSenderAccounts(m_services.programFolder, accounts, &error)) {
        // Stay open: the grid is the only copy of the edits.
        m_services.dialogs.showError(error);
        return;
    }
    accept();
}

} // namespace bv::returned
