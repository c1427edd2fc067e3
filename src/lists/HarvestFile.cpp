#include "HarvestFile.h"

#include "EmailUtils.h"
#include "core/Clock.h"
#include "core/TextFile.h"
#include "data/Database.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace bv::lists {

namespace {

constexpr qsizetype EmailMemoWidth = 90;
constexpr size_t BlockSize = 1 << 20;

// The text as the EmailMemo field keeps it: at most its width in characters.
QByteArrayView fitField(QByteArrayView utf8)
{
    qsizetype chars = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i)
        if ((uchar(utf8[i]) & 0xC0) != 0x80 && chars++ == EmailMemoWidth)
            return utf8.first(i);
    return utf8;
}

} // namespace

HarvestError::HarvestError(const QString& message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

UniqueAddresses::UniqueAddresses(QByteArrayView text, const QStringList& ignoreList,
                                 const LineProgress& progress)
{
    // As the program reads every text file: UTF-8, else the 8-bit code page 1252.
    const TextEncoding encoding = text.isValidUtf8() ? TextEncoding::Utf8 : TextEncoding::Latin1;
    QSet<QByteArray> ignore;
    for (const QString& a : ignoreList)
        ignore.insert(upperAscii(a).toUtf8());

    // Caught by the stored form of the address, so that every row of the
    // table stays distinct. The addresses live in large blocks that never
    // move; the set holds views of them.
    size_t blockUsed = BlockSize;
    auto keep = [&](QByteArrayView a) {
        if (blockUsed + size_t(a.size()) > BlockSize) {
            m_blocks.push_back(std::make_unique<char[]>(std::max(BlockSize, size_t(a.size()))));
            blockUsed = 0;
        }
        char* p = m_blocks.back().get() + blockUsed;
        std::memcpy(p, a.data(), size_t(a.size()));
        blockUsed += size_t(a.size());
        return std::string_view(p, size_t(a.size()));
    };
    std::unordered_set<std::string_view> seen;
    QByteArray latin1Buffer;
    const qsizetype lines = progress ? countLines(text) : 0;
    HarvestText(
        text, encoding,
        [&](qsizetype line) {
            if (progress)
                progress(line, lines);
        },
        [&](QByteArrayView address) {
            QByteArrayView utf8 = address;
            if (encoding == TextEncoding::Latin1) {
                latin1Buffer = decodeWindows1252(address).toUtf8();
                utf8 = latin1Buffer;
            }
            if (ignore.contains(QByteArray::fromRawData(utf8.data(), utf8.size())))
                return;
            const QByteArrayView stored = fitField(utf8);
            if (seen.count(std::string_view(stored.data(), size_t(stored.size()))))
                return;
            m_sorted.push_back(keep(stored));
            seen.insert(m_sorted.back());
        });
    std::sort(m_sorted.begin(), m_sorted.end());
}

UniqueAddresses::~UniqueAddresses() = default;

void UniqueAddresses::writeTo(data::Connection& connection) const
{
    // In index order the indexes of BadEmail grow at their ends. The rows go
    // in as JSON arrays of many thousands: run once per address, the insert
    // statement costs several times the insert itself. No address holds a
    // character that JSON would escape: quotes, backslashes and control
    // characters all end an address.
    const QString insert =
        QStringLiteral("insert into bademail (emailmemo) select value from json_each(:eml)");
    constexpr size_t Batch = 50000;
    data::Transaction transaction(connection);
    // Every address was cut to the field's width already and holds no blank.
    transaction.insertFittedRows(QStringLiteral("BadEmail"));
    QByteArray json;
    for (size_t from = 0; from < m_sorted.size(); from += Batch) {
        json = "[";
        for (size_t i = from; i < std::min(m_sorted.size(), from + Batch); ++i) {
            if (i > from)
                json += ',';
            json += '"';
            json.append(m_sorted[i].data(), qsizetype(m_sorted[i].size()));
            json += '"';
        }
        json += ']';
        connection.execute(insert, {{QStringLiteral("eml"), QString::fromUtf8(json)}});
    }
    transaction.commit();
}

int HarvestUniqueAddresses(data::Connection& connection, const QString& filePath,
                           const QStringList& ignoreList, const LineProgress& progress)
{
    // The file is read and scanned before BadEmail is emptied: a file that
    // cannot be read must not cost the user the last harvest.
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        throw HarvestError(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw HarvestError(file.errorString());
    file.close();
    const UniqueAddresses unique(bytes, ignoreList, progress);
    connection.execute(QStringLiteral("delete from bademail"));
    unique.writeTo(connection);
    return connection.scalar(QStringLiteral("select count(*) from bademail")).toInt();
}

QString uniqueAddressesMessage(int count)
{
    return QStringLiteral("Email File Processed. ") + QString::number(count) +
           QStringLiteral(" Unique Addresses Found.");
}

EventThrottle::EventThrottle(Clock& clock, int intervalMs)
    : m_clock(clock), m_interval(intervalMs), m_last(clock.uptimeMs())
{
}

EventThrottle::EventThrottle(Clock& clock, std::function<void()> beforeEvents, int intervalMs)
    : m_clock(clock), m_interval(intervalMs), m_last(clock.uptimeMs()),
      m_beforeEvents(std::move(beforeEvents))
{
}

void EventThrottle::tick()
{
    const qint64 now = m_clock.uptimeMs();
    if (now - m_last < m_interval)
        return;
    m_last = now;
    if (m_beforeEvents)
        m_beforeEvents();
    m_clock.processEvents();
}

} // namespace bv::lists
