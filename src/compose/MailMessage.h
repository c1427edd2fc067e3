#pragma once

#include "compose/MimeEntity.h"

#include <QDateTime>
#include <QStringList>

#include <functional>
#include <memory>

class QIODevice;

namespace bv::compose {

class DkimSigner;

// The message is its own top entity and adds the header fields. Fields the
// program never sets (Reply-To, In-Reply-To, ...) are not kept.
// "Wed, 09 Dec 2026 20:50:03 +0100": the date form of RFC 5322, in English
// whatever the locale.
QByteArray Rfc5322Date(const QDateTime& when);
// "<...@domain>", never the same twice; the domain is that of the address in
// sender, or the computer's name when it has none.
QString NewMessageId(const QString& sender);
// The address of a From or To text: inside its last angle brackets, or the
// whole text.
QString AddressOfMailbox(const QString& text);

class TIpMailMessage : public TIpMimeEntity
{
public:
    // sender, percentage (10, 20, ... 100), abort flag that stops encoding.
    using CodingProgress = std::function<void(TIpMailMessage& sender, int percent, bool& abort)>;

    explicit TIpMailMessage(const Clock& clock);
    ~TIpMailMessage() override;

    // Every header field, list, part, body and boundary; encoding emUnknown.
    void Clear();

    QString from() const { return m_from; }
    void setFrom(const QString& from) { m_from = from; }
    QStringList mailTo() const { return m_mailTo; }
    void setMailTo(const QStringList& to) { m_mailTo = to; }
    QStringList cc() const { return m_cc; }
    void setCc(const QStringList& cc) { m_cc = cc; }
    QStringList bcc() const { return m_bcc; }
    void setBcc(const QStringList& bcc) { m_bcc = bcc; }
    QString subject() const { return m_subject; }
    void setSubject(const QString& subject) { m_subject = subject; }
    // Date and Message-ID: written after Subject when set. stamp() sets both
    // for a new message: the clock's time and an identifier unique to this
    // message, with the sender's domain on its right.
    QDateTime date() const { return m_date; }
    void setDate(const QDateTime& date) { m_date = date; }
    QString messageId() const { return m_messageId; }
    void setMessageId(const QString& id) { m_messageId = id; }
    void stamp();

    // Complete header lines: name, colon, space, value.
    QStringList userFields() const { return m_userFields; }
    void setUserFields(const QStringList& fields) { m_userFields = fields; }

    // The OnCodingProgress event.
    void setOnCodingProgress(CodingProgress handler) { m_onCodingProgress = std::move(handler); }
    const CodingProgress& codingProgressHandler() const { return m_onCodingProgress; }

    const Clock& clock() const { return m_clock; }

    // Signs every encoding of a message from the signer's domain: the
    // DKIM-Signature fields stand first, over the text exactly as encoded.
    // Kept across Clear(), so one signer serves a whole mailing.
    void setSigner(std::shared_ptr<const DkimSigner> signer) { m_signer = std::move(signer); }
    const std::shared_ptr<const DkimSigner>& signer() const { return m_signer; }

    // The whole message text: header block, empty line, MIME tree; signed
    // when a signer for the From domain is set. Signing failures throw
    // DkimError, a MessageError.
    QByteArray Encode() const;
    // The same in out, reusing its memory.
    void Encode(QByteArray& out) const;
    // The same written to out. Throws MessageError when writing fails.
    void Encode(QIODevice& out) const;
    // The message text ready for reading from its start: in memory, or in a
    // temporary file when the parts together pass the staging threshold.
    std::unique_ptr<QIODevice> EncodeStaged() const;
    // Replaces the file at path with the message text; an earlier file stays
    // as it was when writing fails. Throws MessageError.
    void SaveToFile(const QString& path) const;

    // Bytes of all bodies in the tree.
    qint64 bodiesSize() const;

    // Memory of earlier bodies, so that composing one message after another
    // does not return large blocks to the system and fault them in again.
    QByteArray takeSpareBuffer();
    QByteArray& readBuffer() { return m_readBuffer; }

private:
    template <typename Sink> void write(Sink& sink) const;
    QByteArray headerBlock() const;
    const DkimSigner* activeSigner() const;
    void encodeUnsigned(QIODevice& out) const;

    const Clock& m_clock;
    QString m_from;
    QStringList m_mailTo;
    QStringList m_cc;
    QStringList m_bcc;
    QString m_subject;
    QDateTime m_date;
    QString m_messageId;
    QStringList m_userFields;
    std::shared_ptr<const DkimSigner> m_signer;
    CodingProgress m_onCodingProgress;
    std::vector<QByteArray> m_spareBuffers;
    QByteArray m_readBuffer;
};

} // namespace bv::compose
