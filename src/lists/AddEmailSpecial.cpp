#include "AddEmailSpecial.h"

#include "Intake.h"
#include "core/Dialogs.h"
#include "core/Services.h"

#include <QPushButton>

namespace bv::lists {

TfrmAddEmailSpecial::TfrmAddEmailSpecial(Services& services, data::Connection& connection, QWidget* parent)
    : MailboxWindow(services, connection, QStringLiteral("frmAddEmailSpecial"),
                    QStringLiteral("Add Email Addresses (Eudora Mailbox - MBX)"),
                    QStringLiteral("Open a Eudora Mailbox (.MBX), add email addresses it contains to "
                                   "recipients in the current list"),
                    parent)
{
    btnAddSelected = addActionButton("btnAddSelected", QStringLiteral("Add Selected"));
    btnAddAll = addActionButton("btnAddAll", QStringLiteral("Add All"));
    connect(btnAddSelected, &QPushButton::clicked, this, &TfrmAddEmailSpecial::addSelected);
    connect(btnAddAll, &QPushButton::clicked, this, &TfrmAddEmailSpecial::addAll);
}

int TfrmAddEmailSpecial::execute(const QString& list)
{
    setCurrentList(list);
    return m_services.dialogs.execModal(*this);
}

bool TfrmAddEmailSpecial::listChosen()
{
    // Rows of no list would be seen in no list window.
    if (!m_list.trimmed().isEmpty())
        return true;
    m_services.dialogs.message(selectListFirstText());
    return false;
}

void TfrmAddEmailSpecial::addSelected()
{
    if (!listChosen())
        return;
    runCommand([this] {
        const AddResult r = AddSelected(m_connection, m_list, selectedRows());
        m_services.dialogs.message(newAddressesAddedMessage(r.added));
        if (r.tooLong > 0)
            m_services.dialogs.message(tooLongMessage(r.tooLong), Severity::Warning);
    });
}

void TfrmAddEmailSpecial::addAll()
{
    if (!listChosen())
        return;
    if (m_services.dialogs.ask(addAllQuestion(m_list), Buttons::OkCancel) != Answer::Ok)
        return;
    runCommand([this] {
        const auto bar = progressBar(100);
        const AddResult r = AddAll(m_connection, m_list, bar);
        bar(100);
        m_services.dialogs.message(addedAllMessage(r.added));
        if (r.tooLong > 0)
            m_services.dialogs.message(tooLongMessage(r.tooLong), Severity::Warning);
    });
}

} // namespace bv::lists
