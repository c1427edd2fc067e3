#include "HarvestFile.h"

#include "EmailUtils.h"
#include "core/Clock.h"
#include "data/Database.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <vector>

namespace bv::lists {

namespace {

constexpr qsizetype EmailMemoWidth = 90;

// The text as the EmailMemo field keeps it: at most its width in characters.
QByteArrayView fitField(QByteArrayView utf8)
{
    qsizetype chars = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i)
        if ((uchar(utf8[i]) & 0xC0) != 0x80 && chars++ == EmailMemoWidth)
            return utf8.first(i);
    return utf8;
}

// Commits on commit(); rolls back when left early.
class Transaction
{
public:
    explicit Transaction(data::Connection& c) : m_c(c) { m_c.execute(QStringLiteral("BEGIN")); }
    ~Transaction()
    {
        if (m_open) {
            try {
                m_c.execute(QStringLiteral("ROLLBACK"));
            } catch (const data::DbError&) {
            }
        }
    }
    void commit()
    {
        m_c.execute(QStringLiteral("COMMIT"));
        m_open = false;
    }

private:
    data::Connection& m_c;
    bool m_open = true;
};

} // namespace

HarvestError::HarvestError(const QString& message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

int HarvestUniqueAddresses(data::Connection& connection, const QString& filePath,
                           const QStringList& ignoreList, const LineProgress& progress)
{
    connection.execute(QStringLiteral("delete from bademail"));

    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        throw HarvestError(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw HarvestError(file.errorString());
    file.close();
    // As the program reads every text file: UTF-8, else 8-bit Latin-1.
    const TextEncoding encoding =
        QByteArrayView(bytes).isValidUtf8() ? TextEncoding::Utf8 : TextEncoding::Latin1;

    QSet<QByteArray> ignore;
    for (const QString& a : ignoreList)
        ignore.insert(a.toUtf8());

    // Duplicates are caught in memory by the stored form of the address, so
    // that every row of the table stays distinct.
    QSet<QByteArray> seen;
    std::vector<QByteArray> found;
    QByteArray latin1Buffer;
    const qsizetype lines = progress ? countLines(bytes) : 0;
    HarvestText(
        bytes, encoding,
        [&](qsizetype line) {
            if (progress)
                progress(line, lines);
        },
        [&](QByteArrayView address) {
            QByteArrayView utf8 = address;
            if (encoding == TextEncoding::Latin1) {
                latin1Buffer = QString::fromLatin1(address).toUtf8();
                utf8 = latin1Buffer;
            }
            if (ignore.contains(QByteArray::fromRawData(utf8.data(), utf8.size())))
                return;
            const QByteArrayView stored = fitField(utf8);
            const QByteArray key = QByteArray::fromRawData(stored.data(), stored.size());
            if (seen.contains(key))
                return;
            found.push_back(stored.toByteArray());
            seen.insert(found.back());
        });
    seen.clear();

    // In index order the three indexes of BadEmail grow at their ends.
    std::sort(found.begin(), found.end());
    Transaction transaction(connection);
    const QString insert = QStringLiteral("insert into bademail (emailmemo) values (:eml)");
    for (const QByteArray& a : found)
        connection.execute(insert, {{QStringLiteral("eml"), QString::fromUtf8(a)}});
    transaction.commit();
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

void EventThrottle::tick()
{
    const qint64 now = m_clock.uptimeMs();
    if (now - m_last < m_interval)
        return;
    m_last = now;
    m_clock.processEvents();
}

} // namespace bv::lists
