#include "ClearDupsWindow.h"

#include "ClearDups.h"
#include "core/Dialogs.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace bv::lists {

TfrmClearDups::TfrmClearDups(data::Connection& data, Dialogs& dialogs, std::function<QString()> currentList,
                             QWidget* parent)
    : QDialog(parent), m_data(data), m_dialogs(dialogs), m_currentList(std::move(currentList)), aqDups(data)
{
    setObjectName(QStringLiteral("frmClearDups"));
    setWindowTitle(QStringLiteral("Delete Duplicates"));
    aqDups.setSql(aqDupsSql());

    dbgDups = new QTableWidget(0, 3, this);
    dbgDups->setObjectName(QStringLiteral("dbgDups"));
    dbgDups->setHorizontalHeaderLabels({QStringLiteral("Email"), QStringLiteral("FirstName"), QStringLiteral("LastName")});
    dbgDups->setEditTriggers(QAbstractItemView::NoEditTriggers);
    dbgDups->setSelectionBehavior(QAbstractItemView::SelectRows);
    dbgDups->horizontalHeader()->setStretchLastSection(true);
    dbgDups->setAccessibleName(windowTitle());

    btnDeleteDuplicates = new QPushButton(QStringLiteral("Delete Duplicates"), this);
    btnDeleteDuplicates->setObjectName(QStringLiteral("btnDeleteDuplicates"));
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDeleteDuplicates);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dbgDups);
    layout->addLayout(buttons);

    connect(btnDeleteDuplicates, &QPushButton::clicked, this, &TfrmClearDups::deleteDuplicates);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
    resize(560, 400);
}

void TfrmClearDups::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    try {
        openListing();
    } catch (const data::DbError& e) {
        m_dialogs.showError(e.message());
    }
}

void TfrmClearDups::openListing()
{
    aqDups.setParam(QStringLiteral("lst"), m_currentList());
    aqDups.open();
    dbgDups->setRowCount(0);
    dbgDups->setRowCount(aqDups.recordCount());
    int row = 0;
    for (aqDups.first(); !aqDups.eof(); aqDups.next(), ++row)
        for (int col = 0; col < 3; ++col)
            dbgDups->setItem(row, col, new QTableWidgetItem(aqDups.value(col).toString()));
}

void TfrmClearDups::deleteDuplicates()
{
    try {
        const int deleted = deleteDuplicateRecipients(m_data, m_currentList());
        openListing();
        m_dialogs.message(duplicatesDeletedText(deleted));
    } catch (const data::DbError& e) {
        m_dialogs.showError(e.message());
    }
}

} // namespace bv::lists
