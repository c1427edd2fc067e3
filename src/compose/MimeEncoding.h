#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace bv::compose {

// Quoted-printable (RFC 2045) as the program writes it: words end after a blank,
// a line is ended before the word that would take it past 74 characters, a
// word longer than that is cut, "=XX" is never split, and every line the
// encoder ends itself carries a soft break. CR LF is a hard break; a CR or LF
// on its own is data and is encoded. Input may be fed in pieces.
class QuotedPrintableEncoder
{
public:
    explicit QuotedPrintableEncoder(QByteArray& out) : m_out(out) {}
    void feed(const char* data, qsizetype size);
    void feed(QByteArrayView data) { feed(data.data(), data.size()); }
    // Ends the last line. A last line without CR LF gets a soft break, so the
    // decoded data ends exactly where the input did.
    void finish();

private:
    void addRep(const char* rep, int len, bool blank);
    void flushWord();
    void hardBreak();

    QByteArray& m_out;
    char m_word[80];
    int m_wordLen = 0;
    int m_lineLen = 0;
    bool m_lineEndsBlank = false;
    bool m_pendingCr = false;
};

// Base64 (RFC 2045 alphabet, "=" padding) in lines of 76 characters, each
// ended by CR LF, the last one shorter. Input may be fed in pieces.
class Base64LineEncoder
{
public:
    explicit Base64LineEncoder(QByteArray& out) : m_out(out) {}
    void feed(const char* data, qsizetype size);
    void feed(QByteArrayView data) { feed(data.data(), data.size()); }
    void finish();
    // Output bytes for size input bytes.
    static qsizetype encodedSize(qint64 size);

private:
    void encodeLines(const unsigned char* in, qsizetype lines);

    QByteArray& m_out;
    unsigned char m_carry[57];
    int m_carryLen = 0;
};

QByteArray quotedPrintable(QByteArrayView data);
QByteArray base64Lines(QByteArrayView data);

// value in double quotes, any quote or backslash in it escaped.
QByteArray quotedString(const QString& value);

bool isAscii(QByteArrayView data);
bool isAscii(QStringView text);

// Unstructured header text as RFC 2047 encoded words ("=?utf-8?B?...?="), each
// at most 75 characters, folded onto continuation lines. ASCII text is
// returned as it stands. used: characters already on the first line.
QByteArray encodeHeaderText(const QString& text, int used = 0);
// An address text "Name <address>" (the name maybe quoted) or a bare address:
// only a non-ASCII display name is encoded; the address is kept as written.
QByteArray encodeAddressText(const QString& text, int used = 0);

} // namespace bv::compose
