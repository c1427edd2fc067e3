#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace bv {
class SecretStore;
}

namespace bv::data {
class Connection;
}

namespace bv::returned {

// One row of PopAccounts.
struct PopAccount
{
    QString emailAddress;
    QString popServer;
    int port = 0;
    QString account;
    QString password;
    bool isDefault = false;
    // The user accepts that the password goes out unencrypted to a server
    // that offers no encryption.
    bool allowPlainPassword = false;
};

// The first row marked Default, else the first row of the table; nothing when
// the table is empty. Throws bv::data::DbError with the engine's text.
std::optional<PopAccount> GetDefaultAccount(bv::data::Connection& connection);

// Every row, in the table's order.
std::vector<PopAccount> LoadPopAccounts(bv::data::Connection& connection);

// Marks the row of address as default (the first row when no row has that
// address) and leaves every other row's flag alone, so several rows may carry
// it. An empty table is left as it is.
void SetDefaultAccount(bv::data::Connection& connection, const QString& address);

// An account's password: its Password column when that holds one (a row from
// before the secret store, or one kept without it), else the secret store's.
QString PopPassword(SecretStore& secrets, const QString& emailAddress, const QString& column);

// What the Password column is to keep of a password entered for an account:
// nothing once the secret store has taken it (an empty one is removed there),
// else the password itself.
QString KeepPopPassword(SecretStore& secrets, const QString& emailAddress, const QString& password);

// Moves the passwords still in PopAccounts into the secret store when it holds
// secrets, emptying each row's column once its password is there. An address
// on several rows moves the first row's password; rows with another password
// keep theirs.
void MovePopPasswords(bv::data::Connection& connection, SecretStore& secrets);

} // namespace bv::returned
