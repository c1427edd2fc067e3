#include "MailingLock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace bv::send {

MailingLock::MailingLock(const QString& programFolder)
    : m_folder(programFolder), m_path(QDir(programFolder).filePath(fileName()))
{
}

MailingLock::~MailingLock()
{
    unlock();
}

bool MailingLock::tryLock(QString* why)
{
    if (m_fd >= 0)
        return true;
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("Cannot send: the lock file %1 cannot be created. %2")
                       .arg(QDir::toNativeSeparators(m_path), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // A lock of the open file, not of the process: a second run of this
    // process is refused like another copy.
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(fd);
        if (why)
            *why = error == EWOULDBLOCK
                       ? QStringLiteral("Another copy of Brevicast is sending from this program folder (%1). "
                                        "Wait until its mailing has ended, then try again.")
                             .arg(QDir::toNativeSeparators(QDir::cleanPath(m_folder)))
                       : QStringLiteral("Cannot send: the lock file %1 cannot be locked. %2")
                             .arg(QDir::toNativeSeparators(m_path), QString::fromLocal8Bit(std::strerror(error)));
        return false;
    }
    m_fd = fd;
    return true;
}

void MailingLock::unlock()
{
    if (m_fd < 0)
        return;
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

} // namespace bv::send
