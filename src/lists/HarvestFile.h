#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace bv {
class Clock;
}
namespace bv::data {
class Connection;
}

namespace bv::lists {

// A file that cannot be read; message() is the file system's reason.
class HarvestError : public std::runtime_error
{
public:
    explicit HarvestError(const QString& message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Called before each line: line counted from 0, out of lines.
using LineProgress = std::function<void(qsizetype line, qsizetype lines)>;

// The distinct addresses of a text (the bytes of a file: UTF-8, or code page
// 1252 when they are not valid UTF-8), upper-cased and cut to the width of
// BadEmail's EmailMemo, leaving out those of ignoreList (upper-cased).
class UniqueAddresses
{
public:
    UniqueAddresses(QByteArrayView text, const QStringList& ignoreList,
                    const LineProgress& progress = {});
    ~UniqueAddresses();
    UniqueAddresses(const UniqueAddresses&) = delete;
    UniqueAddresses& operator=(const UniqueAddresses&) = delete;

    // UTF-8, in index order.
    const std::vector<std::string_view>& sorted() const { return m_sorted; }
    // Adds one BadEmail row for each, in one transaction.
    void writeTo(data::Connection& connection) const;

private:
    std::vector<std::unique_ptr<char[]>> m_blocks;
    std::vector<std::string_view> m_sorted;
};

// The unique-address harvest of a mailbox or any text file: empties BadEmail,
// then records every harvested address once, upper-cased, in EmailMemo,
// leaving out the addresses of ignoreList (upper-cased). Returns the number
// of BadEmail rows. A file that cannot be read throws HarvestError and leaves
// BadEmail as it was; engine failures throw bv::data::DbError.
int HarvestUniqueAddresses(data::Connection& connection, const QString& filePath,
                           const QStringList& ignoreList, const LineProgress& progress = {});

// "Email File Processed. " + count + " Unique Addresses Found."
QString uniqueAddressesMessage(int count);

// Lets the user interface handle its events at a steady rate from inside a
// long loop that calls tick() far more often: handling them on every line
// of a big mailbox would cost more than the harvest.
class EventThrottle
{
public:
    explicit EventThrottle(Clock& clock, int intervalMs = 50);
    // beforeEvents runs just before each handling, to show the progress made
    // (a progress bar moved on every line would cost as much as the events).
    EventThrottle(Clock& clock, std::function<void()> beforeEvents, int intervalMs = 50);
    void tick();

private:
    Clock& m_clock;
    int m_interval;
    qint64 m_last;
    std::function<void()> m_beforeEvents;
};

} // namespace bv::lists
