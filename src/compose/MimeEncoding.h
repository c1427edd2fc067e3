#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace bv::compose {

// Quoted-printable (RFC 2045) as the program writes it: words end after a blank,
// a line is ended before the word that would take it past 74 characters, a
// word longer than that is cut, "=XX" is never split, and every line the
// encoder ends itself carries a soft break. CR LF is a hard break. Input may be
// fed in pieces.
class QuotedPrintableEncoder
{
public:
    enum Input {
        Data,     // a CR or LF on its own is data and is encoded
        TextLines // CR, LF and CR LF all end a line, and so does the end
    };
    explicit QuotedPrintableEncoder(QByteArray& out, Input input = Data)
        : m_out(out), m_textLines(input == TextLines)
    {
    }
    void feed(const char* data, qsizetype size);
    void feed(QByteArrayView data) { feed(data.data(), data.size()); }
    // Ends the last line. For data, a last line without CR LF gets a soft
    // break, so the decoded data ends exactly where the input did.
    void finish();

private:
    // Output is written in place. Between calls the open line is held back,
    // so the caller may take the finished lines out of the buffer.
    void resume(qsizetype room);
    void suspend();
    void reserveRoom(qsizetype room);
    void softBreakBefore(qsizetype at);
    void escape(unsigned char c);
    void cutWord();
    void endWord();
    void hardBreak();

    QByteArray& m_out;
    qsizetype m_end = 0;
    qsizetype m_lineStart = 0;
    qsizetype m_wordStart = 0;
    char m_held[160]; // a line of 74 and an open word of 74
    int m_heldLen = 0;
    int m_heldWord = 0; // where the open word begins in m_held
    bool m_textLines;
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

QByteArray quotedPrintable(QByteArrayView data,
                           QuotedPrintableEncoder::Input input = QuotedPrintableEncoder::Data);
QByteArray base64Lines(QByteArrayView data);

// value in double quotes, any quote or backslash in it escaped.
QByteArray quotedString(const QString& value);
// A parameter "name=value": quoted as given for printable ASCII values, in the
// RFC 2231 form "name*=utf-8''..." otherwise, since a header carries no 8-bit
// bytes and no line breaks.
QByteArray parameter(const QByteArray& name, const QString& value, bool alwaysQuote);

bool isAscii(QByteArrayView data);
bool isAscii(QStringView text);

// Unstructured header text as RFC 2047 encoded words ("=?utf-8?B?...?="), each
// at most 75 characters, folded onto continuation lines. ASCII text is
// returned as it stands. used: characters already on the first line.
QByteArray encodeHeaderText(const QString& text, int used = 0);
// An address text "Name <address>" (the name maybe quoted) or a bare address:
// a non-ASCII display name is encoded, one holding a special (comma, full
// stop, ...) is quoted; the address is kept as written.
QByteArray encodeAddressText(const QString& text, int used = 0);

} // namespace bv::compose
