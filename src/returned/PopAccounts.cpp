#include "PopAccounts.h"

#include "core/SecretStore.h"
#include "data/Database.h"
#include "data/TableView.h"

namespace bv::returned {

using bv::data::TableView;

namespace {

// First row passing filter, else the first row of the whole table; false on an
// empty table. The filter is left off either way.
bool firstOf(TableView& view, const QString& filter)
{
    view.setFilter(filter);
    view.setFiltered(true);
    view.first();
    if (!view.eof())
        return true;
    view.setFiltered(false);
    view.first();
    return !view.eof();
}

PopAccount currentAccount(const TableView& view)
{
    PopAccount a;
    a.popServer = view.value(QStringLiteral("PopServer")).toString();
    a.port = view.value(QStringLiteral("Port")).toInt();
    a.account = view.value(QStringLiteral("Account")).toString();
    a.password = view.value(QStringLiteral("Password")).toString();
    a.emailAddress = view.value(QStringLiteral("EmailAddress")).toString();
    a.isDefault = view.value(QStringLiteral("Default")).toBool();
    a.allowPlainPassword = view.value(QStringLiteral("AllowPlainPassword")).toBool();
    return a;
}

} // namespace

std::optional<PopAccount> GetDefaultAccount(bv::data::Connection& connection)
{
    TableView view(connection, QStringLiteral("PopAccounts"));
    view.open();
    if (!firstOf(view, QStringLiteral("Default = True")))
        return std::nullopt;
    const PopAccount a = currentAccount(view);
    view.setFiltered(false);
    return a;
}

std::vector<PopAccount> LoadPopAccounts(bv::data::Connection& connection)
{
    TableView view(connection, QStringLiteral("PopAccounts"));
    view.open();
    std::vector<PopAccount> out;
    for (view.first(); !view.eof(); view.next())
        out.push_back(currentAccount(view));
    return out;
}

void SetDefaultAccount(bv::data::Connection& connection, const QString& address)
{
    TableView view(connection, QStringLiteral("PopAccounts"));
    view.open();
    if (!firstOf(view, QStringLiteral("EmailAddress = ") + bv::data::quoted(address)))
        return;
    view.edit();
    view.setValue(QStringLiteral("Default"), true);
    view.post();
    view.setFiltered(false);
}

QString PopPassword(SecretStore& secrets, const QString& emailAddress, const QString& column)
{
    if (!column.isEmpty() || !secrets.holdsSecrets())
        return column;
    return secrets.read(popSecretKey(emailAddress)).value_or(QString());
}

QString KeepPopPassword(SecretStore& secrets, const QString& emailAddress, const QString& password)
{
    if (!secrets.holdsSecrets())
        return password;
    const QString key = popSecretKey(emailAddress);
    const bool kept = password.isEmpty() ? secrets.remove(key) : secrets.write(key, password);
    return kept ? QString() : password;
}

void MovePopPasswords(bv::data::Connection& connection, SecretStore& secrets)
{
    if (!secrets.holdsSecrets())
        return;
    const bv::data::ResultSet plain = connection.select(
        QStringLiteral("select EmailAddress, Password from PopAccounts where Password <> ''"));
    QStringList moved;
    for (int row = 0; row < plain.size(); ++row) {
        const QString address = plain.value(row, QStringLiteral("EmailAddress")).toString();
        const QString password = plain.value(row, QStringLiteral("Password")).toString();
        if (moved.contains(address) || !secrets.write(popSecretKey(address), password))
            continue;
        moved << address;
        connection.execute(QStringLiteral("update PopAccounts set Password = '' "
                                          "where EmailAddress = :adr and Password = :pwd"),
                           {{QStringLiteral("adr"), address}, {QStringLiteral("pwd"), password}});
    }
}

} // namespace bv::returned
