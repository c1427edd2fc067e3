#pragma once

#include "returned/Inbox.h"
#include "returned/PopAccounts.h"

#include <QDialog>

#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace bv {
struct Services;
}

namespace bv::data {
class Connection;
}

namespace bv::returned {

class Pop3Session;
struct MailFields;

// "Remove Returned Email": reads a POP account's mailbox into the inbox
// IncomingEmail and turns the stored messages into exclusions. Created anew
// each time it is opened and shown modally.
class TfrmMain : public QDialog
{
    Q_OBJECT
public:
    // data is AdsConnection1, localConnect the list registry's connection.
    TfrmMain(Services& services, bv::data::Connection& data, bv::data::Connection& localConnect,
             QWidget* parent = nullptr);
    ~TfrmMain() override;

    static QString settingsFileName() { return QStringLiteral("BrevicastSettings2.ini"); }
    static QString allListsText() { return QStringLiteral("Apply To All Lists"); }
    static QString explanationText();
    Pop3Session& session() { return *m_session; }

    void done(int result) override;

    QAction* CheckMail = nullptr;
    QAction* SetupAccounts = nullptr;
    QAction* ExcludeAll = nullptr;
    QAction* ExcludeSelected = nullptr;
    QAction* TrashAll = nullptr;
    QAction* TrashSelected = nullptr;
    QComboBox* cbAccount = nullptr;
    QCheckBox* cbxLeaveMailOnServer = nullptr;
    QComboBox* cbLists = nullptr;
    QTreeWidget* lvHeaders = nullptr;
    QPlainTextEdit* memBody = nullptr;
    QLabel* pnlSubject = nullptr;
    QLabel* pnlStatus = nullptr;
    QLabel* pnlCount = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void openWindow();
    void fillAccounts(const QString& current);
    void fillListPicker();
    void readLeaveMail();
    void writeLeaveMail();
    void checkMail();
    void setupAccounts();
    void checkFinished(bool ok, const QString& error);
    void setCheckRunning(bool running);
    int storeFetched(const QByteArray& message);
    static QTreeWidgetItem* makeRow(int index, const MailFields& fields);
    // Adds the rows of the messages fetched since the last time to the list.
    void listPending();
    void fillList();
    void clearDetail();
    void showDetail(const MailFields& fields);
    void selectionChanged();
    QList<int> selectedIndexes() const;
    void showCount();
    void status(const QString& text);

    void excludeAll();
    void excludeSelected();
    void exclude(const QStringList& texts);
    void trashAll();
    void trashSelected();
    bool guarded(const std::function<void()>& operation);
    // Yes goes on; anything else shows cancelled in the status line.
    bool confirmed(const QString& question, const QString& cancelled);

    Services& m_services;
    bv::data::Connection& m_data;
    bv::data::Connection& m_localConnect;
    Inbox m_inbox;
    std::unique_ptr<Pop3Session> m_session;
    std::vector<PopAccount> m_accounts;
    QList<QLabel*> m_values; // From, To, Cc, Subject, Date, Priority, Receipt, Organization
    QStringList m_notices;
    QList<QTreeWidgetItem*> m_pendingRows; // fetched, not listed yet
    qint64 m_listedAt = 0;
    QAction* m_menuExclude = nullptr;
    QAction* m_menuTrash = nullptr;
    bool m_leftForModal = false;
    bool m_closing = false;
    bool m_opened = false;
    bool m_settingsReadable = true;
};

} // namespace bv::returned
