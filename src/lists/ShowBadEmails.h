#pragma once

#include <QDialog>

class QLabel;
class QTableView;

namespace bv {
struct Services;
}
namespace bv::data {
class Connection;
}

namespace bv::lists {

class BadEmailsModel;

// "Illegal Email Addresses": the recipients of every list whose address the
// invalid-address query flags, with their removal.
class TfrmShowBadEmails : public QDialog
{
    Q_OBJECT
public:
    TfrmShowBadEmails(Services& services, data::Connection& connection, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Runs the query and the count again; on failure the window stays as it was.
    void reload();
    void remove(bool all);

    Services& m_services;
    data::Connection& m_connection;
    BadEmailsModel* m_model;
    QTableView* m_grid;
    QLabel* m_badCount;
    QLabel* m_total;
};

} // namespace bv::lists
