#include "MimeEncoding.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace bv::compose {

namespace {

constexpr int kMaxQpLine = 74; // before the soft break's "="

enum QpClass : unsigned char { Literal, Blank, Escape, Cr, Lf };

constexpr std::array<unsigned char, 256> makeQpClasses()
{
    std::array<unsigned char, 256> t{};
    for (int i = 0; i < 256; ++i) {
        if (i == ' ' || i == '\t')
            t[i] = Blank;
        else if (i == '\r')
            t[i] = Cr;
        else if (i == '\n')
            t[i] = Lf;
        else if (i >= '!' && i <= '~' && i != '=')
            t[i] = Literal;
        else
            t[i] = Escape;
    }
    return t;
}

constexpr std::array<unsigned char, 256> kQpClass = makeQpClasses();
constexpr char kHex[] = "0123456789ABCDEF";
constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12 input bits.
struct Base64Pairs
{
    char pair[4096][2];
    constexpr Base64Pairs() : pair()
    {
        for (int v = 0; v < 4096; ++v) {
            pair[v][0] = kB64[v >> 6];
            pair[v][1] = kB64[v & 63];
        }
    }
};
constexpr Base64Pairs kB64Pairs;

} // namespace

void QuotedPrintableEncoder::reserveRoom(qsizetype room)
{
    if (m_out.size() - m_end < room)
        m_out.resize(m_end + qMax(room, (m_end >> 1) + 256));
}

void QuotedPrintableEncoder::resume(qsizetype room)
{
    m_end = m_out.size();
    reserveRoom(room + m_heldLen);
    m_lineStart = m_end;
    m_wordStart = m_end + m_heldWord;
    std::memcpy(m_out.data() + m_end, m_held, size_t(m_heldLen));
    m_end += m_heldLen;
    m_heldLen = m_heldWord = 0;
}

void QuotedPrintableEncoder::suspend()
{
    m_heldLen = int(m_end - m_lineStart);
    m_heldWord = int(m_wordStart - m_lineStart);
    std::memcpy(m_held, m_out.constData() + m_lineStart, size_t(m_heldLen));
    m_out.resize(m_lineStart);
}

// Moves the text from at on by three to make room for "=" CR LF before it.
void QuotedPrintableEncoder::softBreakBefore(qsizetype at)
{
    char* base = m_out.data();
    std::memmove(base + at + 3, base + at, size_t(m_end - at));
    base[at] = '=';
    base[at + 1] = '\r';
    base[at + 2] = '\n';
    m_end += 3;
    m_wordStart += 3;
    m_lineStart = at + 3;
}

// The word alone has reached the line's limit: it gets a line of its own.
void QuotedPrintableEncoder::cutWord()
{
    if (m_wordStart > m_lineStart)
        softBreakBefore(m_wordStart);
    char* p = m_out.data() + m_end;
    p[0] = '=';
    p[1] = '\r';
    p[2] = '\n';
    m_end += 3;
    m_lineStart = m_wordStart = m_end;
}

// A word is complete: it stays on the line if the line can hold it.
inline void QuotedPrintableEncoder::endWord()
{
    if (m_end - m_lineStart > kMaxQpLine && m_wordStart > m_lineStart)
        softBreakBefore(m_wordStart);
    m_wordStart = m_end;
}

void QuotedPrintableEncoder::hardBreak()
{
    endWord();
    char* base = m_out.data();
    // A blank at the end of a line would be lost in transport.
    if (m_end > m_lineStart && (base[m_end - 1] == ' ' || base[m_end - 1] == '\t')) {
        const bool space = base[m_end - 1] == ' ';
        base[m_end - 1] = '=';
        base[m_end] = space ? '2' : '0';
        base[m_end + 1] = space ? '0' : '9';
        m_end += 2;
    }
    base[m_end] = '\r';
    base[m_end + 1] = '\n';
    m_end += 2;
    m_lineStart = m_wordStart = m_end;
}

void QuotedPrintableEncoder::escape(unsigned char c)
{
    if (m_end - m_wordStart + 3 > kMaxQpLine)
        cutWord();
    char* p = m_out.data() + m_end;
    p[0] = '=';
    p[1] = kHex[c >> 4];
    p[2] = kHex[c & 15];
    m_end += 3;
}

