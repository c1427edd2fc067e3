#include "app/SenderDomains.h"

#include "compose/DkimKeys.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "send/DNS.h"
#include "send/SenderDomainCheck.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

namespace bv::app {

namespace {

template <typename W> W* named(W* widget, const char* name, const QString& accessible)
{
    widget->setObjectName(QLatin1String(name));
    widget->setAccessibleName(accessible);
    return widget;
}

QPushButton* button(const char* name, const QString& caption, QWidget* parent)
{
    auto* b = named(new QPushButton(caption, parent), name, caption);
    b->setAutoDefault(false);
    return b;
}

QPlainTextEdit* readOnlyText(const char* name, const QString& accessible, QWidget* parent)
{
    auto* t = named(new QPlainTextEdit(parent), name, accessible);
    t->setReadOnly(true);
    t->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    return t;
}

// The newest usable key of each kind: the keys that sign, and that a check
// looks for.
QList<compose::DkimKeyFile> signingKeys(const QList<compose::DkimKeyFile>& files)
{
    QList<compose::DkimKeyFile> out;
    for (const compose::DkimKeyFile& f : files) {
        if (!f.key)
            continue;
        const bool kindTaken = std::any_of(out.cbegin(), out.cend(), [&](const auto& o) {
            return o.key->kind() == f.key->kind();
        });
        if (!kindTaken)
            out << f;
    }
    return out;
}

enum Column
{
    ColSelector,
    ColType,
    ColSize,
    ColStatus
};

} // namespace

TfrmSenderDomains::TfrmSenderDomains(Services& services, std::function<QString()> dnsServer,
                                     QWidget* parent)
    : QDialog(parent), m_services(services), m_dnsServer(std::move(dnsServer))
{
    setObjectName(QStringLiteral("frmSenderDomains"));
    setWindowTitle(QStringLiteral("Sender Domains"));
    resize(820, 600);

    lstDomains = named(new QListWidget(this), "lstDomains", QStringLiteral("Domains"));
    lstDomains->setMaximumWidth(240);

    grdKeys = named(new QTableWidget(0, 4, this), "grdKeys", QStringLiteral("Keys"));
    grdKeys->setHorizontalHeaderLabels({QStringLiteral("Selector"), QStringLiteral("Type"),
                                        QStringLiteral("Size"), QStringLiteral("Status")});
    grdKeys->horizontalHeader()->setStretchLastSection(true);
    grdKeys->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdKeys->setSelectionMode(QAbstractItemView::SingleSelection);
    grdKeys->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdKeys->verticalHeader()->hide();

    txtSelector = named(new QLineEdit(this), "txtSelector", QStringLiteral("Selector"));
    btnCreateKey = button("btnCreateKey", QStringLiteral("Create Key"), this);
    txtRecordName = named(new QLineEdit(this), "txtRecordName", QStringLiteral("Record name"));
    txtRecordName->setReadOnly(true);
    txtRecordValue = readOnlyText("txtRecordValue", QStringLiteral("TXT value"), this);
    txtRecordStrings =
        readOnlyText("txtRecordStrings", QStringLiteral("TXT value in strings"), this);
    btnCopyRecord = button("btnCopyRecord", QStringLiteral("Copy Record"), this);
    btnCheckDns = button("btnCheckDns", QStringLiteral("Check DNS"), this);
    memDnsCheck = readOnlyText("memDnsCheck", QStringLiteral("DNS check"), this);
    auto* closeButton = button("btnClose", QStringLiteral("Close"), this);

    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(new QLabel(QStringLiteral("Selector:"), this));
    keyRow->addWidget(txtSelector);
    keyRow->addWidget(btnCreateKey);
    keyRow->addStretch();

    auto* record = new QGridLayout;
    record->addWidget(new QLabel(QStringLiteral("Name:"), this), 0, 0);
    record->addWidget(txtRecordName, 0, 1);
    record->addWidget(new QLabel(QStringLiteral("TXT value:"), this), 1, 0, Qt::AlignTop);
    record->addWidget(txtRecordValue, 1, 1);
    record->addWidget(new QLabel(QStringLiteral("As strings of at most 255 characters:"), this), 2,
                      0, 1, 2);
    record->addWidget(txtRecordStrings, 3, 0, 1, 2);

    auto* checkRow = new QHBoxLayout;
    checkRow->addWidget(btnCopyRecord);
    checkRow->addWidget(btnCheckDns);
    checkRow->addStretch();
    checkRow->addWidget(closeButton);

    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel(QStringLiteral("Signing keys:"), this));
    right->addWidget(grdKeys, 1);
    right->addLayout(keyRow);
    right->addLayout(record, 1);
    right->addWidget(memDnsCheck, 1);
    right->addLayout(checkRow);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(lstDomains);
    layout->addLayout(right, 1);

