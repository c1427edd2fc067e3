#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace bv::send {

// A message file of the spool folder, read back without decoding: only its
// header is parsed, for the addresses and the subject; the text itself is
// sent from the file as it stands, never held in memory whole.
class SpoolMessage
{
public:
    // Opens path and reads its header. Null with the reason in *error when
    // the file cannot be read or its header does not end.
    static std::unique_ptr<SpoolMessage> read(const QString& path, QString* error);

    // Field texts decoded for people ("Ann Smith <ann@example.com>").
    QString from() const { return m_from; }
    QStringList mailTo() const { return m_to; }
    QStringList cc() const { return m_cc; }
    QStringList bcc() const { return m_bcc; }
    QString subject() const { return m_subject; }

    // Addresses are read from the fields as stored: an encoded word is
    // display text, never part of an address.
    QString fromAddress() const { return m_fromAddress; }
    // The addresses of To, Cc and Bcc, in that order.
    QStringList recipientAddresses() const { return m_recipientAddresses; }
    // To, Cc and Bcc entries as written, for error reports.
    QStringList recipientEntries() const { return m_to + m_cc + m_bcc; }

    // The whole text ready for SMTP DATA, in pieces of bounded size: every
    // line ended by CR LF, a full stop put before a line that begins with
    // one, an empty line after a header that ends the file. The terminating
    // "." line is not included. Stops, answering false, when put does, or
    // when the file cannot be read (*error then holds the reason).
    bool writeData(const std::function<bool(QByteArrayView piece)>& put, QString* error);
    // Called after every piece writeData hands out.
    void setProgressHandler(std::function<void()> handler) { m_progress = std::move(handler); }

    // The address of one entry: inside its last angle brackets outside
    // quotes and comments, else the entry.
    static QString AddressOf(const QString& entry);
    // A header value's entries, split at commas outside quotes and brackets.
    static QStringList SplitAddressList(const QString& value);
    // RFC 2047 encoded words decoded; raw 8-bit text read as UTF-8 or 1252.
    static QString DecodeHeaderText(const QByteArray& value);

private:
    SpoolMessage() = default;

    QFile m_file;
    bool m_headerEndsFile = false;
    QString m_from;
    QString m_fromAddress;
    QStringList m_recipientAddresses;
    QStringList m_to;
    QStringList m_cc;
    QStringList m_bcc;
    QString m_subject;
    std::function<void()> m_progress;
};

} // namespace bv::send
