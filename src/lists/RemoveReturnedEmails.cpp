#include "RemoveReturnedEmails.h"

#include "Intake.h"
#include "core/Dialogs.h"
#include "core/Services.h"

#include <QPushButton>

namespace bv::lists {

TfrmRemoveReturnedEmails::TfrmRemoveReturnedEmails(Services& services, data::Connection& connection,
                                                   QWidget* parent)
    : MailboxWindow(services, connection, QStringLiteral("frmRemoveReturnedEmails"),
                    QStringLiteral("Remove Returned Email Addresses"),
                    QStringLiteral("Open a Eudora Mailbox (.MBX) and move the indicated email addresses "
                                   "to the exclusions list if the address matches a recipient.  "
                                   "Processing is done for all lists."),
                    parent)
{
    btnExcludeSelected = addActionButton("btnExcludeSelected", QStringLiteral("Exclude Selected"));
    btnExcludeAll = addActionButton("btnExcludeAll", QStringLiteral("Exclude All"));
    connect(btnExcludeSelected, &QPushButton::clicked, this, &TfrmRemoveReturnedEmails::excludeSelected);
    connect(btnExcludeAll, &QPushButton::clicked, this, &TfrmRemoveReturnedEmails::excludeAll);
}

int TfrmRemoveReturnedEmails::execute()
{
    return m_services.dialogs.execModal(*this);
}

void TfrmRemoveReturnedEmails::excludeSelected()
{
    runCommand([this] {
        m_services.dialogs.message(excludedSelectedMessage(ExcludeSelected(m_connection, selectedRows())));
    });
}

void TfrmRemoveReturnedEmails::excludeAll()
{
    if (m_services.dialogs.ask(excludeAllQuestion(), Buttons::YesNo) != Answer::Yes)
        return;
    runCommand([this] {
        const auto bar = progressBar(200);
        ExcludeAll(m_connection, bar);
        bar(200);
        m_services.dialogs.message(excludedAllMessage());
    });
}

} // namespace bv::lists
