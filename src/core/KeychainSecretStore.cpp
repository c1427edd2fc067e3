#include "core/KeychainSecretStore.h"

#include <QEventLoop>
#include <QTimer>

#include <type_traits>

#include <qt6keychain/keychain.h>

namespace bv {

namespace {

struct Outcome
{
    bool answered = false;
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
};

// Runs one job to its end. User input waits meanwhile: a command started
// from inside this wait would find the password half read.
template <typename Job, typename Prepare>
Outcome runJob(const QString& service, const QString& key, int timeoutMs, Prepare prepare)
{
    auto* job = new Job(service);
    job->setAutoDelete(false);
    job->setKey(key);
    prepare(*job);
    Outcome out;
    QEventLoop loop;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job*) {
        out.answered = true;
        out.error = job->error();
        if constexpr (std::is_same_v<Job, QKeychain::ReadPasswordJob>)
            out.text = job->textData();
        loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!out.answered)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    QObject::disconnect(job, nullptr, &loop, nullptr);
    // A job that has not answered is still in the service's hands: it goes
    // when it ends, not before.
    if (out.answered)
        job->deleteLater();
    else
        job->setAutoDelete(true);
    return out;
}

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service, int timeoutMs)
    : m_service(std::move(service)), m_timeoutMs(timeoutMs)
{
}

bool KeychainSecretStore::usable()
{
    if (m_state == State::Unknown) {
        // A key never written: "not found" is the answer of a working
        // service, and nothing is unlocked for it, so it asks the user
        // nothing and needs no long wait.
        const Outcome probe = runJob<QKeychain::ReadPasswordJob>(
            m_service, QStringLiteral("probe"), qMin(m_timeoutMs, 5000), [](auto&) {});
        m_state = probe.answered && (probe.error == QKeychain::NoError ||
                                     probe.error == QKeychain::EntryNotFound)
                      ? State::Usable
                      : State::Unusable;
    }
    return m_state == State::Usable;
}

bool KeychainSecretStore::holdsSecrets()
{
    return usable();
}

std::optional<QString> KeychainSecretStore::read(const QString& key)
{
    if (!usable())
        return std::nullopt;
    const Outcome r = runJob<QKeychain::ReadPasswordJob>(m_service, key, m_timeoutMs, [](auto&) {});
    if (r.answered && r.error == QKeychain::NoError)
        return r.text;
    if (!r.answered || r.error != QKeychain::EntryNotFound)
        m_state = State::Unusable;
    return std::nullopt;
}

bool KeychainSecretStore::write(const QString& key, const QString& secret)
{
    if (!usable())
        return false;
    const Outcome r = runJob<QKeychain::WritePasswordJob>(
        m_service, key, m_timeoutMs, [&](QKeychain::WritePasswordJob& job) { job.setTextData(secret); });
    if (r.answered && r.error == QKeychain::NoError)
        return true;
    m_state = State::Unusable;
    return false;
}

bool KeychainSecretStore::remove(const QString& key)
{
    if (!usable())
        return false;
    const Outcome r = runJob<QKeychain::DeletePasswordJob>(m_service, key, m_timeoutMs, [](auto&) {});
    if (r.answered && (r.error == QKeychain::NoError || r.error == QKeychain::EntryNotFound))
        return true;
    m_state = State::Unusable;
    return false;
}

} // namespace bv
