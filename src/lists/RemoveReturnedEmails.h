#pragma once

#include "MailboxWindow.h"

namespace bv::lists {

// "Remove Returned Email Addresses": the addresses of a mailbox of returned
// mail; the recipients with those addresses, in every list, move to the
// exclusion lists.
class TfrmRemoveReturnedEmails : public MailboxWindow
{
    Q_OBJECT
public:
    TfrmRemoveReturnedEmails(Services& services, data::Connection& connection, QWidget* parent = nullptr);

    // Shows the window modally, through the dialogs service.
    int execute();

    QPushButton* btnExcludeSelected = nullptr;
    QPushButton* btnExcludeAll = nullptr;

private:
    void excludeSelected();
    void excludeAll();
};

} // namespace bv::lists
