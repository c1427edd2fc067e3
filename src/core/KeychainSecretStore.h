#pragma once

#include "core/SecretStore.h"

namespace bv {

// The desktop's secret service, through the keychain library. Whether there
// is one is learned on first use; a service that is missing, refuses or does
// not answer within the timeout is not asked again in this run, and the files
// keep the passwords from then on.
class KeychainSecretStore : public SecretStore
{
public:
    explicit KeychainSecretStore(QString service = QStringLiteral("Brevicast"), int timeoutMs = 30000);

    bool holdsSecrets() override;
    std::optional<QString> read(const QString& key) override;
    bool write(const QString& key, const QString& secret) override;
    bool remove(const QString& key) override;

private:
    enum class State { Unknown, Usable, Unusable };
    bool usable();

    QString m_service;
    int m_timeoutMs;
    State m_state = State::Unknown;
};

} // namespace bv