    connect(lstDomains, &QListWidget::currentRowChanged, this, &TfrmSenderDomains::domainChosen);
    connect(grdKeys, &QTableWidget::itemSelectionChanged, this, &TfrmSenderDomains::keyChosen);
    connect(btnCreateKey, &QPushButton::clicked, this, &TfrmSenderDomains::createKey);
    connect(btnCopyRecord, &QPushButton::clicked, this, &TfrmSenderDomains::copyRecord);
    connect(btnCheckDns, &QPushButton::clicked, this, &TfrmSenderDomains::checkDns);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);

    fillDomains();
}

TfrmSenderDomains::~TfrmSenderDomains()
{
    if (m_worker)
        m_worker->wait();
}

void TfrmSenderDomains::showFor(Services& services, std::function<QString()> dnsServer,
                                QWidget* parent)
{
    TfrmSenderDomains window(services, std::move(dnsServer), parent);
    services.dialogs.execModal(window);
}

QString TfrmSenderDomains::currentDomain() const
{
    const QListWidgetItem* item = lstDomains->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void TfrmSenderDomains::fillDomains()
{
    const QString keep = currentDomain();
    const QSignalBlocker block(lstDomains);
    lstDomains->clear();
    for (const QString& domain : compose::SenderDomains(m_services.programFolder)) {
        // Both forms stand side by side, so a look-alike name cannot hide.
        const QString unicode = QUrl::fromAce(domain.toLatin1(), QUrl::IgnoreIDNWhitelist);
        auto* item = new QListWidgetItem(
            unicode == domain ? domain : QStringLiteral("%1 (%2)").arg(unicode, domain), lstDomains);
        item->setData(Qt::UserRole, domain);
        if (domain == keep)
            lstDomains->setCurrentItem(item);
    }
    if (!lstDomains->currentItem() && lstDomains->count() > 0)
        lstDomains->setCurrentRow(0);
    domainChosen();
}

void TfrmSenderDomains::domainChosen()
{
    const QString domain = currentDomain();
    const QList<compose::DkimKeyFile> files =
        domain.isEmpty() ? QList<compose::DkimKeyFile>()
                         : compose::ListDkimKeys(m_services.programFolder, domain);
    const QList<compose::DkimKeyFile> signing = signingKeys(files);
    {
        const QSignalBlocker block(grdKeys);
        grdKeys->setRowCount(0);
        for (const compose::DkimKeyFile& f : files) {
            const int row = grdKeys->rowCount();
            grdKeys->insertRow(row);
            const auto cell = [&](int column, const QString& text) {
                auto* item = new QTableWidgetItem(text);
                item->setData(Qt::UserRole, f.path);
                grdKeys->setItem(row, column, item);
            };
            cell(ColSelector, f.selector);
            if (!f.key) {
                cell(ColType, QString());
                cell(ColSize, QString());
                cell(ColStatus, f.error);
                grdKeys->item(row, ColStatus)->setToolTip(f.error);
                continue;
            }
            const bool signs = std::any_of(signing.cbegin(), signing.cend(),
                                           [&](const auto& s) { return s.path == f.path; });
            cell(ColType, f.key->kindName());
            cell(ColSize, QString::number(f.key->bits()));
            cell(ColStatus, signs ? QStringLiteral("Signs") : QStringLiteral("Older key, not used"));
        }
        grdKeys->resizeColumnsToContents();
        grdKeys->horizontalHeader()->setStretchLastSection(true);
        for (int row = 0; row < files.size(); ++row)
            if (!signing.isEmpty() && files.at(row).path == signing.first().path)
                grdKeys->selectRow(row);
    }
    txtSelector->setText(compose::DefaultDkimSelector(m_services.clock.now().date()));
    btnCreateKey->setEnabled(!domain.isEmpty());
    btnCheckDns->setEnabled(!domain.isEmpty() && !m_worker);
    memDnsCheck->clear();
    keyChosen();
}

void TfrmSenderDomains::keyChosen()
{
    const QList<QTableWidgetItem*> chosen = grdKeys->selectedItems();
    const QString path = chosen.isEmpty() ? QString() : chosen.first()->data(Qt::UserRole).toString();
    std::shared_ptr<const compose::DkimKey> key;
    if (!path.isEmpty()) {
        try {
            key = compose::DkimKey::load(path);
        } catch (const compose::DkimError&) {
            // Its reason stands in the grid.
        }
    }
    if (!key) {
        txtRecordName->clear();
        txtRecordValue->clear();
        txtRecordStrings->clear();
        btnCopyRecord->setEnabled(false);
        return;
    }
    const QByteArray value = key->txtRecord();
    txtRecordName->setText(compose::DkimRecordName(key->selector(), currentDomain()));
    txtRecordValue->setPlainText(QString::fromLatin1(value));
    txtRecordStrings->setPlainText(QString::fromLatin1(compose::ZoneFileTxt(value)));
    btnCopyRecord->setEnabled(true);
}

void TfrmSenderDomains::createKey()
{
    const QString domain = currentDomain();
    if (domain.isEmpty())
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        compose::CreateDkimKey(m_services.programFolder, domain, txtSelector->text().trimmed());
    } catch (const compose::DkimError& e) {
        QApplication::restoreOverrideCursor();
        m_services.dialogs.message(e.message(), Severity::Error);
        return;
    }
    QApplication::restoreOverrideCursor();
    fillDomains();
}

