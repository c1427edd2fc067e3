#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace bv {
struct Services;
}

namespace bv::returned {

// "Manage Email Account Information": edits "Accounts.txt" in a grid. Only
// "Close" writes the file; any other way out discards the edits.
class TfrmManageEmailAccount : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmManageEmailAccount(Services& services, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillGrid();
    void add();
    void modify();
    void remove();
    void closeAndSave();
    int currentDataRow() const;
    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString& text);

    Services& m_services;
    QTableWidget* m_grid;
    QLineEdit* m_name;
    QLineEdit* m_email;
    QPushButton* m_add;
    bool m_updating = false;
    // The file was there but could not be read: "Close" must not replace it.
    bool m_loadFailed = false;
};

} // namespace bv::returned
