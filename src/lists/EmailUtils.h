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

// Upper case as harvesting means it: the ASCII letters only.
QString upperAscii(QString text);

// Every address of the lines, upper-cased (ASCII letters only), in order.
// Line breaks inside a given line end it as well.
void HarvestAddresses(const QStringList& lines, const std::function<void(const QString&)>& sink);
// The same, calling beforeLine(i) before line i of lines is scanned.
void HarvestAddresses(const QStringList& lines, const std::function<void(qsizetype)>& beforeLine,
                      const std::function<void(const QString&)>& sink);

// Latin1: any one-byte-per-character text (the program reads such files as
// code page 1252).
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

// Progress: Pos out of Max.
using TReportStatus = std::function<void(int Pos, int Max)>;

// Moves the recipients whose addresses turn up in returned mail into the
// exclusion lists. Each operation opens its own connection xConn on the
// program folder and closes it before returning, also when a statement
// fails (the error, a bv::data::DbError, goes to the caller; what already
// ran stays applied).
class TExclude
{
public:
    explicit TExclude(QString programFolder);

    TReportStatus OnStatus;
    int DeletedRecipients = 0; // recipients removed by the last ExcludeCollected
    int NewExclusions = 0;     // exclusion rows added by the last ExcludeCollected

    // Fills BadEmail with one row per distinct (address as stored, list) of
    // the recipients whose address, ignoring letter case, is harvested from
    // lines and not in ignoreList; in listName only unless it is empty.
    // Reports OnStatus(i, lines) before line i.
    void CollectAddresses(const QString& listName, const QStringList& ignoreList,
                          const QStringList& lines);
    // Copies the collected recipients that their list does not yet exclude
    // into ExclusionList and removes every collected recipient.
    void ExcludeCollected();

    // The statement texts, in the program's dialect. Collect takes :eml.
    static QString collectStatement(const QString& listName);
    struct ExcludeStatements
    {
        QString countNew, copy, countDeleted, remove;
    };
    static ExcludeStatements excludeStatements();

private:
    void status(int pos, int max) const;

    QString m_folder;
};

} // namespace bv::lists
