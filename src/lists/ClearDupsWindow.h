#pragma once

#include "data/Database.h"

#include <QDialog>

#include <functional>

class QPushButton;
class QTableWidget;

namespace bv {
class Dialogs;
}

namespace bv::lists {

// "Delete Duplicates": lists the surplus copies of the current list's
// addresses and deletes them with one statement.
class TfrmClearDups : public QDialog
{
    Q_OBJECT
public:
    // currentList reads the recipient list window's picker.
    TfrmClearDups(data::Connection& data, Dialogs& dialogs, std::function<QString()> currentList,
                  QWidget* parent = nullptr);

    QTableWidget* dbgDups = nullptr;
    QPushButton* btnDeleteDuplicates = nullptr;
    QPushButton* btnClose = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void openListing();
    void deleteDuplicates();

    data::Connection& m_data;
    Dialogs& m_dialogs;
    std::function<QString()> m_currentList;
    data::Query aqDups;
};

} // namespace bv::lists
