#include "DeliverSpool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace bv::send {

namespace {

constexpr QByteArrayView kLockLine = "X\r\n";
// The line of a lock kept for good: its spool file was attempted and could
// not be deleted.
constexpr QByteArrayView kFinishedLine = "Attempted\r\n";

bool writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t n = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes = bytes.sliced(n);
    }
    return true;
}

// Takeovers of abandoned locks, one at a time: the threads of this program
// through the mutex, other programs through a lock on the folder, which the
// system releases when its holder dies.
class TakeoverGuard
{
public:
    explicit TakeoverGuard(const QString& folder) : m_lock(mutex())
    {
        m_fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        int rc;
        do
            rc = ::flock(m_fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        m_held = rc == 0;
    }
    ~TakeoverGuard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TakeoverGuard(const TakeoverGuard&) = delete;
    TakeoverGuard& operator=(const TakeoverGuard&) = delete;
    bool held() const { return m_held; }

private:
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    std::lock_guard<std::mutex> m_lock;
    int m_fd = -1;
    bool m_held = false;
};

bool isOld(const struct stat& st, int ageMinutes)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 ageNs = (qint64(now.tv_sec) - qint64(st.st_mtim.tv_sec)) * 1000000000LL +
                         (qint64(now.tv_nsec) - qint64(st.st_mtim.tv_nsec));
    return ageNs >= qint64(ageMinutes) * 60 * 1000000000LL;
}

bool isFinishedMark(const QString& lockPath)
{
    QFile file(lockPath);
    return file.open(QIODevice::ReadOnly) && file.read(64) == kFinishedLine;
}

} // namespace

bool TakeLockFile(const QString& lockPath, int ageMinutes)
{
    const QByteArray path = QFile::encodeName(lockPath);
    // A lock that vanishes or changes hands while we look is looked at again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const bool written = writeAll(fd, kLockLine);
            ::close(fd);
            if (!written)
                ::unlink(path.constData());
            return written;
        }
        if (errno != EEXIST)
            return false;

        // The takeover never removes the lock, so while it exists no other
        // worker can create one; the guard keeps two takers apart.
        TakeoverGuard guard(QFileInfo(lockPath).absolutePath());
        if (!guard.held())
            return false;
        struct stat seen
        {
        };
        if (::stat(path.constData(), &seen) != 0) {
            if (errno == ENOENT)
                continue;
            return false;
        }
        if (!isOld(seen, ageMinutes) || isFinishedMark(lockPath))
            return false;
        const int held = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (held < 0) {
            if (errno == ENOENT)
                continue;
            return false;
        }
        struct stat mine
        {
        };
        const bool written = writeAll(held, kLockLine) && ::futimens(held, nullptr) == 0 &&
                             ::fstat(held, &mine) == 0;
        ::close(held);
        if (!written)
            return false;
        // Its old holder may have deleted it in between: then we hold nothing.
        struct stat now
        {
        };
        if (::stat(path.constData(), &now) != 0 || now.st_ino != mine.st_ino ||
            now.st_dev != mine.st_dev)
            continue;
        return true;
    }
    return false;
}

// Keeps a lock young while its holder is still at work.
void RefreshLockFile(const QString& lockPath)
{
    ::utimensat(AT_FDCWD, QFile::encodeName(lockPath).constData(), nullptr, 0);
}

bool MarkSpoolFileFinished(const QString& lockPath)
{
    const int fd = ::open(QFile::encodeName(lockPath).constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, kFinishedLine);
    ::close(fd);
    return written;
}

bool SpoolFileFinished(const QString& spoolPath)
{
    return isFinishedMark(spoolPath + QStringLiteral(".lock"));
}

QStringList ListSpoolFiles(const QString& folder, const QString& mask)
{
    const QDir dir(folder);
    QStringList paths;
    for (const QString& name : dir.entryList({mask}, QDir::Files | QDir::Hidden, QDir::Name)) {
        const QString path = dir.filePath(name);
        if (!SpoolFileFinished(path))
            paths << path;
    }
    return paths;
}

} // namespace bv::send
