#include "core/SecretStore.h"

namespace bv {

SecretStore& fileSecrets()
{
    static FileSecrets store;
    return store;
}

QString smtpSecretKey(const QString& server, const QString& user)
{
    // Host names ignore letter case; user names may not.
    return QStringLiteral("smtp:%1@%2").arg(user.trimmed(), server.trimmed().toLower());
}

QString popSecretKey(const QString& emailAddress)
{
    return QStringLiteral("pop3:%1").arg(emailAddress.trimmed());
}

} // namespace bv
