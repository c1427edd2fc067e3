#pragma once

#include <QString>

#include <optional>
#include <vector>

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

} // namespace bv::returned
