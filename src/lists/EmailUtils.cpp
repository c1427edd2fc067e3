#include "EmailUtils.h"

#include <array>
#include <cstring>

namespace bv::lists {

namespace {

constexpr qsizetype RemainderLimit = 1000;

constexpr std::array<bool, 128> makeDelimiters()
{
    std::array<bool, 128> d{};
    for (int c = 0; c <= 32; ++c)
        d[size_t(c)] = true;
    for (char c : {'"', '&', '\'', '(', ')', '+', ',', '/', ':', ';', '<', '=', '>', '@', '\\', ']'})
        d[size_t(c)] = true;
    d[127] = true;
    return d;
}

constexpr std::array<bool, 128> Delimiters = makeDelimiters();

inline uint unit(char c)
{
    return uchar(c);
}
inline uint unit(QChar c)
{
    return c.unicode();
}

// One of the two scans from the "@" at a; p ends on the last character taken.
template <typename Ch>
bool scanFrom(const Ch* s, qsizetype n, qsizetype a, int step, qsizetype& p)
{
    p = a;
    bool lastDot = false;
    bool found = false;
    for (;;) {
        const qsizetype q = p + step;
        if (q < 0 || q >= n)
            break;
        const uint c = unit(s[q]);
        if (isAddressDelimiter(c))
            break;
        if (c == '.' && (lastDot || p == a))
            break; // two dots in a row, or a dot beside the "@"
        found = true;
        p = q;
        lastDot = c == '.';
    }
    if (lastDot)
        p -= step; // an address never ends on a dot
    return found && p != a;
}

// ScanAddress with the first "@" already known to be at a (0-based).
template <typename Ch>
ScanResult scanAt(const Ch* s, qsizetype n, qsizetype a)
{
    ScanResult r;
    qsizetype end = a;
    const bool endFound = scanFrom(s, n, a, +1, end);
    if (unit(s[end]) == '-')
        --end; // one trailing hyphen goes
    r.end = end + 1;
    if (!endFound)
        return r;
    qsizetype start = a;
    if (!scanFrom(s, n, a, -1, start))
        return r;
    r.found = true;
    r.start = start + 1;
    return r;
}

void upperAscii(QByteArray& b)
{
    for (char& c : b)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
}

// Where the text from `from` ends when cut to RemainderLimit characters, no
// later than `to`.
qsizetype cutRemainder(const char* s, qsizetype from, qsizetype to, TextEncoding enc)
{
    if (to - from <= RemainderLimit)
        return to; // a character is at least one byte
    if (enc == TextEncoding::Latin1)
        return from + RemainderLimit;
    qsizetype chars = 0;
    for (qsizetype i = from; i < to; ++i)
        if ((uchar(s[i]) & 0xC0) != 0x80 && chars++ == RemainderLimit)
            return i;
    return to;
}

using ByteSink = std::function<void(QByteArrayView)>;

void harvestLine(const char* s, qsizetype n, TextEncoding enc, QByteArray& buffer,
                 const ByteSink& sink)
{
    qsizetype from = 0;
    qsizetype to = n;
    while (from < to) {
        const void* hit = std::memchr(s + from, '@', size_t(to - from));
        if (!hit)
            return;
        const char* rest = s + from;
        const ScanResult r = scanAt(rest, to - from, static_cast<const char*>(hit) - rest);
        if (r.found) {
            // One buffer for every address of the text: no allocation per address.
            buffer.resize(r.end - r.start + 1);
            std::memcpy(buffer.data(), rest + r.start - 1, size_t(buffer.size()));
            upperAscii(buffer);
            sink(buffer);
        }
        from += r.end;
        to = cutRemainder(s, from, to, enc);
    }
}

// Calls fn(begin, end) for each line of text.
template <typename Fn>
void forEachLine(const char* s, qsizetype n, Fn&& fn)
{
    qsizetype i = 0;
    qsizetype nextCr = -1; // -1: not looked for yet; n: none left
    while (i < n) {
        const void* lf = std::memchr(s + i, '\n', size_t(n - i));
        qsizetype e = lf ? static_cast<const char*>(lf) - s : n;
        if (nextCr < i) {
            const void* cr = std::memchr(s + i, '\r', size_t(n - i));
            nextCr = cr ? static_cast<const char*>(cr) - s : n;
        }
        if (nextCr < e)
            e = nextCr;
        fn(i, e);
        if (e >= n)
            return;
        i = e + 1;
        if (s[e] == '\r' && i < n && s[i] == '\n')
            ++i;
    }
}

} // namespace

bool isAddressDelimiter(uint c)
{
    return c < 128 && Delimiters[c];
}

ScanResult ScanAddress(QStringView text)
{
    const qsizetype a = text.indexOf(QLatin1Char('@'));
    if (a < 0)
        return {false, 0, text.size()};
    return scanAt(text.data(), text.size(), a);
}

ScanResult ScanAddress(QByteArrayView text)
{
    const qsizetype a = text.indexOf('@');
    if (a < 0)
        return {false, 0, text.size()};
    return scanAt(text.data(), text.size(), a);
}

void HarvestText(QByteArrayView text, TextEncoding encoding,
                 const std::function<void(qsizetype)>& beforeLine, const ByteSink& sink)
{
    const char* s = text.data();
    qsizetype n = text.size();
    if (encoding == TextEncoding::Utf8 && text.startsWith("\xEF\xBB\xBF")) {
        s += 3; // the byte-order mark is not text
        n -= 3;
    }
    QByteArray buffer;
    qsizetype line = 0;
    forEachLine(s, n, [&](qsizetype b, qsizetype e) {
        if (beforeLine)
            beforeLine(line);
        ++line;
        harvestLine(s + b, e - b, encoding, buffer, sink);
    });
}

qsizetype countLines(QByteArrayView text)
{
    qsizetype lines = 0;
    const qsizetype bom = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    forEachLine(text.data() + bom, text.size() - bom, [&](qsizetype, qsizetype) { ++lines; });
    return lines;
}

void HarvestAddresses(const QStringList& lines, const std::function<void(const QString&)>& sink)
{
    HarvestAddresses(lines, {}, sink);
}

void HarvestAddresses(const QStringList& lines, const std::function<void(qsizetype)>& beforeLine,
                      const std::function<void(const QString&)>& sink)
{
    QByteArray buffer;
    const auto toString = [&](QByteArrayView a) { sink(QString::fromUtf8(a)); };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (beforeLine)
            beforeLine(i);
        const QByteArray bytes = lines.at(i).toUtf8();
        forEachLine(bytes.constData(), bytes.size(), [&](qsizetype b, qsizetype e) {
            harvestLine(bytes.constData() + b, e - b, TextEncoding::Utf8, buffer, toString);
        });
    }
}

} // namespace bv::lists
