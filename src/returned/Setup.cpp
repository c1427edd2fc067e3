#include "Setup.h"

#include "core/Dialogs.h"
#include "core/Services.h"
#include "core/SingleLine.h"
#include "data/Database.h"
#include "data/Schema.h"
#include "data/TableView.h"
#include "returned/PopAccounts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace bv::returned {

using bv::data::DbError;
using bv::data::EditState;
using bv::data::TableView;

namespace {

const QString kTable = QStringLiteral("PopAccounts");
const QString kFirstText = QStringLiteral("My Reply-To Account");
const QString kAllowPlain = QStringLiteral("AllowPlainPassword");

// What the field stores: a longer text would be cut on saving while the box
// still showed it whole.
int storedWidth(const QString& field)
{
    const bv::data::TableDef* def = bv::data::table(kTable);
    const bv::data::FieldDef* f = def ? def->field(field) : nullptr;
    return f && f->width > 0 ? f->width : 32767;
}

QString accessible(const QString& caption)
{
    QString text = caption;
    return text.remove(QLatin1Char('&'));
}

QPushButton* makeButton(const QString& name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(accessible(caption));
    b->setAutoDefault(false);
    return b;
}

} // namespace

TfmSetup::TfmSetup(Services& services, bv::data::Connection& connection, QWidget* parent)
    : QDialog(parent), m_services(services), m_connection(connection),
      m_view(std::make_unique<TableView>(connection, kTable))
{
    setObjectName(QStringLiteral("fmSetup"));
    setWindowTitle(QStringLiteral("Setup"));

    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("pcSetup"));
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tsPOP3"));
    tabs->addTab(page, QStringLiteral("POP3 settings"));

    auto* form = new QFormLayout(page);
    m_address = new QComboBox(page);
    m_address->setObjectName(QStringLiteral("cbEmailAddress"));
    m_address->setEditable(true);
    m_address->setInsertPolicy(QComboBox::NoInsert);
    // Wide enough for an address whether or not the fields below are shown.
    m_address->setMinimumContentsLength(28);
    m_address->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_address->setAccessibleName(accessible(QStringLiteral("&Your email")));
    m_address->installEventFilter(this);
    // Every value goes into one POP3 command line: a pasted line break would
    // end it early and send the rest as another command.
    auto* oneLine = new SingleLineValidator(this);
    m_address->setValidator(oneLine);
    if (m_address->lineEdit()) {
        m_address->lineEdit()->installEventFilter(this);
        m_address->lineEdit()->setMaxLength(storedWidth(QStringLiteral("EmailAddress")));
    }
    auto* okButton = makeButton(QStringLiteral("btnOK"), QStringLiteral("OK"), page);
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(m_address, 1);
    addressRow->addWidget(okButton);
    auto* addressLabel = new QLabel(QStringLiteral("&Your email"), page);
    addressLabel->setBuddy(m_address);
    form->addRow(addressLabel, addressRow);

    auto addField = [&](const QString& name, const QString& caption, const QString& field) {
        auto* label = new QLabel(caption, page);
        label->setObjectName(QStringLiteral("lbl") + name);
        auto* edit = new QLineEdit(page);
        edit->setObjectName(name);
        edit->setValidator(oneLine);
        edit->setMaxLength(storedWidth(field));
        edit->setAccessibleName(accessible(caption));
        label->setBuddy(edit);
        form->addRow(label, edit);
        m_fieldWidgets << label << edit;
        return edit;
    };
    m_server = addField(QStringLiteral("POPServer"), QStringLiteral("&Incoming Mail Server (POP)"),
                        QStringLiteral("PopServer"));
    m_port = addField(QStringLiteral("POPPort"), QStringLiteral("&Port"), QStringLiteral("Port"));
    m_port->setValidator(new QIntValidator(0, 65535, m_port));
    m_account = addField(QStringLiteral("Account"), QStringLiteral("&Account"),
                         QStringLiteral("Account"));
    m_password = addField(QStringLiteral("Password"), QStringLiteral("&Password"),
                          QStringLiteral("Password"));
    m_password->setEchoMode(QLineEdit::Normal);
    m_allowPlain = new QCheckBox(QStringLiteral("Allow password without encryption"), page);
    m_allowPlain->setObjectName(QStringLiteral("cbxAllowPlainPassword"));
    m_allowPlain->setToolTip(QStringLiteral(
        "Send the password even when the server offers no encryption, where anyone on the way "
        "can read it"));
    form->addRow(QString(), m_allowPlain);
    m_fieldWidgets << m_allowPlain;

    auto* saveButton = makeButton(QStringLiteral("btnSave"), QStringLiteral("Save"), this);
    auto* closeButton = makeButton(QStringLiteral("btnClose"), QStringLiteral("Close"), this);
    auto* cancelButton = makeButton(QStringLiteral("btnCancel"), QStringLiteral("Cancel"), this);
    auto* deleteButton = makeButton(QStringLiteral("btnDelete"), QStringLiteral("Delete"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(saveButton);
    buttons->addWidget(deleteButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    buttons->addWidget(cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs);
    layout->addLayout(buttons);

    connect(okButton, &QPushButton::clicked, this, &TfmSetup::lookUpAddress);
    connect(saveButton, &QPushButton::clicked, this, &TfmSetup::save);
    connect(closeButton, &QPushButton::clicked, this, &TfmSetup::closeWithOk);
    connect(cancelButton, &QPushButton::clicked, this, &TfmSetup::reject);
    connect(deleteButton, &QPushButton::clicked, this, &TfmSetup::deleteAccount);
    connect(m_server, &QLineEdit::textEdited, this,
            [this](const QString& t) { writeField(QStringLiteral("PopServer"), t); });
    connect(m_port, &QLineEdit::textEdited, this,
            [this](const QString& t) { writeField(QStringLiteral("Port"), t); });
    connect(m_account, &QLineEdit::textEdited, this,
            [this](const QString& t) { writeField(QStringLiteral("Account"), t); });
    connect(m_password, &QLineEdit::textEdited, this,
            [this](const QString& t) { writeField(QStringLiteral("Password"), t); });
    connect(m_allowPlain, &QCheckBox::clicked, this, [this](bool on) { writeField(kAllowPlain, on); });

    setFieldsVisible(false);
}

TfmSetup::~TfmSetup() = default;

void TfmSetup::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_showing)
        return;
    m_showing = true;
    try {
        m_view->open();
        m_view->setIndexName(QStringLiteral("EmailAddress"));
        setFieldsVisible(false);
        refillAddresses();
    } catch (const DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

bool TfmSetup::eventFilter(QObject* watched, QEvent* event)
{
    // Moving focus between the box and its own line edit is not leaving it.
    if (event->type() == QEvent::FocusOut && isVisible() &&
        (watched == m_address || watched == m_address->lineEdit())) {
        QWidget* next = focusWidget();
        if (next != m_address && next != m_address->lineEdit())
            lookUpAddress();
    }
    return QDialog::eventFilter(watched, event);
}

void TfmSetup::refillAddresses()
{
    // Table order, independent of the view's index.
    TableView all(m_connection, kTable);
    all.open();
    QStringList addresses;
    for (all.first(); !all.eof(); all.next())
        addresses << all.value(QStringLiteral("EmailAddress")).toString();
    m_address->clear();
    m_address->addItems(addresses);
    m_address->setEditText(kFirstText);
}

void TfmSetup::setFieldsVisible(bool visible)
{
    for (QWidget* w : std::as_const(m_fieldWidgets))
        w->setVisible(visible);
    // Grow to fit the fields rather than squeeze the controls already there.
    if (visible)
        adjustSize();
}

void TfmSetup::showRow()
{
    m_server->setText(m_view->value(QStringLiteral("PopServer")).toString());
    const QVariant port = m_view->value(QStringLiteral("Port"));
    m_port->setText(port.isNull() ? QString() : QString::number(port.toInt()));
    m_account->setText(m_view->value(QStringLiteral("Account")).toString());
    m_password->setText(PopPassword(m_services.secrets,
                                    m_view->value(QStringLiteral("EmailAddress")).toString(),
                                    m_view->value(QStringLiteral("Password")).toString()));
    m_allowPlain->setChecked(m_view->value(kAllowPlain).toBool());
}

void TfmSetup::postRow()
{
    // The field shows the password wherever it is kept; the store takes it
    // from there when it can.
    m_view->setValue(QStringLiteral("Password"),
                     KeepPopPassword(m_services.secrets,
                                     m_view->value(QStringLiteral("EmailAddress")).toString(),
                                     m_password->text()));
    m_view->post();
}

void TfmSetup::writeField(const QString& field, const QVariant& value)
{
    if (!m_view->isOpen() || m_view->state() == EditState::Browse)
        return;
    try {
        const QString text = value.toString();
        if (field == QLatin1String("Port"))
            m_view->setValue(field, text.isEmpty() ? QVariant() : QVariant(text.toInt()));
        else
            m_view->setValue(field, value);
    } catch (const DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

bool TfmSetup::postPending()
{
    try {
        if (m_view->isOpen() && m_view->state() != EditState::Browse)
            postRow();
        return true;
    } catch (const DbError& e) {
        m_services.dialogs.showError(e.message());
        return false;
    }
}

void TfmSetup::lookUpAddress()
{
    const QString text = m_address->currentText();
    if (text.isEmpty() || !m_view->isOpen())
        return;
    try {
        if (m_view->state() != EditState::Browse) {
            // Already on it: leaving the box again must not post half-typed fields.
            if (m_view->value(QStringLiteral("EmailAddress")).toString() == text)
                return;
            // The row being edited would otherwise take the next row's place.
            postRow();
        }
        setFieldsVisible(true);
        if (m_view->findKey(text)) {
            m_view->edit();
        } else {
            m_view->append();
            m_view->setValue(QStringLiteral("EmailAddress"), text);
            m_view->setValue(QStringLiteral("Port"), 110);
            m_view->setValue(QStringLiteral("Default"), true);
            m_view->setValue(QStringLiteral("PopServer"), newServerHint());
            m_view->setValue(QStringLiteral("Account"), newAccountHint());
            m_view->setValue(QStringLiteral("Password"), newPasswordHint());
            m_view->setValue(kAllowPlain, false);
        }
        showRow();
    } catch (const DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

bool TfmSetup::postAndRefill()
{
    if (!postPending())
        return false;
    try {
        // Saving is when passwords from before the secret store move there.
        MovePopPasswords(m_connection, m_services.secrets);
        refillAddresses();
    } catch (const DbError& e) {
        m_services.dialogs.showError(e.message());
    }
    return true;
}

void TfmSetup::save()
{
    if (postAndRefill())
        setFieldsVisible(false);
}

void TfmSetup::closeWithOk()
{
    // A row that could not be stored keeps the window open with the user's text.
    if (!postAndRefill())
        return;
    m_view->close();
    m_showing = false;
    accept();
}

void TfmSetup::reject()
{
    if (m_view->isOpen()) {
        m_view->cancel();
        m_view->close();
    }
    m_showing = false;
    QDialog::reject();
}

void TfmSetup::deleteAccount()
{
    const QString text = m_address->currentText();
    try {
        if (!m_view->isOpen() || !m_view->findKey(text)) {
            m_services.dialogs.message(QStringLiteral("Email Address: ") + text +
                                       QStringLiteral(" not found."));
            return;
        }
        if (m_services.dialogs.ask(QStringLiteral("Delete Account: ") + text + QLatin1Char('?'),
                                   Buttons::YesNoCancel) != Answer::Yes)
            return;
        // An unposted new row is another account; it must not stand in for this one.
        if (m_view->state() == EditState::Insert)
            m_view->cancel();
        m_view->deleteRecord();
        if (!m_view->findKey(text))
            m_services.secrets.remove(popSecretKey(text));
        setFieldsVisible(false);
        refillAddresses();
        m_services.dialogs.message(QStringLiteral("Account deleted."));
    } catch (const DbError& e) {
        m_services.dialogs.showError(e.message());
    }
}

} // namespace bv::returned
