#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

namespace bv::returned {

// One answer of a POP3 server, read from its bytes as they arrive in pieces
// of any size: the status line, and for a multi-line answer that begins
// "+OK" its lines up to the line ".", dot-unstuffed. Every answer is bounded
// in line length and in total size; what it keeps grows only with what
// arrives.
class Pop3Reply
{
public:
    enum class Kind
    {
        Single, // the status line alone
        Kept,   // lines kept in data(), each ended CR LF, up to Limits::keep
        Listed  // each line handed to onLine and dropped (CAPA, LIST)
    };
    enum class Progress
    {
        More,
        Done,
        Failed
    };
    enum class Failure
    {
        None,
        LineTooLong,
        AnswerTooLong
    };

    struct Limits
    {
        qint64 statusLine = 64 * 1024; // also each line of a Listed answer
        qint64 dataLine = 32 * 1024 * 1024;
        qint64 keep = 32 * 1024 * 1024;
        qint64 total = 64 * 1024 * 1024; // read, kept or not
    };

    void start(Kind kind, const Limits& limits);
    // Reads from data; *used tells how many bytes belonged to this answer
    // (the rest, if any, came after its end).
    Progress feed(const char* data, qint64 size, qint64* used);

    bool ok() const { return m_ok; }
    const QByteArray& statusLine() const { return m_statusLine; }
    QByteArray& data() { return m_data; }
    // Lines beyond the keep limit came and were dropped; data() holds the
    // whole lines before them.
    bool overflow() const { return m_overflow; }
    qint64 received() const { return m_received; }
    Failure failure() const { return m_failure; }
    // The limit that was passed.
    qint64 failedLimit() const { return m_failedLimit; }

    std::function<void(QByteArrayView line)> onLine;

private:
    Progress completeStatusLine();
    Progress completeDataLine();
    Progress completeListedLine();
    Progress failWith(Failure failure, qint64 limit);

    Kind m_kind = Kind::Single;
    Limits m_limits;
    bool m_haveStatus = false;
    bool m_ok = false;
    QByteArray m_statusLine;
    QByteArray m_line; // the status line or listed line being read
    qint64 m_lineLength = 0;
    QByteArray m_data;         // the lines read so far, then the line being read
    qsizetype m_lineStart = 0; // where in m_data the line being read begins
    bool m_overflow = false;
    qint64 m_received = 0;
    Failure m_failure = Failure::None;
    qint64 m_failedLimit = 0;
};

} // namespace bv::returned
