#include "MailMessage.h"

#include "Dkim.h"
#include "MimeEncoding.h"

#include "core/Clock.h"

#include <QBuffer>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <QSaveFile>
#include <QTemporaryFile>

namespace bv::compose {

TIpMailMessage::TIpMailMessage(const Clock& clock) : TIpMimeEntity(this, nullptr), m_clock(clock) {}

TIpMailMessage::~TIpMailMessage() = default;

void TIpMailMessage::Clear()
{
    // Enough for the bodies of a message with a handful of images; a large
    // body's memory is given back.
    constexpr size_t kMaxSpare = 16;
    constexpr qsizetype kMaxSpareSize = 1 << 20;
    m_spareBuffers.clear();
    releaseBuffers([this](QByteArray buffer) {
        if (buffer.capacity() > 0 && buffer.capacity() <= kMaxSpareSize &&
            m_spareBuffers.size() < kMaxSpare)
            m_spareBuffers.push_back(std::move(buffer));
    });
    // Parts come back in the order they are made, so each one gets the
    // buffer of the same part of the previous message.
    std::reverse(m_spareBuffers.begin(), m_spareBuffers.end());
    clearEntity();
    m_from.clear();
    m_mailTo.clear();
    m_cc.clear();
    m_bcc.clear();
    m_subject.clear();
    m_date = QDateTime();
    m_messageId.clear();
    m_userFields.clear();
}

void TIpMailMessage::stamp()
{
    m_date = m_clock.now();
    m_messageId = NewMessageId(m_from);
}

QByteArray Rfc5322Date(const QDateTime& when)
{
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate d = when.date();
    const QTime t = when.time();
    const int offset = when.offsetFromUtc() / 60;
    const int absOffset = offset < 0 ? -offset : offset;
    return QStringLiteral("%1, %2 %3 %4 %5:%6:%7 %8%9%10")
        .arg(QLatin1String(days[d.dayOfWeek() - 1]))
        .arg(d.day(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1String(months[d.month() - 1]))
        .arg(d.year(), 4, 10, QLatin1Char('0'))
        .arg(t.hour(), 2, 10, QLatin1Char('0'))
        .arg(t.minute(), 2, 10, QLatin1Char('0'))
        .arg(t.second(), 2, 10, QLatin1Char('0'))
        .arg(QLatin1Char(offset < 0 ? '-' : '+'))
        .arg(absOffset / 60, 2, 10, QLatin1Char('0'))
        .arg(absOffset % 60, 2, 10, QLatin1Char('0'))
        .toLatin1();
}

namespace {

// Letters, digits, "-" and "." only: what a Message-ID's right side may hold
// as a dot-atom; an international domain goes in its ASCII form.
QString domainPart(const QString& text)
{
    QString ascii = QString::fromLatin1(QUrl::toAce(text.trimmed().toLower()));
    QString kept;
    for (QChar c : std::as_const(ascii))
        if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.')
            kept += c;
    while (kept.startsWith(u'.'))
        kept.remove(0, 1);
    while (kept.endsWith(u'.'))
        kept.chop(1);
    kept.replace(QRegularExpression(QStringLiteral("\\.{2,}")), QStringLiteral("."));
    return kept;
}

} // namespace

QString AddressOfMailbox(const QString& text)
{
    const qsizetype open = text.lastIndexOf(u'<');
    if (open < 0)
        return text;
    const qsizetype close = text.indexOf(u'>', open);
    return text.mid(open + 1, close < 0 ? -1 : close - open - 1);
}

QString NewMessageId(const QString& sender)
{
    static std::atomic<quint64> counter{0};
    const QString address = AddressOfMailbox(sender);
    const qsizetype at = address.lastIndexOf(u'@');
    QString domain = at >= 0 ? domainPart(address.mid(at + 1)) : QString();
    if (domain.isEmpty())
        domain = domainPart(QSysInfo::machineHostName());
    if (domain.isEmpty())
        domain = QStringLiteral("localhost");
    const quint64 ms = quint64(QDateTime::currentMSecsSinceEpoch());
    const quint64 random = QRandomGenerator::global()->generate64();
    return QStringLiteral("<%1.%2.%3@%4>")
        .arg(ms, 0, 36)
        .arg(counter.fetch_add(1) + 1, 0, 36)
        .arg(random, 16, 16, QLatin1Char('0'))
        .arg(domain);
}

namespace {

constexpr qsizetype kMaxHeaderLine = 998;

// A line break inside a value would end the header early (a server's reply
// quoted in an error report ends with one): it becomes a blank.
QString oneLine(const QString& value)
{
    if (!value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')))
        return value;
    QString out;
    out.reserve(value.size());
    bool inBreak = false;
    for (QChar c : value) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (!inBreak)
                out += QLatin1Char(' ');
            inBreak = true;
        } else {
            out += c;
            inBreak = false;
        }
    }
    while (out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    return out;
}

// Only a line too long for transport is folded, at its last blank in reach.
void appendHeaderLine(QByteArray& out, QByteArray line)
{
    qsizetype start = 0; // of the physical line being measured
    for (;;) {
        const qsizetype next = line.indexOf("\r\n", start);
        const qsizetype end = next < 0 ? line.size() : next;
        if (end - start > kMaxHeaderLine) {
            qsizetype cut = -1;
            for (qsizetype i = start + kMaxHeaderLine; i > start; --i)
                if (line.at(i) == ' ' || line.at(i) == '\t') {
                    cut = i;
                    break;
                }
            if (cut > 0) {
                line.insert(cut, "\r\n");
                start = cut + 2;
                continue;
            }
        }
        if (next < 0)
            break;
        start = next + 2;
    }
    out += line;
    out += "\r\n";
}

QByteArray addressList(const char* name, const QStringList& entries)
{
    QByteArray line = name;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i > 0)
            line += ",\r\n\t";
        line += encodeAddressText(oneLine(entries[i]), i == 0 ? int(line.size()) : 1);
    }
    return line;
}

QByteArray userField(const QString& text)
{
    const QString field = oneLine(text);
    if (isAscii(field))
        return field.toLatin1();
    const qsizetype colon = field.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return field.toUtf8();
    QString value = field.mid(colon + 1);
    if (value.startsWith(QLatin1Char(' ')))
        value.remove(0, 1);
    const QByteArray name = field.left(colon).toUtf8() + ": ";
    return name + encodeHeaderText(value, int(name.size()));
}

// A plain message whose text is not ASCII says how its bytes are to be read,
// and travels as quoted-printable rather than as raw 8-bit lines.
bool plainNeedsMime(const TIpMimeEntity& top)
{
    return top.contentType().isEmpty() && !isAscii(top.body().toByteArray());
}

class MemorySink
{
public:
    explicit MemorySink(QByteArray& out) : m_out(out) {}
    void put(QByteArrayView bytes) { m_out.append(bytes); }
    void putBody(const MimeBody& body) { m_out += body.toByteArray(); }
    void flush() {}

private:
    QByteArray& m_out;
};

class DeviceSink
{
public:
    explicit DeviceSink(QIODevice& out) : m_out(out) {}
    void put(QByteArrayView bytes)
    {
        m_buffer.append(bytes);
        if (m_buffer.size() >= kFlushAt)
            flush();
    }
    void putBody(const MimeBody& body)
    {
        flush();
        body.writeTo(m_out);
    }
    void flush()
    {
        if (m_buffer.isEmpty())
            return;
        if (m_out.write(m_buffer) != m_buffer.size())
            throw MessageError(m_out.errorString());
        m_buffer.clear();
    }

private:
    static constexpr qsizetype kFlushAt = 256 * 1024;
    QIODevice& m_out;
    QByteArray m_buffer;
};

template <typename Sink> void writeBody(Sink& sink, const MimeBody& body)
{
    sink.putBody(body);
    if (!body.isEmpty() && !body.endsWithLineBreak())
        sink.put("\r\n");
}

template <typename Sink> void writePart(Sink& sink, const TIpMimeEntity& part)
{
    QByteArray head;
    head.reserve(256);
    head += "--" + part.parentEntity()->boundary() + "\r\n";
    if (!part.contentType().isEmpty())
        head += "Content-Type: " + part.typeLine() + "\r\n";
    if (!part.contentID().isEmpty())
        head += "Content-ID: " + part.contentID().toUtf8() + "\r\n";
    const QByteArray cte = encodingName(part.contentTransferEncoding());
    if (!cte.isEmpty())
        head += "Content-Transfer-Encoding: " + cte + "\r\n";
    if (!part.contentDispositionType().isEmpty())
        head += "Content-Disposition: " + part.dispositionLine() + "\r\n";
    head += "\r\n";
    sink.put(head);
    writeBody(sink, part.body());
    if (part.partCount() > 0) {
        for (int i = 0; i < part.partCount(); ++i)
            writePart(sink, part.part(i));
        sink.put("--" + part.boundary() + "--\r\n\r\n");
    }
}

} // namespace

