#pragma once

#include "data/Database.h"
#include "data/TableView.h"

#include <QDialog>

#include <functional>

class QAbstractItemModel;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace bv {
struct Services;
}
namespace bv::data {
class TableViewModel;
}

namespace bv::lists {

// The rows of a grid over a view that are selected, as ROWIDs in grid order.
QList<qint64> selectedRowids(const QTableView& grid, data::TableView& view);
// A button of the intake windows: named, captioned, never the default.
QPushButton* makeIntakeButton(const char* name, const QString& caption, QWidget* parent);
// The grid of the intake windows over BadEmail: whole rows, several at once,
// read-only until the caller says otherwise.
QTableView* makeIntakeGrid(QAbstractItemModel* model, const QString& accessibleName, QWidget* parent);

// What the two mailbox windows share: "Open File" reads a mailbox or any text
// file into BadEmail (one row per address), a grid shows the addresses
// ordered by EmailMemo and lets the user correct them in place, and two
// counters tell what was found and how many recipients there are.
class MailboxWindow : public QDialog
{
    Q_OBJECT
public:
    QLabel* lblExplain = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* lblNumFound = nullptr;
    QLabel* lblCount = nullptr;
    QTableView* dbgReturnedEmails = nullptr;
    QPushButton* btnOpenFile = nullptr;
    QPushButton* btnClose = nullptr;

    data::TableView& returnedEmails() { return tbReturnedEmails; }

protected:
    MailboxWindow(Services& services, data::Connection& connection, const QString& objectName,
                  const QString& title, const QString& explanation, QWidget* parent);

    // An action button, placed between "Open File" and "Close".
    QPushButton* addActionButton(const char* name, const QString& caption);
    QList<qint64> selectedRows();

    // Runs a command on the tables; an engine failure ends it and is shown by
    // the general error display. Either way the grid and the recipient count
    // are read again and the progress bar goes back to 0.
    void runCommand(const std::function<void()>& command);
    // The progress bar as an engine progress callback: base + percentage.
    // The window is blocked meanwhile, so the bar is painted at once.
    std::function<void(int)> progressBar(int maximum);

    void showEvent(QShowEvent* event) override;
    void done(int result) override;

    Services& m_services;
    data::Connection& m_connection;
    data::TableView tbReturnedEmails;
    data::TableView tbRecipients;

private:
    void openFile();
    void harvest(const QString& path);
    void showRecipientCount();
    void setBusy(bool busy);

    data::TableViewModel* m_model = nullptr;
    QHBoxLayout* m_buttons = nullptr;
    bool m_busy = false;
};

} // namespace bv::lists
