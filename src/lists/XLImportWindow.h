#pragma once

#include "data/TableView.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace bv {
struct Services;
}
namespace bv::data {
class Connection;
}

namespace bv::lists {

struct ColumnChoice;

// "Import from Excel": reads a workbook into the staging table, shows it,
// copies its rows into a list with the chosen columns, and keeps the choices
// as named import definitions.
class TfrmXLImport : public QDialog
{
    Q_OBJECT
public:
    // data is AdsConnection1, localConnect the list registry's connection.
    TfrmXLImport(Services& services, data::Connection& data, data::Connection& localConnect,
                 QWidget* parent = nullptr);
    ~TfrmXLImport() override;

    void done(int result) override;

    QLineEdit* txtExcelFile = nullptr;
    QPushButton* btnOpenFile = nullptr; // "..."
    QPushButton* btnViewData = nullptr;
    QComboBox* cbDefinition = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnDelete = nullptr;
    QComboBox* cbEmail = nullptr;
    QComboBox* cbSal = nullptr;
    QComboBox* cbFN = nullptr;
    QComboBox* cbLN = nullptr;
    QComboBox* cbList = nullptr;
    QPushButton* btnImportData = nullptr;
    QPushButton* btnClose = nullptr;
    QTableView* dbgTmpRecipients = nullptr;
    QTableView* dbgNewRecipients = nullptr;
    QPlainTextEdit* memResults = nullptr;

    data::TableView tbTmpRecipients;
    data::TableView tbNewRecipients;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildWindow();
    void openWindow();
    void chooseFile();
    void viewData();
    void importData();
    void saveDefinition();
    void definitionPicked();
    void deleteDefinition();
    void fillDefinitions();
    ColumnChoice columns() const;
    void addResult(const QString& line);
    void showError(const QString& text);
    // Runs an operation, showing any engine error in the general error display.
    void guarded(const std::function<void()>& operation);

    Services& m_services;
    data::Connection& m_data;
    data::Connection& m_localConnect;
    QString m_dialogFolder;   // where "..." starts
    QString m_dialogFileName; // and the name it offers
    bool m_reading = false;
};

} // namespace bv::lists