QByteArray TIpMailMessage::headerBlock() const
{
    QByteArray head;
    head.reserve(512);
    if (!m_from.isEmpty())
        appendHeaderLine(head, "From: " + encodeAddressText(oneLine(m_from), 6));
    if (!m_mailTo.isEmpty())
        appendHeaderLine(head, addressList("To: ", m_mailTo));
    if (!m_cc.isEmpty())
        appendHeaderLine(head, addressList("Cc: ", m_cc));
    if (!m_bcc.isEmpty())
        appendHeaderLine(head, addressList("Bcc: ", m_bcc));
    if (!m_subject.isEmpty())
        appendHeaderLine(head, "Subject: " + encodeHeaderText(oneLine(m_subject), 9));
    if (m_date.isValid())
        head += "Date: " + Rfc5322Date(m_date) + "\r\n";
    if (!m_messageId.isEmpty())
        head += "Message-ID: " + m_messageId.toLatin1() + "\r\n";
    for (const QString& field : m_userFields)
        if (!field.isEmpty())
            appendHeaderLine(head, userField(field));
    if (!contentType().isEmpty()) {
        head += "MIME-Version: 1.0\r\n";
        head += "Content-Type: " + typeLine() + "\r\n";
        const QByteArray cte = encodingName(contentTransferEncoding());
        if (!cte.isEmpty())
            head += "Content-Transfer-Encoding: " + cte + "\r\n";
    } else if (plainNeedsMime(*this)) {
        head += "MIME-Version: 1.0\r\n"
                "Content-Type: text/plain;charset=\"utf-8\"\r\n"
                "Content-Transfer-Encoding: quoted-printable\r\n";
    }
    head += "\r\n";
    return head;
}