void QuotedPrintableEncoder::feed(const char* data, qsizetype size)
{
    // One input byte writes at most 18 bytes, breaks included.
    constexpr qsizetype kRoomPerByte = 24;
    resume(size + size / 4 + 4 * kRoomPerByte);
    qsizetype i = 0;
    while (i < size) {
        if (!m_pendingCr) {
            // Most text is runs of bytes written as they are, a blank ending
            // each word.
            const qsizetype safeEnd = m_out.size() - kRoomPerByte;
            // Locals, since the stores through base could alias the members.
            char* base = m_out.data();
            qsizetype end = m_end;
            qsizetype wordStart = m_wordStart;
            while (i < size && end < safeEnd) {
                const auto c = static_cast<unsigned char>(data[i]);
                const unsigned char cls = kQpClass[c];
                if (cls > Blank || end - wordStart >= kMaxQpLine)
                    break;
                base[end++] = char(c);
                ++i;
                if (cls == Blank) {
                    m_end = end;
                    m_wordStart = wordStart;
                    endWord();
                    end = m_end;
                    wordStart = m_wordStart;
                }
            }
            m_end = end;
            m_wordStart = wordStart;
            if (i == size)
                break;
        }
        if (m_out.size() - m_end < kRoomPerByte)
            reserveRoom(kRoomPerByte + (size - i) / 4);
        const auto c = static_cast<unsigned char>(data[i++]);
        if (m_pendingCr) {
            m_pendingCr = false;
            if (c == '\n') {
                hardBreak();
                continue;
            }
            if (m_textLines)
                hardBreak();
            else
                escape('\r');
        }
        switch (kQpClass[c]) {
        case Cr:
            m_pendingCr = true;
            break;
        case Lf:
            if (m_textLines)
                hardBreak();
            else
                escape(c);
            break;
        case Escape:
            escape(c);
            break;
        default:
            if (m_end - m_wordStart + 1 > kMaxQpLine)
                cutWord();
            m_out.data()[m_end++] = char(c);
            if (c == ' ' || c == '\t')
                endWord();
        }
    }
    suspend();
}

void QuotedPrintableEncoder::finish()
{
    resume(32);
    if (m_pendingCr) {
        m_pendingCr = false;
        if (m_textLines)
            hardBreak();
        else
            escape('\r');
    }
    endWord();
    if (m_end > m_lineStart) {
        if (m_textLines) {
            hardBreak();
        } else {
            std::memcpy(m_out.data() + m_end, "=\r\n", 3);
            m_end += 3;
        }
    }
    m_out.resize(m_end);
    m_lineStart = m_wordStart = m_end;
}

qsizetype Base64LineEncoder::encodedSize(qint64 size)
{
    qsizetype n = qsizetype(size / 57) * 78;
    const qint64 rest = size % 57;
    if (rest)
        n += qsizetype((rest + 2) / 3) * 4 + 2;
    return n;
}

void Base64LineEncoder::feed(const char* data, qsizetype size)
{
    if (size <= 0)
        return;
    auto in = reinterpret_cast<const unsigned char*>(data);
    if (m_carryLen > 0) {
        const int take = int(qMin<qsizetype>(57 - m_carryLen, size));
        std::memcpy(m_carry + m_carryLen, in, size_t(take));
        m_carryLen += take;
        in += take;
        size -= take;
        if (m_carryLen < 57)
            return;
        encodeLines(m_carry, 1);
        m_carryLen = 0;
    }
    const qsizetype lines = size / 57;
    encodeLines(in, lines);
    in += lines * 57;
    size -= lines * 57;
    if (size > 0)
        std::memcpy(m_carry, in, size_t(size));
    m_carryLen = int(size);
}

void Base64LineEncoder::encodeLines(const unsigned char* in, qsizetype lines)
{
    if (lines <= 0)
        return;
    const qsizetype start = m_out.size();
    m_out.resize(start + lines * 78);
    char* p = m_out.data() + start;
    for (qsizetype l = 0; l < lines; ++l) {
        for (int g = 0; g < 19; ++g, in += 3) {
            const unsigned v = (unsigned(in[0]) << 16) | (unsigned(in[1]) << 8) | in[2];
            std::memcpy(p, kB64Pairs.pair[v >> 12], 2);
            std::memcpy(p + 2, kB64Pairs.pair[v & 0xFFF], 2);
            p += 4;
        }
        p[0] = '\r';
        p[1] = '\n';
        p += 2;
    }
}

