#include "ExcludeEmail.h"

#include "Intake.h"
#include "MailboxWindow.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/TableViewModel.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace bv::lists {

TfrmExcludeEmail::TfrmExcludeEmail(Services& services, data::Connection& connection, QWidget* parent)
    : QDialog(parent), m_services(services), m_connection(connection),
      tbReturnedEmails(connection, QStringLiteral("BadEmail"))
{
    setObjectName(QStringLiteral("frmExcludeEmail"));
    setWindowTitle(QStringLiteral("Exclude Email Addresses"));
    tbReturnedEmails.setObjectName(QStringLiteral("tbReturnedEmails"));
    tbReturnedEmails.setIndexName(QStringLiteral("EMAILMEMO"));

    auto* model = new data::TableViewModel(
        tbReturnedEmails,
        {{QStringLiteral("EmailMemo"), QStringLiteral("Email")}, {QStringLiteral("List"), QStringLiteral("List")}},
        this);
    dbgReturnedEmails = makeIntakeGrid(model, windowTitle(), this);

    btnDontExclude = makeIntakeButton("btnDontExclude", QStringLiteral("(Dont Exclude Selected)"), this);
    btnExclude = makeIntakeButton("btnExclude", QStringLiteral("Exclude"), this);
    btnCancel = makeIntakeButton("btnCancel", QStringLiteral("Cancel"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnDontExclude);
    buttons->addStretch();
    buttons->addWidget(btnExclude);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dbgReturnedEmails);
    layout->addLayout(buttons);

    connect(btnDontExclude, &QPushButton::clicked, this, &TfrmExcludeEmail::dontExcludeSelected);
    connect(btnExclude, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    resize(520, 420);
}

int TfrmExcludeEmail::execute()
{
    return m_services.dialogs.execModal(*this);
}

void TfrmExcludeEmail::showEvent(QShowEvent* event)
{
    try {
        tbReturnedEmails.close();
        tbReturnedEmails.open();
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
    QDialog::showEvent(event);
}

void TfrmExcludeEmail::done(int result)
{
    tbReturnedEmails.close();
    QDialog::done(result);
}

void TfrmExcludeEmail::dontExcludeSelected()
{
    const QList<qint64> rows = selectedRowids(*dbgReturnedEmails, tbReturnedEmails);
    if (m_services.dialogs.ask(clearSelectedQuestion(int(rows.size())), Buttons::YesNoCancel) != Answer::Yes)
        return;
    try {
        // By row id, so that a deletion cannot make the walk skip the row
        // that followed it.
        const int count = ClearBadEmails(m_connection, rows);
        tbReturnedEmails.refresh();
        tbReturnedEmails.first();
        m_services.dialogs.message(clearedMessage(count));
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

} // namespace bv::lists