template <typename Sink> void TIpMailMessage::write(Sink& sink) const
{
    sink.put(headerBlock());
    if (plainNeedsMime(*this)) {
        sink.put(quotedPrintable(body().toByteArray()));
        return;
    }
    writeBody(sink, body());
    if (partCount() > 0) {
        for (int i = 0; i < partCount(); ++i)
            writePart(sink, part(i));
        sink.put("--" + boundary() + "--\r\n\r\n");
    }
}

qint64 TIpMailMessage::bodiesSize() const
{
    qint64 total = 0;
    std::vector<const TIpMimeEntity*> todo{this};
    while (!todo.empty()) {
        const TIpMimeEntity* e = todo.back();
        todo.pop_back();
        total += e->body().size();
        for (int i = 0; i < e->partCount(); ++i)
            todo.push_back(&e->part(i));
    }
    return total;
}

QByteArray TIpMailMessage::takeSpareBuffer()
{
    if (m_spareBuffers.empty())
        return QByteArray();
    QByteArray buffer = std::move(m_spareBuffers.back());
    m_spareBuffers.pop_back();
    return buffer;
}

QByteArray TIpMailMessage::Encode() const
{
    QByteArray out;
    Encode(out);
    return out;
}

const DkimSigner* TIpMailMessage::activeSigner() const
{
    return m_signer && m_signer->signsFor(m_from) ? m_signer.get() : nullptr;
}

void TIpMailMessage::Encode(QByteArray& out) const
{
    out.resize(0);
    out.reserve(qsizetype(bodiesSize()) + 2048 + 200 * partCount());
    MemorySink sink(out);
    write(sink);
    if (const DkimSigner* signer = activeSigner())
        out.prepend(signer->signatureFields(out, m_clock.now().toSecsSinceEpoch()));
}

void TIpMailMessage::encodeUnsigned(QIODevice& out) const
{
    DeviceSink sink(out);
    write(sink);
    sink.flush();
}

void TIpMailMessage::Encode(QIODevice& out) const
{
    const DkimSigner* signer = activeSigner();
    if (!signer) {
        encodeUnsigned(out);
        return;
    }
    if (bodiesSize() <= kStagingThreshold) {
        const QByteArray text = Encode();
        if (out.write(text) != text.size())
            throw MessageError(out.errorString());
        return;
    }
    // Too large for memory: the signature needs the whole text before the
    // text's first byte goes out, so it is read back from a staging file.
    QTemporaryFile staged(QDir::tempPath() + QStringLiteral("/brevicast-msg-XXXXXX"));
    if (!staged.open())
        throw MessageError(QStringLiteral("Cannot create a temporary file. ") + staged.errorString());
    encodeUnsigned(staged);
    staged.seek(0);
    const QByteArray fields = signer->signatureFields(staged, m_clock.now().toSecsSinceEpoch());
    if (out.write(fields) != fields.size())
        throw MessageError(out.errorString());
    staged.seek(0);
    while (!staged.atEnd()) {
        const QByteArray chunk = staged.read(256 * 1024);
        if (chunk.isEmpty())
            throw MessageError(staged.errorString());
        if (out.write(chunk) != chunk.size())
            throw MessageError(out.errorString());
    }
}

std::unique_ptr<QIODevice> TIpMailMessage::EncodeStaged() const
{
    if (bodiesSize() - body().size() > kStagingThreshold) {
        auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                     QStringLiteral("/brevicast-msg-XXXXXX"));
        if (!file->open())
            throw MessageError(QStringLiteral("Cannot create a temporary file. ") +
                               file->errorString());
        Encode(*file);
        file->seek(0);
        return file;
    }
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(Encode());
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}

void TIpMailMessage::SaveToFile(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw MessageError(QStringLiteral("Cannot create file \"%1\". %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
    try {
        Encode(file);
    } catch (const MessageError& e) {
        file.cancelWriting();
        throw MessageError(QStringLiteral("Cannot write file \"%1\". %2")
                               .arg(QDir::toNativeSeparators(path), e.message()));
    }
    if (!file.commit())
        throw MessageError(QStringLiteral("Cannot write file \"%1\". %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
}

} // namespace bv::compose