void Base64LineEncoder::finish()
{
    if (m_carryLen == 0)
        return;
    const unsigned char* in = m_carry;
    int left = m_carryLen;
    char buf[80];
    char* p = buf;
    for (; left >= 3; left -= 3, in += 3) {
        const unsigned v = (unsigned(in[0]) << 16) | (unsigned(in[1]) << 8) | in[2];
        *p++ = kB64[v >> 18];
        *p++ = kB64[(v >> 12) & 63];
        *p++ = kB64[(v >> 6) & 63];
        *p++ = kB64[v & 63];
    }
    if (left > 0) {
        const unsigned v = (unsigned(in[0]) << 16) | (left > 1 ? unsigned(in[1]) << 8 : 0u);
        *p++ = kB64[v >> 18];
        *p++ = kB64[(v >> 12) & 63];
        *p++ = left > 1 ? kB64[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    *p++ = '\r';
    *p++ = '\n';
    m_out.append(buf, p - buf);
    m_carryLen = 0;
}

QByteArray quotedPrintable(QByteArrayView data, QuotedPrintableEncoder::Input input)
{
    QByteArray out;
    QuotedPrintableEncoder enc(out, input);
    enc.feed(data);
    enc.finish();
    return out;
}

QByteArray base64Lines(QByteArrayView data)
{
    QByteArray out;
    out.reserve(Base64LineEncoder::encodedSize(data.size()));
    Base64LineEncoder enc(out);
    enc.feed(data);
    enc.finish();
    return out;
}

QByteArray quotedString(const QString& value)
{
    QString out;
    out.reserve(value.size() + 2);
    out += QLatin1Char('"');
    for (QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out.toUtf8();
}

namespace {

bool needsQuotes(const QString& value)
{
    static const QString specials = QStringLiteral("()<>@,;:\\\"/[]?=");
    for (QChar c : value)
        if (c.unicode() <= 32 || c.unicode() == 127 || specials.contains(c))
            return true;
    return false;
}

} // namespace

QByteArray parameter(const QByteArray& name, const QString& value, bool alwaysQuote)
{
    // A control character (a line break in a file name) would end the header
    // line inside the value; the extended form carries it as "%0A".
    const bool control = std::any_of(value.begin(), value.end(), [](QChar c) {
        return c.unicode() < 32 || c.unicode() == 127;
    });
    if (control || !isAscii(value))
        return name + "*=utf-8''"
               + value.toUtf8().toPercentEncoding("!#$&+-.^_`|~");
    return name + '=' + (alwaysQuote || needsQuotes(value) ? quotedString(value) : value.toLatin1());
}

bool isAscii(QByteArrayView data)
{
    for (char c : data)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool isAscii(QStringView text)
{
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

namespace {

constexpr int kMaxHeaderLine = 76;

bool startsCharacter(const QByteArray& utf8, qsizetype at)
{
    return at >= utf8.size() || (static_cast<unsigned char>(utf8.at(at)) & 0xC0) != 0x80;
}

// How many of at most max bytes from pos go into one word: whole characters
// only, and a multiple of three where possible. Some readers join adjacent
// words before decoding them, and padding inside the run breaks them.
qsizetype wordBytes(const QByteArray& utf8, qsizetype pos, qsizetype max)
{
    for (qsizetype take = max - max % 3; take >= 3; take -= 3)
        if (startsCharacter(utf8, pos + take))
            return take;
    qsizetype take = max;
    while (take > 1 && !startsCharacter(utf8, pos + take))
        --take;
    return take;
}

// Encoded words for text, starting on a line that already holds used
// characters; column receives the length of the last line.
QByteArray encodedWords(const QString& text, int used, int* column)
{
    static const QByteArray open = "=?utf-8?B?";
    static const QByteArray close = "?=";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    qsizetype pos = 0;
    int lineUsed = used;
    while (pos < utf8.size()) {
        if (pos > 0) {
            out += "\r\n ";
            lineUsed = 1;
        }
        const int room = kMaxHeaderLine - lineUsed - int(open.size() + close.size());
        qsizetype take = qMax(1, room / 4) * 3;
        if (pos + take >= utf8.size())
            take = utf8.size() - pos;
        else
            take = wordBytes(utf8, pos, take);
        const QByteArray word = open + utf8.mid(pos, take).toBase64() + close;
        out += word;
        lineUsed += int(word.size());
        pos += take;
    }
    if (column)
        *column = lineUsed;
    return out;
}

QString unquote(QString name)
{
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"'))) {
        name = name.mid(1, name.size() - 2);
        QString plain;
        plain.reserve(name.size());
        for (qsizetype i = 0; i < name.size(); ++i) {
            if (name.at(i) == QLatin1Char('\\') && i + 1 < name.size())
                ++i;
            plain += name.at(i);
        }
        return plain;
    }
    return name;
}

} // namespace

QByteArray encodeHeaderText(const QString& text, int used)
{
    if (isAscii(text))
        return text.toLatin1();
    return encodedWords(text, used, nullptr);
}

QByteArray encodeAddressText(const QString& text, int used)
{
    const auto plain = [&text] { return isAscii(text) ? text.toLatin1() : text.toUtf8(); };
    const QString trimmed = text.trimmed();
    const qsizetype lt = trimmed.lastIndexOf(QLatin1Char('<'));
    if (lt <= 0 || !trimmed.endsWith(QLatin1Char('>')))
        return plain();
    const QString written = trimmed.left(lt).trimmed();
    const QString name = unquote(written);
    const QByteArray address = trimmed.mid(lt).toUtf8();
    if (name.isEmpty())
        return plain();
    if (isAscii(name)) {
        // "Smith, John <js@x.com>" is read as two mailboxes unless the name is
        // quoted.
        static const QString specials = QStringLiteral("()<>[]:;@\\,.\"");
        const bool quoted = written.size() >= 2 && written.startsWith(QLatin1Char('"'))
                            && written.endsWith(QLatin1Char('"'));
        if (quoted || !std::any_of(name.begin(), name.end(),
                                   [](QChar c) { return specials.contains(c); }))
            return plain();
        return quotedString(name) + ' ' + address;
    }
    int column = 0;
    QByteArray out = encodedWords(name, used, &column);
    out += column + 1 + address.size() > kMaxHeaderLine ? "\r\n " : " ";
    out += address;
    return out;
}

} // namespace bv::compose
