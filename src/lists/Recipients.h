#pragma once

#include "data/Database.h"
#include "data/TableView.h"

#include <QDialog>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTabWidget;
class QTableView;

namespace bv {
struct Services;
class Timer;
} // namespace bv

namespace bv::data {
class ListOperations;
class BackupCommands;
class GetBackupFolderPrompt;
class TableViewModel;
class TfrmGetListName;
} // namespace bv::data

namespace bv::lists {

class SearchActiveList;
class TfrmAddEmailSpecial;
class TfrmRemoveReturnedEmails;
struct RecordFields;

// The recipient list window: a list's recipients and exclusions on two
// pages, single-record editing and moves, and the list-wide tools.
class TfrmRecipients : public QDialog
{
    Q_OBJECT
public:
    // Commands whose windows live elsewhere; a missing one is reported as
    // not available.
    struct Hooks
    {
        std::function<bool()> askReturnedFileQuestion; // RtdFileMsg; true for Yes
        std::function<void()> checkReturnedMail;       // By Checking Email
        std::function<void()> importRecipientsCsv;     // Load More (CSV), recipients
        std::function<void()> importExclusionsCsv;     // Load More (CSV), exclusions
        std::function<void()> importExcel;             // Load More (Excel)
    };

    // data is AdsConnection1, localConnect the registry's connection.
    TfrmRecipients(Services& services, data::Connection& data, data::Connection& localConnect,
                   data::TfrmGetListName& listNamePrompt, QWidget* parent = nullptr);
    ~TfrmRecipients() override;

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    data::TableView& recipients() { return tbRecipients; }
    data::TableView& exclusions() { return tbExclusions; }
    QString currentList() const;

    static QString selectListFirstText();
    static QString notAvailableText(const QString& command);

    // Controls, by their names.
    QComboBox* cbCurrentList = nullptr;
    QPushButton* btnLists = nullptr;
    QMenu* popLists = nullptr;
    QLineEdit* txtSearchFor = nullptr;
    QComboBox* cbSearchField = nullptr;
    QComboBox* cbSearchTable = nullptr;
    QPushButton* btnGo = nullptr;
    QPushButton* btnNext = nullptr;
    QPushButton* btnRemoveReturned = nullptr;
    QMenu* popRemoveReturned = nullptr;
    QPushButton* btnClose = nullptr;
    QTabWidget* pgcLists = nullptr;
    QWidget* tabRecipients = nullptr;
    QWidget* tabExclusions = nullptr;

    QTableView* dbgRecipients = nullptr;
    QLineEdit* lbeRCVEmail = nullptr;
    QLineEdit* lbeRCVLastName = nullptr;
    QLineEdit* lbeRCVFirstName = nullptr;
    QLineEdit* lbeRCVSal = nullptr;
    QCheckBox* cbxSendTo = nullptr;
    QPushButton* btnRCVAdd = nullptr;
    QPushButton* btnRCVUpdate = nullptr;
    QPushButton* btnRCVDelete = nullptr;
    QPushButton* btnRCVClear = nullptr;
    QPushButton* btnExclude = nullptr;
    QPushButton* btnSendToAll = nullptr;
    QPushButton* btnSendToNone = nullptr;
    QPushButton* btnRecipientsMenu = nullptr;
    QMenu* popRecipients = nullptr;
    QLabel* lblRctCt = nullptr;
    QLabel* lblRCVStatus = nullptr;
    QLabel* lblRecMoved = nullptr;

    QTableView* dbgExclusions = nullptr;
    QLineEdit* lbeEXEmail = nullptr;
    QLineEdit* lbeEXLastName = nullptr;
    QLineEdit* lbeEXFirstName = nullptr;
    QLineEdit* lbeEXSal = nullptr;
    QPushButton* btnEXAdd = nullptr;
    QPushButton* btnEXUpdate = nullptr;
    QPushButton* btnEXDelete = nullptr;
    QPushButton* btnEXClear = nullptr;
    QPushButton* btnInclude = nullptr;
    QPushButton* btnExclusionsMenu = nullptr;
    QMenu* popExclusions = nullptr;
    QLabel* lblExCt = nullptr;
    QLabel* lblEXStatus = nullptr;
    QLabel* lblExcMoved = nullptr;

    Timer* timStatusClear = nullptr;
    Timer* timExcludeInclude = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Page;

    void buildWindow();
    QWidget* buildPage(Page& page, bool exclusions);
    QMenu* menu(const char* name, QWidget* parent, const QList<QPair<const char*, QString>>& items,
                const QList<std::function<void()>>& handlers);
    void openWindow();
    void listChosen();
    void recordChanged(Page& page);
    void rereadViews();
    bool listSelected();
    RecordFields boxes(const Page& page) const;
    void addOrUpdate(Page& page, bool update);
    void deleteRecord(Page& page);
    void clearBoxes(Page& page);
    void setStatus(Page& page, const QString& text);
    void move(Page& from, Page& to, QLabel* shown, QLabel* hidden);
    void sendTo(bool on);
    void clearList(Page& page);
    void exportList(Page& page);
    void removeExclusions();
    void removeInvalid();
    void addFromMailbox();
    void removeReturnedEmails();
    void clearDuplicates(Page& page);
    void search(bool find);
    void sortBy(Page& page, int column);
    void showPageMenu(Page& page);
    void runHook(const QString& command, const std::function<void()>& hook);
    // Runs an operation, showing any engine or file error in the general
    // error display.
    void guarded(const std::function<void()>& operation);

    Services& m_services;
    data::Connection& m_data;
    data::TableView tbRecipients;
    data::TableView tbExclusions;
    std::unique_ptr<Page> m_recipientsPage;
    std::unique_ptr<Page> m_exclusionsPage;
    std::unique_ptr<data::ListOperations> m_lists;
    std::unique_ptr<data::GetBackupFolderPrompt> m_backupPrompt;
    std::unique_ptr<data::BackupCommands> m_backups;
    std::unique_ptr<SearchActiveList> m_search;
    Hooks m_hooks;
    TfrmAddEmailSpecial* m_addEmailSpecial = nullptr;           // made on first use
    TfrmRemoveReturnedEmails* m_removeReturnedEmails = nullptr; // likewise
    bool m_editing = false;
};

} // namespace bv::lists
