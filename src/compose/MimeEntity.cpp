#include "MimeEntity.h"

#include "MailMessage.h"
#include "MimeEncoding.h"
#include "core/Clock.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryFile>

#include <atomic>

namespace bv::compose {

MessageError::MessageError(const QString& message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

QByteArray encodingName(TIpMimeEncodingMethod method)
{
    switch (method) {
    case em7Bit:
        return "7bit";
    case em8Bit:
        return "8bit";
    case emBase64:
        return "base64";
    case emBinary:
        return "binary";
    case emBinHex:
        return "x-binhex";
    case emQuoted:
        return "quoted-printable";
    case emUUEncode:
        return "x-uuencode";
    case emUnknown:
    case emNone:
        break;
    }
    return {};
}

namespace {

std::atomic<quint32> g_boundaryCounter{0};

quint64 splitMix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

QByteArray hex(quint32 value, int digits)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(digits, '0', true);
}

} // namespace

QByteArray makeBoundary(const Clock& clock)
{
    const QDateTime now = clock.now();
    const auto days = quint32(QDate(1899, 12, 30).daysTo(now.date()));
    const auto fraction = quint32(qint64(now.time().msecsSinceStartOfDay()) * 10000 / 86400000);
    const auto uptime = quint32(clock.uptimeMs());
    // Seeded from exactly what the other groups show: equal groups mean an
    // equal draw, and then the counter alone tells the boundaries apart.
    const quint64 seed = (quint64(days) << 40) ^ (quint64(fraction) << 20) ^ uptime;
    const quint32 drawn = quint32(splitMix(seed) % 65535);
    const quint32 random = (drawn + g_boundaryCounter.fetch_add(1, std::memory_order_relaxed)) % 65535;
    return "_NextPart_" + hex(days, 8) + '-' + hex(fraction, 8) + '-' + hex(uptime, 8) + '-'
           + hex(random, 4);
}

MimeBody::MimeBody() = default;
MimeBody::~MimeBody() = default;

qint64 MimeBody::size() const
{
    return m_file ? m_fileSize : m_bytes.size();
}

bool MimeBody::endsWithLineBreak() const
{
    if (m_file)
        return m_fileSize > 0 && m_last == '\n';
    return !m_bytes.isEmpty() && m_bytes.back() == '\n';
}

void MimeBody::clear()
{
    m_bytes.clear();
    m_file.reset();
    m_fileSize = 0;
    m_last = 0;
}

void MimeBody::stage()
{
    if (m_file)
        return;
    auto file = std::make_unique<QTemporaryFile>(QDir::tempPath()
                                                 + QStringLiteral("/brevicast-part-XXXXXX"));
    if (!file->open())
        throw MessageError(QStringLiteral("Cannot create a temporary file. ") + file->errorString());
    m_file = std::move(file);
    m_fileSize = 0;
    const QByteArray held = std::exchange(m_bytes, QByteArray());
    append(held);
}

void MimeBody::append(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    if (!m_file) {
        m_bytes.append(bytes);
        return;
    }
    if (m_file->write(bytes.data(), bytes.size()) != bytes.size())
        throw MessageError(QStringLiteral("Cannot write a temporary file. ") + m_file->errorString());
    m_fileSize += bytes.size();
    m_last = bytes.back();
}

QByteArray MimeBody::release()
{
    QByteArray buffer = m_file ? QByteArray() : std::exchange(m_bytes, QByteArray());
    clear();
    buffer.resize(0);
    return buffer;
}

void MimeBody::adopt(QByteArray buffer)
{
    clear();
    buffer.resize(0);
    m_bytes = std::move(buffer);
}

QByteArray MimeBody::toByteArray() const
{
    if (!m_file)
        return m_bytes;
    QByteArray all;
    m_file->seek(0);
    all = m_file->read(m_fileSize);
    m_file->seek(m_fileSize);
    return all;
}

void MimeBody::writeTo(QIODevice& out) const
{
    if (!m_file) {
        if (out.write(m_bytes) != m_bytes.size())
            throw MessageError(out.errorString());
        return;
    }
    m_file->seek(0);
    QByteArray block;
    qint64 left = m_fileSize;
    while (left > 0) {
        block = m_file->read(qMin<qint64>(left, 1 << 20));
        if (block.isEmpty())
            throw MessageError(QStringLiteral("Cannot read a temporary file. ")
                               + m_file->errorString());
        if (out.write(block) != block.size())
            throw MessageError(out.errorString());
        left -= block.size();
    }
    m_file->seek(m_fileSize);
}

namespace {

class ContentEncoder
{
public:
    virtual ~ContentEncoder() = default;
    virtual void feed(const char* data, qsizetype size) = 0;
    virtual void finish() = 0;
};

class QpContent : public ContentEncoder
{
public:
    QpContent(QByteArray& out, QuotedPrintableEncoder::Input input) : m_enc(out, input) {}
    void feed(const char* data, qsizetype size) override { m_enc.feed(data, size); }
    void finish() override { m_enc.finish(); }

private:
    QuotedPrintableEncoder m_enc;
};

class Base64Content : public ContentEncoder
{
public:
    explicit Base64Content(QByteArray& out) : m_enc(out) {}
    void feed(const char* data, qsizetype size) override { m_enc.feed(data, size); }
    void finish() override { m_enc.finish(); }

private:
    Base64LineEncoder m_enc;
};

// The encodings that leave content as it is still write it as CR LF lines.
class LineCopy : public ContentEncoder
{
public:
    explicit LineCopy(QByteArray& out) : m_out(out) {}
    void feed(const char* data, qsizetype size) override
    {
        qsizetype run = 0;
        for (qsizetype i = 0; i < size; ++i) {
            const char c = data[i];
            if (c != '\r' && c != '\n') {
                if (m_pendingCr) {
                    m_out.append("\r\n", 2);
                    m_pendingCr = false;
                }
                ++run;
                continue;
            }
            m_out.append(data + i - run, run);
            run = 0;
            if (c == '\r') {
                if (m_pendingCr)
                    m_out.append("\r\n", 2);
                m_pendingCr = true;
            } else {
                m_out.append("\r\n", 2);
                m_pendingCr = false;
            }
            m_open = false;
        }
        if (run > 0) {
            m_out.append(data + size - run, run);
            m_open = true;
        }
    }
    void finish() override
    {
        if (m_pendingCr || m_open)
            m_out.append("\r\n", 2);
        m_pendingCr = m_open = false;
    }

private:
    QByteArray& m_out;
    bool m_pendingCr = false;
    bool m_open = false;
};

} // namespace

TIpMimeEntity::TIpMimeEntity(TIpMailMessage* message, TIpMimeEntity* parent)
    : m_message(message), m_parent(parent)
{
}

TIpMimeEntity::~TIpMimeEntity() = default;

void TIpMimeEntity::clearEntity()
{
    m_contentType.clear();
    m_contentSubtype.clear();
    m_charset.clear();
    m_encoding = emUnknown;
    m_contentID.clear();
    m_dispositionType.clear();
    m_dispositionFileName.clear();
    m_size = 0;
    m_boundary.clear();
    m_body.clear();
    m_parts.clear();
}

bool TIpMimeEntity::isMultipart() const
{
    return m_contentType.compare(QLatin1String("multipart"), Qt::CaseInsensitive) == 0;
}

TIpMimeEntity& TIpMimeEntity::addPart()
{
    if (m_boundary.isEmpty())
        m_boundary = makeBoundary(m_message->clock());
    m_parts.push_back(std::unique_ptr<TIpMimeEntity>(new TIpMimeEntity(m_message, this)));
    m_parts.back()->m_body.adopt(m_message->takeSpareBuffer());
    return *m_parts.back();
}

void TIpMimeEntity::appendBodyLine(const QString& line)
{
    // A line break inside the text starts a new line, never a bare CR or LF.
    const QByteArray utf8 = line.toUtf8();
    qsizetype start = 0;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8.at(i);
        if (c != '\r' && c != '\n')
            continue;
        m_body.append(QByteArrayView(utf8).sliced(start, i - start));
        m_body.append("\r\n");
        if (c == '\r' && i + 1 < utf8.size() && utf8.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < utf8.size() || start == 0) {
        m_body.append(QByteArrayView(utf8).sliced(start));
        m_body.append("\r\n");
    }
}

void TIpMimeEntity::appendBodyLines(const QStringList& lines)
{
    for (const QString& line : lines)
        appendBodyLine(line);
}

namespace {

// Feeds size bytes from read() to the encoder in blocks, reporting every
// tenth of the way when someone listens.
template <typename Read>
void encodeStream(TIpMailMessage* message, MimeBody& body, TIpMimeEncodingMethod method,
                  QuotedPrintableEncoder::Input input, qint64 size, Read&& read)
{
    if (method == emBinHex || method == emUUEncode)
        throw MessageError(QStringLiteral("Unsupported content transfer encoding: ")
                           + QString::fromLatin1(encodingName(method)));
    if (size > kStagingThreshold)
        body.stage();

    QByteArray chunk;
    QByteArray& out = body.isStaged() ? chunk : body.buffer();
    std::unique_ptr<ContentEncoder> enc;
    if (method == emQuoted) {
        enc = std::make_unique<QpContent>(out, input);
    } else if (method == emBase64) {
        if (!body.isStaged())
            out.reserve(out.size() + Base64LineEncoder::encodedSize(size));
        enc = std::make_unique<Base64Content>(out);
    } else {
        enc = std::make_unique<LineCopy>(out);
    }

    const TIpMailMessage::CodingProgress* progress =
        message && message->codingProgressHandler() ? &message->codingProgressHandler() : nullptr;
    constexpr qint64 kBlock = 1 << 20;
    qint64 done = 0;
    int reported = 0;
    for (int step = progress ? 1 : 10; step <= 10; ++step) {
        const qint64 mark = size * step / 10;
        while (done < mark) {
            const QByteArrayView piece = read(qMin(kBlock, mark - done));
            enc->feed(piece.data(), piece.size());
            done += piece.size();
            if (body.isStaged()) {
                body.append(chunk);
                chunk.clear();
            }
        }
        if (step == 10)
            enc->finish();
        if (progress && step * 10 > reported) {
            reported = step * 10;
            bool abort = false;
            (*progress)(*message, reported, abort);
            if (abort)
                throw MessageError(QStringLiteral("Encoding aborted."));
        }
    }
    if (body.isStaged())
        body.append(chunk);
}

} // namespace

void TIpMimeEntity::encodeContent(QByteArrayView data)
{
    encodeBytes(data, QuotedPrintableEncoder::Data);
}

void TIpMimeEntity::encodeTextContent(QByteArrayView text)
{
    encodeBytes(text, QuotedPrintableEncoder::TextLines);
}

void TIpMimeEntity::encodeBytes(QByteArrayView data, int input)
{
    qsizetype pos = 0;
    encodeStream(m_message, m_body, m_encoding, QuotedPrintableEncoder::Input(input), data.size(),
                 [&](qint64 n) {
        const QByteArrayView piece = data.sliced(pos, qsizetype(n));
        pos += piece.size();
        return piece;
    });
}

void TIpMimeEntity::encodeContentFrom(QIODevice& in, qint64 size, const QString& sourceName)
{
    QByteArray& block = m_message->readBuffer();
    encodeStream(m_message, m_body, m_encoding, QuotedPrintableEncoder::Data, size, [&](qint64 n) {
        block.resize(qsizetype(n));
        const qint64 got = in.read(block.data(), n);
        if (got <= 0)
            throw MessageError(QStringLiteral("Cannot read file \"%1\". %2")
                                   .arg(sourceName, got < 0 ? in.errorString()
                                                            : QStringLiteral("Unexpected end of file")));
        return QByteArrayView(block.constData(), qsizetype(got));
    });
}

QByteArray TIpMimeEntity::typeLine() const
{
    QByteArrayList items;
    items << (m_contentType + QLatin1Char('/') + m_contentSubtype).toUtf8();
    if (!m_charset.isEmpty())
        items << "charset=\"" + m_charset.toUtf8() + '"';
    if (isMultipart() && !m_boundary.isEmpty())
        items << "boundary=\"" + m_boundary + '"';

    // Counted from the start of the header line; past 1000 an item goes on a
    // continuation line.
    constexpr qsizetype kMaxLine = 1000;
    QByteArray line = items.first();
    qsizetype lineLen = qsizetype(sizeof("Content-Type: ") - 1) + line.size();
    for (qsizetype i = 1; i < items.size(); ++i) {
        if (lineLen + 1 + items[i].size() > kMaxLine) {
            line += ";\r\n\t";
            lineLen = 1;
        } else {
            line += ';';
            lineLen += 1;
        }
        line += items[i];
        lineLen += items[i].size();
    }
    return line;
}

QByteArray TIpMimeEntity::dispositionLine() const
{
    QByteArray line = m_dispositionType.toUtf8();
    if (!m_dispositionFileName.isEmpty()) {
        line += ';';
        line += parameter("filename", m_dispositionFileName, false);
    }
    if (m_size > 0)
        line += ";size=" + QByteArray::number(m_size);
    return line;
}

} // namespace bv::compose
