#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace bv::returned {

// What the returned-mail window shows of a stored message, and what it
// harvests from it.
struct MailFields
{
    QString from; // display name and address
    QString to;   // mailboxes joined with ", "
    QString cc;
    QString subject;
    QDateTime date; // local time; invalid when the message has none
    QString receiptTo;
    QString organization;
    int priority = 3; // 1 highest to 5 lowest
    QString body;
    QString messageId;
    // Besides the body: the text of every other text part, of delivery
    // reports, and the headers of a returned message, where a bounce names the
    // recipients that failed.
    QStringList partTexts;
};

// The fetched message parsed and written back out, as IncomingEmail keeps
// it: valid UTF-8 text with CR LF line ends. Parts of 8-bit text that is not
// UTF-8 are re-encoded, so that nothing is lost on the way into the memo; a
// message the parser cannot read is kept as it came.
QString storedMessageText(const QByteArray& fetched);

// The fields of a message text (a stored one or as fetched).
MailFields parseMessage(const QByteArray& text);
inline MailFields parseMessage(const QString& text)
{
    return parseMessage(text.toUtf8());
}

// "dd mmm yyyy hh:mm:ss", with English month names; empty for no date.
QString detailDateText(const QDateTime& date);

} // namespace bv::returned
