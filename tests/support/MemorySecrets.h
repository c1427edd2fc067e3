#pragma once

#include "core/SecretStore.h"

#include <QHash>

namespace bv::test {

// A secret store in memory. Off by default, as a desktop without a secret
// service: the files keep the passwords then.
class MemorySecrets : public SecretStore
{
public:
    bool holdsSecrets() override { return service; }
    std::optional<QString> read(const QString& key) override
    {
        if (!service || !secrets.contains(key))
            return std::nullopt;
        return secrets.value(key);
    }
    bool write(const QString& key, const QString& secret) override
    {
        if (!service || refuse)
            return false;
        secrets.insert(key, secret);
        return true;
    }
    bool remove(const QString& key) override
    {
        if (!service || refuse)
            return false;
        secrets.remove(key);
        return true;
    }

    bool service = false;
    bool refuse = false; // the service is there but takes nothing
    QHash<QString, QString> secrets;
};

} // namespace bv::test
