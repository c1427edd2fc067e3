#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

namespace bv::lists {

// Where ScanAddress found the address around the first "@" of a text.
// Positions count from 1 and are inclusive.
struct ScanResult
{
    bool found = false;
    qsizetype start = 0; // first character of the address, when found
    // Last character the end scan stopped on (the "@" itself when it took
    // nothing); the caller's scan goes on after it, found or not.
    qsizetype end = 0;
};

// True for the characters that end an address: codes 0-31, the blank,
// " & ' ( ) + , / : ; < = > @ \ ] and code 127. Bytes from 128 on belong to
// addresses, so UTF-8 text can be scanned byte by byte.
bool isAddressDelimiter(uint c);

// The address around the first "@" of text; positions in characters. A text
// without "@" gives not found with end at its last character.
ScanResult ScanAddress(QStringView text);
// The same over the bytes of a text; positions in bytes.
ScanResult ScanAddress(QByteArrayView text);

// Every address of the lines, upper-cased (ASCII letters only), in order.
// Line breaks inside a given line end it as well.
void HarvestAddresses(const QStringList& lines, const std::function<void(const QString&)>& sink);
// The same, calling beforeLine(i) before line i of lines is scanned.
void HarvestAddresses(const QStringList& lines, const std::function<void(qsizetype)>& beforeLine,
                      const std::function<void(const QString&)>& sink);

enum class TextEncoding { Utf8, Latin1 };

// The fast form over the raw bytes of a whole text (a mailbox file), split at
// CR LF, LF or CR; a final line break does not start another line. The sink
// gets each address upper-cased, in the text's own encoding, valid for the
// call only. The encoding says what a character is for the cut to 1000
// characters of the scanning rules.
void HarvestText(QByteArrayView text, TextEncoding encoding,
                 const std::function<void(qsizetype line)>& beforeLine,
                 const std::function<void(QByteArrayView address)>& sink);

// Lines of a text as HarvestText counts them.
qsizetype countLines(QByteArrayView text);

} // namespace bv::lists
