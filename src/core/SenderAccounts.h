#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace bv {

// "Accounts.txt" cannot be read although it is there. Reading on as if there
// were no accounts would let the sender window's "Close" overwrite the file
// with an empty grid.
class AccountsError : public std::runtime_error
{
public:
    explicit AccountsError(const QString& message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

struct SenderAccount
{
    QString name;
    QString address;
};

QString accountsFilePath(const QString& programFolder);

// Each reads "Accounts.txt" in programFolder anew: names are its first half of
// lines (rounded down), addresses the rest. A missing file means no accounts.
QStringList LoadSenderNames(const QString& programFolder);
QStringList LoadSenderAddresses(const QString& programFolder);
// The addresses with their ASCII letters upper-cased: the ignore list of
// address harvesting.
QStringList LoadSenderAddressesUpper(const QString& programFolder);
// The paired accounts; an address without a name is left out.
QList<SenderAccount> LoadSenderAccounts(const QString& programFolder);

// The From text of the first account named name, ignoring letter case:
// trimmed name, " <", trimmed address, ">". Empty when no account has it.
QString FormatSender(const QString& programFolder, const QString& name);

// Writes the file as the sender window's "Close" does: every name, then every
// address, one per line, each without the line breaks it may hold. Returns
// false with the system's reason in *error.
bool WriteSenderAccounts(const QString& programFolder, const QList<SenderAccount>& accounts,
                         QString* error = nullptr);

} // namespace bv
