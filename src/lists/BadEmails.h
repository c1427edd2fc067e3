#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace bv::data {
class Connection;
}

namespace bv::lists {

// The invalid-address query of the recipient tables (every list), in the
// program's dialect: blank addresses, forbidden characters, "@" missing or
// first, a second "@", no dot two or more places after the "@", "..". It
// yields Email, FirstName, LastName ordered by Email, and the ROWID that
// names the row for its removal.
QString badEmailsStatement();

struct BadEmailRow
{
    qint64 rowid = 0;
    QString email; // as stored; empty also for a missing one
    QString firstName;
    QString lastName;
};

std::vector<BadEmailRow> QueryBadEmails(data::Connection& connection);
int recipientCount(data::Connection& connection);

// Deletes from RecipientList the rows given; returns how many were still
// there to delete. An engine failure stops it with the engine's text in
// *error; the count then covers the rows deleted before it.
int RemoveBadEmails(data::Connection& connection, const std::vector<BadEmailRow>& rows,
                    QString* error = nullptr);

QString badFoundText(int count);      // count + " Bad addresses found."
QString totalAddressesText(int count); // count + " Email addresses."
QString removedMessage(int count);    // count + " Invalid address(es) deleted."

// The query rows for a grid: Email, FirstName, LastName.
class BadEmailsModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(std::vector<BadEmailRow> rows);
    const std::vector<BadEmailRow>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<BadEmailRow> m_rows;
};

} // namespace bv::lists
