#pragma once

#include <QDialog>
#include <QVariant>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace bv {
struct Services;
}

namespace bv::data {
class Connection;
class TableView;
} // namespace bv::data

namespace bv::returned {

// "Setup": the POP accounts of PopAccounts. The fields edit the current
// row; "Save" and "Close" post it, "Cancel" (or any other way out) drops it.
class TfmSetup : public QDialog
{
    Q_OBJECT
public:
    TfmSetup(Services& services, bv::data::Connection& connection, QWidget* parent = nullptr);
    ~TfmSetup() override;

    // Placeholders of a new account, for the user to overwrite.
    static QString newServerHint() { return QStringLiteral("pop.example.com"); }
    static QString newAccountHint() { return QStringLiteral("your.login"); }
    static QString newPasswordHint() { return QStringLiteral("password"); }

    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refillAddresses();
    void setFieldsVisible(bool visible);
    void showRow();
    void postRow();
    void lookUpAddress();
    void writeField(const QString& field, const QVariant& value);
    bool postPending();
    bool postAndRefill();
    void save();
    void closeWithOk();
    void deleteAccount();

    Services& m_services;
    bv::data::Connection& m_connection;
    std::unique_ptr<bv::data::TableView> m_view;
    QComboBox* m_address;
    QLineEdit* m_server;
    QLineEdit* m_port;
    QLineEdit* m_account;
    QLineEdit* m_password;
    QCheckBox* m_allowPlain;
    QList<QWidget*> m_fieldWidgets;
    bool m_showing = false;
};

} // namespace bv::returned
