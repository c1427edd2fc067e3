#include "Pop3Reply.h"

#include <cstring>

namespace bv::returned {

namespace {

QByteArrayView withoutLineEnd(QByteArrayView line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

} // namespace

void Pop3Reply::start(Kind kind, const Limits& limits)
{
    m_kind = kind;
    m_limits = limits;
    m_haveStatus = false;
    m_ok = false;
    m_statusLine.clear();
    m_line.clear();
    m_lineLength = 0;
    m_data.clear();
    m_lineStart = 0;
    m_overflow = false;
    m_received = 0;
    m_failure = Failure::None;
    m_failedLimit = 0;
}

Pop3Reply::Progress Pop3Reply::failWith(Failure failure, qint64 limit)
{
    m_failure = failure;
    m_failedLimit = limit;
    return Progress::Failed;
}

Pop3Reply::Progress Pop3Reply::feed(const char* data, qint64 size, qint64* used)
{
    Progress progress = Progress::More;
    qint64 pos = 0;
    while (pos < size && progress == Progress::More) {
        const void* nl = std::memchr(data + pos, '\n', size_t(size - pos));
        const qint64 end = nl ? static_cast<const char*>(nl) - data + 1 : size;
        const qint64 length = end - pos;
        if (m_received + length > m_limits.total) {
            progress = failWith(Failure::AnswerTooLong, m_limits.total);
            break;
        }
        m_received += length;
        m_lineLength += length;
        // Status and listed lines are read whole, then taken.
        const bool whole = !m_haveStatus || m_kind == Kind::Listed;
        const qint64 lineLimit = whole ? m_limits.statusLine : m_limits.dataLine;
        if (m_lineLength > lineLimit + 2) {
            progress = failWith(Failure::LineTooLong, lineLimit);
            break;
        }
        if (whole) {
            m_line.append(data + pos, length);
        } else {
            if (!m_overflow && m_data.size() + length > m_limits.keep) {
                // Only whole lines are kept; the rest of the answer is only
                // watched for its end line.
                m_overflow = true;
                m_line = m_data.mid(m_lineStart, 3);
                m_data.truncate(m_lineStart);
            }
            // Data lines go straight into the answer: no copy a line.
            if (!m_overflow)
                m_data.append(data + pos, length);
            else
                m_line.append(data + pos, qMin<qint64>(length, qMax<qint64>(0, 3 - m_line.size())));
        }
        pos = end;
        if (nl)
            progress = !m_haveStatus              ? completeStatusLine()
                       : m_kind == Kind::Listed ? completeListedLine()
                                                : completeDataLine();
    }
    *used = pos;
    return progress;
}

Pop3Reply::Progress Pop3Reply::completeStatusLine()
{
    m_statusLine = withoutLineEnd(m_line).toByteArray();
    m_line.clear();
    m_lineLength = 0;
    m_ok = m_statusLine.startsWith("+OK");
    if (m_ok && m_kind != Kind::Single) {
        m_haveStatus = true;
        return Progress::More;
    }
    return Progress::Done;
}

Pop3Reply::Progress Pop3Reply::completeListedLine()
{
    m_lineLength = 0;
    QByteArrayView line = withoutLineEnd(m_line);
    if (line == ".") {
        m_line.clear();
        return Progress::Done;
    }
    if (line.startsWith('.'))
        line = line.sliced(1);
    if (onLine)
        onLine(line);
    m_line.clear();
    return Progress::More;
}

Pop3Reply::Progress Pop3Reply::completeDataLine()
{
    const qint64 length = m_lineLength;
    m_lineLength = 0;
    if (m_overflow) {
        const bool last = length <= 3 && withoutLineEnd(m_line) == ".";
        m_line.clear();
        return last ? Progress::Done : Progress::More;
    }
    // The line stands at the end of the answer: its end becomes CR LF, a
    // leading dot is unstuffed, and the line "." ends the answer.
    char* line = m_data.data() + m_lineStart;
    qsizetype n = m_data.size() - m_lineStart;
    if (n > 0 && line[n - 1] == '\n')
        --n;
    if (n > 0 && line[n - 1] == '\r')
        --n;
    if (n == 1 && line[0] == '.') {
        m_data.truncate(m_lineStart);
        return Progress::Done;
    }
    if (n > 0 && line[0] == '.') {
        std::memmove(line, line + 1, size_t(n - 1));
        --n;
    }
    m_data.truncate(m_lineStart + n);
    m_data.append("\r\n", 2);
    m_lineStart = m_data.size();
    return Progress::More;
}

} // namespace bv::returned