void TfrmSenderDomains::copyRecord()
{
    if (txtRecordName->text().isEmpty())
        return;
    QApplication::clipboard()->setText(txtRecordName->text() + QStringLiteral(". IN TXT ") +
                                       txtRecordStrings->toPlainText());
}

void TfrmSenderDomains::checkDns()
{
    const QString domain = currentDomain();
    if (domain.isEmpty() || m_worker)
        return;
    const QString server = send::DnsServerOrSystem(m_dnsServer ? m_dnsServer() : QString());
    if (server.isEmpty()) {
        memDnsCheck->setPlainText(
            QStringLiteral("No DNS server to ask: enter one as \"DNS Server IP Address\" on the "
                           "\"Send Direct\" page."));
        return;
    }
    QList<send::DkimCheckKey> keys;
    for (const compose::DkimKeyFile& f :
         signingKeys(compose::ListDkimKeys(m_services.programFolder, domain)))
        keys << send::DkimCheckKey{f.selector, f.key->publicKeyBase64()};

    memDnsCheck->setPlainText(
        QStringLiteral("Checking %1 with the DNS server %2...").arg(domain, server));
    btnCheckDns->setEnabled(false);
    const int timeoutMs = m_timeoutMs;
    m_worker.reset(QThread::create([this, domain, keys, server, timeoutMs] {
        const send::SenderDomainAnswers answers =
            send::LookUpSenderDomain(domain, keys, server, timeoutMs);
        const QStringList lines = send::SenderDomainLines(domain, keys, answers);
        QMetaObject::invokeMethod(
            this, [this, domain, lines] { showCheck(domain, lines); }, Qt::QueuedConnection);
    }));
    m_worker->start();
}

void TfrmSenderDomains::showCheck(const QString& domain, const QStringList& lines)
{
    if (m_worker) {
        m_worker->wait();
        m_worker.reset();
    }
    if (domain == currentDomain())
        memDnsCheck->setPlainText(lines.join(u'\n'));
    btnCheckDns->setEnabled(!currentDomain().isEmpty());
    emit checkFinished();
}

} // namespace bv::app
