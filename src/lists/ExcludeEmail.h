#pragma once

#include "data/Database.h"
#include "data/TableView.h"

#include <QDialog>

class QPushButton;
class QTableView;

namespace bv {
struct Services;
}

namespace bv::lists {

// "Exclude Email Addresses": the recipients that TExclude collected into
// BadEmail, for the user to drop some before they are excluded. The caller
// goes on to ExcludeCollected only when the result is QDialog::Accepted.
class TfrmExcludeEmail : public QDialog
{
    Q_OBJECT
public:
    TfrmExcludeEmail(Services& services, data::Connection& connection, QWidget* parent = nullptr);

    // Shows the window modally, through the dialogs service.
    int execute();

    QTableView* dbgReturnedEmails = nullptr;
    QPushButton* btnDontExclude = nullptr;
    QPushButton* btnExclude = nullptr;
    QPushButton* btnCancel = nullptr;

    data::TableView& returnedEmails() { return tbReturnedEmails; }

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void dontExcludeSelected();

    Services& m_services;
    data::Connection& m_connection;
    data::TableView tbReturnedEmails;
};

} // namespace bv::lists
