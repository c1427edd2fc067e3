#include "ShowBadEmails.h"

#include "BadEmails.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/Database.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace bv::lists {

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

TfrmShowBadEmails::TfrmShowBadEmails(Services& services, data::Connection& connection,
                                     QWidget* parent)
    : QDialog(parent), m_services(services), m_connection(connection)
{
    setObjectName(QStringLiteral("frmShowBadEmails"));
    setWindowTitle(QStringLiteral("Illegal Email Addresses"));

    m_model = new BadEmailsModel(this);
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("dbgBadEmails"));
    m_grid->setAccessibleName(QStringLiteral("Illegal Email Addresses"));
    m_grid->setModel(m_model);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->horizontalHeader()->setStretchLastSection(true);

    m_badCount = new QLabel(this);
    m_badCount->setObjectName(QStringLiteral("lblBadCount"));
    m_total = new QLabel(this);
    m_total->setObjectName(QStringLiteral("lblTotalCount"));

    auto* removeSelected =
        makeButton(QStringLiteral("btnRemoveSelected"), QStringLiteral("Remove Selected"), this);
    auto* removeAll = makeButton(QStringLiteral("btnRemoveAll"), QStringLiteral("Remove All"), this);
    auto* closeButton = makeButton(QStringLiteral("btnClose"), QStringLiteral("Close"), this);

    auto* counts = new QHBoxLayout;
    counts->addWidget(m_badCount);
    counts->addStretch();
    counts->addWidget(m_total);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(removeSelected);
    buttons->addWidget(removeAll);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_grid);
    layout->addLayout(counts);
    layout->addLayout(buttons);

    connect(removeSelected, &QPushButton::clicked, this, [this] { remove(false); });
    connect(removeAll, &QPushButton::clicked, this, [this] { remove(true); });
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TfrmShowBadEmails::showEvent(QShowEvent* event)
{
    reload();
    QDialog::showEvent(event);
}

void TfrmShowBadEmails::reload()
{
    try {
        auto rows = QueryBadEmails(m_connection);
        const int total = recipientCount(m_connection);
        m_badCount->setText(badFoundText(int(rows.size())));
        m_total->setText(totalAddressesText(total));
        m_model->setRows(std::move(rows));
    } catch (const data::DbError&) {
    }
}

void TfrmShowBadEmails::remove(bool all)
{
    std::vector<BadEmailRow> chosen;
    const QItemSelectionModel* selection = m_grid->selectionModel();
    const auto& rows = m_model->rows();
    for (int r = 0; r < int(rows.size()); ++r)
        if (all || selection->isRowSelected(r, QModelIndex()))
            chosen.push_back(rows[size_t(r)]);
    QString error;
    const int count = RemoveBadEmails(m_connection, chosen, &error);
    if (!error.isEmpty())
        m_services.dialogs.showError(error);
    reload();
    m_services.dialogs.message(removedMessage(count));
}

} // namespace bv::lists
