#pragma once

#include <QString>

#include <optional>

namespace bv {

// Where the SMTP and POP passwords are kept: the desktop's secret service when
// it offers one. Without one (holdsSecrets() false) the settings file and the
// PopAccounts table keep them, as they always did, in files only their owner
// can read.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // False: the files keep the passwords.
    virtual bool holdsSecrets() = 0;
    // The secret under key; nothing when none is stored or the store cannot
    // be reached.
    virtual std::optional<QString> read(const QString& key) = 0;
    // False when the store did not take it: the caller keeps it in its file.
    virtual bool write(const QString& key, const QString& secret) = 0;
    virtual bool remove(const QString& key) = 0;
};

// No secret service: nothing is kept here.
class FileSecrets : public SecretStore
{
public:
    bool holdsSecrets() override { return false; }
    std::optional<QString> read(const QString&) override { return std::nullopt; }
    bool write(const QString&, const QString&) override { return false; }
    bool remove(const QString&) override { return true; }
};

// The one FileSecrets of the program, for services built without a store.
SecretStore& fileSecrets();

// One key per SMTP server and user, one per POP account.
QString smtpSecretKey(const QString& server, const QString& user);
QString popSecretKey(const QString& emailAddress);

} // namespace bv
