#pragma once

#include "MailboxWindow.h"

namespace bv::lists {

// "Add Email Addresses (Eudora Mailbox - MBX)": the addresses of a mailbox
// or any text file, added to the current list as new recipients.
class TfrmAddEmailSpecial : public MailboxWindow
{
    Q_OBJECT
public:
    TfrmAddEmailSpecial(Services& services, data::Connection& connection, QWidget* parent = nullptr);

    // The list selected in the recipient list window.
    void setCurrentList(const QString& list) { m_list = list; }
    QString currentList() const { return m_list; }
    // Shows the window modally for list, through the dialogs service.
    int execute(const QString& list);

    QPushButton* btnAddSelected = nullptr;
    QPushButton* btnAddAll = nullptr;

private:
    bool listChosen();
    void addSelected();
    void addAll();

    QString m_list;
};

} // namespace bv::lists
