#pragma once

#include "compose/MimeEntity.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

class QIODevice;

// DKIM signatures (RFC 6376, relaxed/relaxed) of the program's own messages,
// so that the large mailbox providers accept them. The canonical forms and the
// header are ours; the key operations are libcrypto's.
namespace bv::compose {

// A key that cannot be used, or a signature that cannot be made. A
// MessageError, so that whatever shows composing failures shows it too.
class DkimError : public MessageError
{
public:
    using MessageError::MessageError;
};

enum class DkimKeyKind
{
    Rsa,
    Ed25519
};

// One private signing key read from its PEM file, or made anew. Immutable
// once made, so one key signs on any number of threads at once.
class DkimKey
{
public:
    struct Handle;
    ~DkimKey();

    // RSA keys shorter than this are refused: receivers ignore them.
    static constexpr int kMinRsaBits = 2048;

    // The key in the PEM file at path, its selector the file name less
    // ".pem". Throws DkimError naming the file and the reason.
    static std::shared_ptr<const DkimKey> load(const QString& path);
    // A new RSA key of bits, not yet in any file.
    static std::shared_ptr<const DkimKey> generateRsa(int bits, const QString& selector);

    DkimKeyKind kind() const { return m_kind; }
    QString kindName() const; // "RSA", "Ed25519"
    int bits() const { return m_bits; }
    QString selector() const { return m_selector; }
    QString path() const { return m_path; }
    QDateTime modified() const { return m_modified; }

    // The private key in PKCS#8 PEM form, for writing it out.
    QByteArray privatePem() const;
    // The p= value: the SubjectPublicKeyInfo of an RSA key, the 32 raw bytes
    // of an Ed25519 key, in base64.
    QByteArray publicKeyBase64() const;
    // "v=DKIM1; k=rsa; p=...": the TXT record to publish.
    QByteArray txtRecord() const;
    // "rsa-sha256" or "ed25519-sha256".
    QByteArray algorithm() const;
    // The b= bytes for the canonical header data.
    QByteArray sign(QByteArrayView headerData) const;

private:
    DkimKey() = default;

    std::unique_ptr<Handle> m_key;
    DkimKeyKind m_kind = DkimKeyKind::Rsa;
    int m_bits = 0;
    QString m_selector;
    QString m_path;
    QDateTime m_modified;
};

// The lower-case ASCII (A-label) form of a domain, or empty when it is no
// host name: what names the key folder and the d= tag.
QString DkimDomain(const QString& domain);
// The domain of the address in a From text ("Ann <ann@Example.org>").
QString DkimDomainOfSender(const QString& sender);
// Letters, digits and hyphens in dot-separated labels.
bool IsValidSelector(const QString& selector);

// The keys of one domain: one signature per key, newest kind first as
// given. Immutable; shared between the mailing and its delivery workers.
class DkimSigner
{
public:
    DkimSigner(QString domain, std::vector<std::shared_ptr<const DkimKey>> keys);

    QString domain() const { return m_domain; }
    const std::vector<std::shared_ptr<const DkimKey>>& keys() const { return m_keys; }
    // Only mail from the signer's own domain is signed: a signature of
    // another domain would not align with the From a receiver checks.
    bool signsFor(const QString& sender) const;

    // The DKIM-Signature fields for the complete message text, each ended by
    // CR LF, to stand in front of it. unixTime becomes t=.
    QByteArray signatureFields(QByteArrayView message, qint64 unixTime) const;
    // The same for a message read from its start to its end.
    QByteArray signatureFields(QIODevice& message, qint64 unixTime) const;

private:
    QByteArray fields(const QByteArray& header, const QByteArray& bodyHash, qint64 unixTime) const;

    QString m_domain;
    std::vector<std::shared_ptr<const DkimKey>> m_keys;
};

// The canonical forms, open for tests. Lines end in CR LF, a lone CR or a
// lone LF, as the SMTP wire makes CR LF of each.

// "name:value\r\n": the name in lower case, the value unfolded, runs of
// blanks made one space, blanks around the colon and at the ends gone.
QByteArray RelaxedHeader(QByteArrayView field);

// The SHA-256 of a body in relaxed form, fed in pieces of any size: blanks at
// line ends dropped, runs of blanks made one space, empty lines at the end
// dropped, CR LF after a last line that lacks it.
class RelaxedBodyHash
{
public:
    RelaxedBodyHash();
    ~RelaxedBodyHash();
    RelaxedBodyHash(const RelaxedBodyHash&) = delete;
    RelaxedBodyHash& operator=(const RelaxedBodyHash&) = delete;

    void feed(QByteArrayView bytes);
    QByteArray finish(); // the 32 digest bytes

    // The canonical text itself, for tests; empty unless asked for.
    void keepText() { m_keep = true; }
    QByteArray text() const { return m_text; }

private:
    static constexpr qsizetype kFlushAt = 16 * 1024;
    void put(QByteArrayView bytes);
    void flush();

    struct Digest;
    std::unique_ptr<Digest> m_digest;
    QByteArray m_out;          // canonical text not yet hashed
    bool m_lineStarted = false; // text of the current line is out
    bool m_blank = false;      // blanks seen since the last other byte
    bool m_skipLf = false;     // a CR ended the last line; an LF after it is its own
    qint64 m_emptyLines = 0;   // held back until a line with text follows
    bool m_keep = false;
    QByteArray m_text;
};

} // namespace bv::compose
