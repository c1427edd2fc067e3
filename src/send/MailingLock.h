#pragma once

#include <QString>

namespace bv::send {

// Held by a copy of the program for as long as it sends from a program
// folder: two copies sending one queue would mail every recipient twice.
// The lock is the system's lock on "Mailing.lock" in the program folder, so
// it goes with the process however that ends.
class MailingLock
{
public:
    explicit MailingLock(const QString& programFolder);
    ~MailingLock();
    MailingLock(const MailingLock&) = delete;
    MailingLock& operator=(const MailingLock&) = delete;

    static QString fileName() { return QStringLiteral("Mailing.lock"); }

    // True when this object holds the lock now. False, with the text to show
    // in *why, when another copy holds it or the lock file cannot be made.
    bool tryLock(QString* why);
    void unlock();
    bool locked() const { return m_fd >= 0; }

private:
    QString m_folder;
    QString m_path;
    int m_fd = -1;
};

} // namespace bv::send
