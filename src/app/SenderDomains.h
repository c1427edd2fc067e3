#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QThread;

namespace bv {
struct Services;
}

namespace bv::app {

// "Sender Domains": the signing keys of the sender accounts' domains, the DNS
// record each key needs, and a check of what the domain publishes.
class TfrmSenderDomains : public QDialog
{
    Q_OBJECT
public:
    // dnsServer gives the direct-delivery setting "DNS Server IP Address" as
    // it reads when a check starts.
    TfrmSenderDomains(Services& services, std::function<QString()> dnsServer,
                      QWidget* parent = nullptr);
    // Waits for a check still under way (each lookup has its time limit).
    ~TfrmSenderDomains() override;

    // The main window's button: the window, modal, on the given setting.
    static void showFor(Services& services, std::function<QString()> dnsServer, QWidget* parent);

    void setDnsTimeoutMs(int ms) { m_timeoutMs = ms; }
    bool checking() const { return m_worker != nullptr; }

signals:
    // A check has put its lines on the window.
    void checkFinished();

private:
    void fillDomains();
    void domainChosen();
    void keyChosen();
    void createKey();
    void copyRecord();
    void checkDns();
    void showCheck(const QString& domain, const QStringList& lines);
    QString currentDomain() const;

    Services& m_services;
    std::function<QString()> m_dnsServer;
    int m_timeoutMs = 5000;
    std::unique_ptr<QThread> m_worker;

    QListWidget* lstDomains;
    QTableWidget* grdKeys;
    QLineEdit* txtSelector;
    QPushButton* btnCreateKey;
    QLineEdit* txtRecordName;
    QPlainTextEdit* txtRecordValue;
    QPlainTextEdit* txtRecordStrings;
    QPushButton* btnCopyRecord;
    QPushButton* btnCheckDns;
    QPlainTextEdit* memDnsCheck;
};

} // namespace bv::app
