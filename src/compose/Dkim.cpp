#include "Dkim.h"

#include "MailMessage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QUrl>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>

namespace bv::compose {

namespace {

// Larger than any private key file in PEM form; a bigger file is no key.
constexpr qint64 kMaxKeyFile = 64 * 1024;

struct PkeyFree
{
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CtxFree
{
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct BioFree
{
    void operator()(BIO* b) const { BIO_free(b); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, CtxFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

QString opensslReason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("unknown error");
    const char* reason = ERR_reason_error_string(code);
    return reason ? QString::fromLatin1(reason) : QStringLiteral("error %1").arg(code);
}

[[noreturn]] void keyError(const QString& path, const QString& reason)
{
    throw DkimError(QStringLiteral("The signing key \"%1\" cannot be used: %2.")
                        .arg(QDir::toNativeSeparators(path), reason));
}

// Never asks for a passphrase: a protected key fails to load instead of
// stopping the program at a terminal prompt.
int noPassphrase(char*, int, int, void*)
{
    return -1;
}

bool isWsp(char c)
{
    return c == ' ' || c == '\t';
}

// Bytes the body's canonical form acts on: blanks and line ends.
constexpr std::array<bool, 256> kActive = [] {
    std::array<bool, 256> table{};
    table[' '] = table['\t'] = table['\r'] = table['\n'] = true;
    return table;
}();

QByteArray base64(QByteArrayView bytes)
{
    return QByteArray(bytes.data(), bytes.size()).toBase64();
}

// One field of a header block: its name as written and the whole field,
// continuation lines included, lines joined by CR LF.
struct Field
{
    QByteArray name;
    QByteArray text;
};

// The fields of the header block at the start of message, up to its empty
// line; *end is set past that line, *ended tells whether there was one.
std::vector<Field> headerFields(QByteArrayView message, qsizetype* end, bool* ended = nullptr)
{
    if (ended)
        *ended = false;
    std::vector<Field> fields;
    qsizetype pos = 0;
    const qsizetype n = message.size();
    while (pos < n) {
        qsizetype eol = pos;
        while (eol < n && message[eol] != '\r' && message[eol] != '\n')
            ++eol;
        const QByteArrayView line = message.sliced(pos, eol - pos);
        qsizetype next = eol;
        if (next < n)
            next += (message[next] == '\r' && next + 1 < n && message[next + 1] == '\n') ? 2 : 1;
        pos = next;
        if (line.isEmpty()) {
            if (ended)
                *ended = next > eol;
            break;
        }
        if (isWsp(line[0]) && !fields.empty()) {
            fields.back().text += "\r\n";
            fields.back().text += line;
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        Field f;
        f.name = (colon < 0 ? line : line.first(colon)).toByteArray().trimmed();
        f.text = line.toByteArray();
        fields.push_back(std::move(f));
    }
    *end = pos;
    return fields;
}

// Signed when present (From once more, so that no second From can be added
// unnoticed). The unsubscribe fields are covered as soon as a message has them.
const char* const kSignedFields[] = {"From",          "To",           "Cc",
                                     "Reply-To",      "Subject",      "Date",
                                     "Message-ID",    "MIME-Version", "Content-Type",
                                     "List-Unsubscribe", "List-Unsubscribe-Post"};

QByteArray foldTagList(const QByteArray& names)
{
    // h= folds at its colons, which allow folding white space around them.
    QByteArray out;
    qsizetype column = 3;
    for (const QByteArray& name : names.split(':')) {
        if (!out.isEmpty()) {
            out += ':';
            ++column;
            if (column + name.size() > 76) {
                out += "\r\n\t";
                column = 1;
            }
        }
        out += name;
        column += name.size();
    }
    return out;
}

QByteArray foldBase64(const QByteArray& value, qsizetype firstColumn)
{
    QByteArray out;
    qsizetype pos = 0;
    qsizetype room = std::max<qsizetype>(76 - firstColumn, 16);
    while (pos < value.size()) {
        if (pos > 0)
            out += "\r\n\t";
        out += value.mid(pos, room);
        pos += room;
        room = 75;
    }
    return out;
}

} // namespace

struct DkimKey::Handle
{
    Pkey key;
};

DkimKey::~DkimKey() = default;

std::shared_ptr<const DkimKey> DkimKey::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        keyError(path, QStringLiteral("the file cannot be read (%1)").arg(file.errorString()));
    if (file.size() > kMaxKeyFile)
        keyError(path, QStringLiteral("the file is too large to hold a private key"));
    const QByteArray pem = file.read(kMaxKeyFile + 1);
    if (pem.size() > kMaxKeyFile)
        keyError(path, QStringLiteral("the file is too large to hold a private key"));
    const QFileInfo info(path);
    const QString selector = info.completeBaseName();
    if (!IsValidSelector(selector))
        keyError(path, QStringLiteral("\"%1\" is no valid selector name (letters, digits and "
                                      "hyphens in labels separated by dots)")
                           .arg(selector));

    ERR_clear_error();
    Bio bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    Pkey pkey(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr) : nullptr);
    if (!pkey) {
        const QString reason = opensslReason();
        if (pem.contains("ENCRYPTED"))
            keyError(path, QStringLiteral("the key is protected by a passphrase; keys for signing "
                                          "must be stored without one"));
        keyError(path, QStringLiteral("it holds no private key in PEM form (%1)").arg(reason));
    }
    auto key = std::shared_ptr<DkimKey>(new DkimKey);
    const int id = EVP_PKEY_get_base_id(pkey.get());
    if (id == EVP_PKEY_RSA) {
        key->m_kind = DkimKeyKind::Rsa;
        key->m_bits = EVP_PKEY_get_bits(pkey.get());
        if (key->m_bits < kMinRsaBits)
            keyError(path, QStringLiteral("an RSA key of %1 bits is too short; %2 bits or more "
                                          "are needed")
                               .arg(key->m_bits)
                               .arg(kMinRsaBits));
    } else if (id == EVP_PKEY_ED25519) {
        key->m_kind = DkimKeyKind::Ed25519;
        key->m_bits = 256;
    } else {
        keyError(path, QStringLiteral("a key of this type cannot sign mail (RSA or Ed25519 only)"));
    }
    key->m_key = std::make_unique<Handle>(Handle{std::move(pkey)});
    key->m_selector = selector;
    key->m_path = path;
    key->m_modified = info.lastModified();
    return key;
}

std::shared_ptr<const DkimKey> DkimKey::generateRsa(int bits, const QString& selector)
{
    ERR_clear_error();
    Pkey pkey(EVP_RSA_gen(static_cast<unsigned int>(bits)));
    if (!pkey)
        throw DkimError(QStringLiteral("A new key cannot be made: %1.").arg(opensslReason()));
    auto key = std::shared_ptr<DkimKey>(new DkimKey);
    key->m_key = std::make_unique<Handle>(Handle{std::move(pkey)});
    key->m_kind = DkimKeyKind::Rsa;
    key->m_bits = bits;
    key->m_selector = selector;
    return key;
}

QString DkimKey::kindName() const
{
    return m_kind == DkimKeyKind::Rsa ? QStringLiteral("RSA") : QStringLiteral("Ed25519");
}

QByteArray DkimKey::algorithm() const
{
    return m_kind == DkimKeyKind::Rsa ? "rsa-sha256" : "ed25519-sha256";
}

QByteArray DkimKey::privatePem() const
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || !PEM_write_bio_PrivateKey(bio.get(), m_key->key.get(), nullptr, nullptr, 0,
                                          nullptr, nullptr))
        throw DkimError(QStringLiteral("The key cannot be written: %1.").arg(opensslReason()));
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, qsizetype(size));
}

QByteArray DkimKey::publicKeyBase64() const
{
    if (m_kind == DkimKeyKind::Ed25519) {
        unsigned char raw[32];
        size_t length = sizeof raw;
        if (EVP_PKEY_get_raw_public_key(m_key->key.get(), raw, &length) != 1)
            return {};
        return base64(QByteArrayView(reinterpret_cast<const char*>(raw), qsizetype(length)));
    }
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(m_key->key.get(), &der);
    if (length <= 0)
        return {};
    const QByteArray out =
        base64(QByteArrayView(reinterpret_cast<const char*>(der), qsizetype(length)));
    OPENSSL_free(der);
    return out;
}

QByteArray DkimKey::txtRecord() const
{
    return QByteArray("v=DKIM1; k=") + (m_kind == DkimKeyKind::Rsa ? "rsa" : "ed25519") +
           "; p=" + publicKeyBase64();
}

QByteArray DkimKey::sign(QByteArrayView headerData) const
{
    ERR_clear_error();
    MdCtx ctx(EVP_MD_CTX_new());
    QByteArray signature;
    bool ok = ctx != nullptr;
    if (m_kind == DkimKeyKind::Rsa) {
        size_t length = 0;
        ok = ok &&
             EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, m_key->key.get()) ==
                 1 &&
             EVP_DigestSignUpdate(ctx.get(), headerData.data(), size_t(headerData.size())) == 1 &&
             EVP_DigestSignFinal(ctx.get(), nullptr, &length) == 1;
        if (ok) {
            signature.resize(qsizetype(length));
            ok = EVP_DigestSignFinal(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()),
                                     &length) == 1;
            signature.resize(qsizetype(length));
        }
    } else {
        // RFC 8463: Ed25519 signs the SHA-256 of the header data, not the data.
        unsigned char digest[32];
        unsigned int digestLength = 0;
        ok = ok && EVP_Digest(headerData.data(), size_t(headerData.size()), digest, &digestLength,
                              EVP_sha256(), nullptr) == 1;
        size_t length = 64;
        signature.resize(64);
        ok = ok &&
             EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, m_key->key.get()) == 1 &&
             EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                            digest, digestLength) == 1;
        signature.resize(qsizetype(length));
    }
    if (!ok)
        throw DkimError(QStringLiteral("The message cannot be signed with \"%1\": %2.")
                            .arg(QDir::toNativeSeparators(m_path), opensslReason()));
    return signature;
}

QString DkimDomain(const QString& domain)
{
    QString text = domain.trimmed();
    if (text.endsWith(u'.'))
        text.chop(1);
    if (text.isEmpty() || text.size() > 253)
        return {};
    const QString ace = QString::fromLatin1(QUrl::toAce(text, QUrl::AceTransitionalProcessing))
                            .toLower();
    if (ace.isEmpty() || ace.size() > 253)
        return {};
    const QStringList labels = ace.split(u'.');
    if (labels.size() < 2)
        return {};
    for (const QString& label : labels) {
        if (label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return {};
        for (QChar c : label)
            if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'))
                return {};
    }
    return ace;
}

QString DkimDomainOfSender(const QString& sender)
{
    const QString address = AddressOfMailbox(sender);
    const qsizetype at = address.lastIndexOf(u'@');
    if (at < 0)
        return {};
    return DkimDomain(address.mid(at + 1));
}

bool IsValidSelector(const QString& selector)
{
    if (selector.isEmpty() || selector.size() > 63)
        return false;
    for (const QString& label : selector.split(u'.')) {
        if (label.isEmpty() || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (QChar c : label)
            if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                  c == u'-'))
                return false;
    }
    return true;
}

DkimSigner::DkimSigner(QString domain, std::vector<std::shared_ptr<const DkimKey>> keys)
    : m_domain(std::move(domain)), m_keys(std::move(keys))
{
}

bool DkimSigner::signsFor(const QString& sender) const
{
    return !m_keys.empty() && !m_domain.isEmpty() && DkimDomainOfSender(sender) == m_domain;
}

QByteArray DkimSigner::fields(const QByteArray& header, const QByteArray& bodyHash,
                              qint64 unixTime) const
{
    qsizetype headerEnd = 0;
    const std::vector<Field> present = headerFields(header, &headerEnd);

    // h= names each signed field as often as it occurs; a verifier takes
    // them from the bottom up, as we do here.
    QByteArray names;
    QByteArray data;
    for (const char* signedName : kSignedFields) {
        std::vector<const Field*> found;
        for (const Field& f : present)
            if (f.name.compare(signedName, Qt::CaseInsensitive) == 0)
                found.push_back(&f);
        const size_t times = found.size() + (qstrcmp(signedName, "From") == 0 ? 1 : 0);
        for (size_t i = 0; i < times; ++i) {
            if (!names.isEmpty())
                names += ':';
            names += QByteArray(signedName).toLower();
            if (i < found.size())
                data += RelaxedHeader(found[found.size() - 1 - i]->text);
        }
    }

    QByteArray out;
    for (const auto& key : m_keys) {
        QByteArray field = "DKIM-Signature: v=1; a=" + key->algorithm() +
                           "; c=relaxed/relaxed; d=" + m_domain.toLatin1() +
                           "; s=" + key->selector().toLatin1() + ";\r\n\tt=" +
                           QByteArray::number(unixTime) + "; h=" + foldTagList(names) +
                           ";\r\n\tbh=" + bodyHash.toBase64() + ";\r\n\tb=";
        QByteArray signedData = data;
        QByteArray canonical = RelaxedHeader(field);
        canonical.chop(2); // the signature's own field goes in without its CR LF
        signedData += canonical;
        field += foldBase64(key->sign(signedData).toBase64(), 3);
        out += field + "\r\n";
    }
    return out;
}

QByteArray DkimSigner::signatureFields(QByteArrayView message, qint64 unixTime) const
{
    qsizetype bodyStart = 0;
    headerFields(message, &bodyStart);
    RelaxedBodyHash body;
    body.feed(message.sliced(bodyStart));
    return fields(message.first(bodyStart).toByteArray(), body.finish(), unixTime);
}

QByteArray DkimSigner::signatureFields(QIODevice& message, qint64 unixTime) const
{
    // Empty at the end; a read that fails throws.
    const auto nextChunk = [&message] {
        const QByteArray chunk = message.read(256 * 1024);
        if (chunk.isEmpty() && !message.atEnd())
            throw DkimError(QStringLiteral("The message cannot be read for signing: %1")
                                .arg(message.errorString()));
        return chunk;
    };
    // The header block is small; it is read whole, then the body in pieces.
    QByteArray head;
    qsizetype bodyStart = -1;
    while (bodyStart < 0) {
        const QByteArray chunk = nextChunk();
        if (chunk.isEmpty())
            break;
        head += chunk;
        qsizetype end = 0;
        bool ended = false;
        headerFields(head, &end, &ended);
        // A CR at the end of what was read may still be followed by its LF.
        if (ended && !(end == head.size() && head.endsWith('\r')))
            bodyStart = end;
    }
    if (bodyStart < 0)
        bodyStart = head.size();
    RelaxedBodyHash body;
    body.feed(QByteArrayView(head).sliced(bodyStart));
    for (QByteArray chunk = nextChunk(); !chunk.isEmpty(); chunk = nextChunk())
        body.feed(chunk);
    return fields(head.left(bodyStart), body.finish(), unixTime);
}

QByteArray RelaxedHeader(QByteArrayView field)
{
    const qsizetype colon = field.indexOf(':');
    const QByteArrayView nameView = colon < 0 ? field : field.first(colon);
    QByteArray out = nameView.toByteArray().trimmed().toLower();
    out += ':';
    bool blank = false;
    bool started = false;
    for (qsizetype i = colon < 0 ? field.size() : colon + 1; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\r' || c == '\n' || isWsp(c)) {
            // Unfolding drops the line break; the blank that follows it counts.
            if (isWsp(c))
                blank = true;
            continue;
        }
        if (blank && started)
            out += ' ';
        blank = false;
        started = true;
        out += c;
    }
    out += "\r\n";
    return out;
}

struct RelaxedBodyHash::Digest
{
    MdCtx ctx;
};

RelaxedBodyHash::RelaxedBodyHash() : m_digest(std::make_unique<Digest>())
{
    m_digest->ctx.reset(EVP_MD_CTX_new());
    if (!m_digest->ctx || EVP_DigestInit_ex(m_digest->ctx.get(), EVP_sha256(), nullptr) != 1)
        throw DkimError(QStringLiteral("SHA-256 is not available: %1.").arg(opensslReason()));
    m_out.reserve(kFlushAt + 1024);
}

RelaxedBodyHash::~RelaxedBodyHash() = default;

void RelaxedBodyHash::flush()
{
    EVP_DigestUpdate(m_digest->ctx.get(), m_out.constData(), size_t(m_out.size()));
    if (m_keep)
        m_text += m_out;
    m_out.resize(0);
}

void RelaxedBodyHash::put(QByteArrayView bytes)
{
    // Gathered, since a digest update per word would cost more than the hash.
    m_out.append(bytes);
    if (m_out.size() >= kFlushAt)
        flush();
}

void RelaxedBodyHash::feed(QByteArrayView bytes)
{
    const char* p = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        if (m_skipLf) {
            m_skipLf = false;
            if (p[i] == '\n') {
                ++i;
                continue;
            }
        }
        qsizetype k = i;
        while (k < n && p[k] != '\r' && p[k] != '\n') {
            if (isWsp(p[k])) {
                m_blank = true;
                ++k;
                continue;
            }
            const qsizetype run = k;
            while (k < n && !kActive[uchar(p[k])])
                ++k;
            // Empty lines count only once a line with text follows them; a
            // run of blanks becomes one space unless it ends the line.
            if (!m_lineStarted) {
                for (; m_emptyLines > 0; --m_emptyLines)
                    put("\r\n");
                m_lineStarted = true;
            }
            if (m_blank)
                put(" ");
            m_blank = false;
            put(QByteArrayView(p + run, k - run));
        }
        if (k == n)
            return;
        if (m_lineStarted)
            put("\r\n");
        else
            ++m_emptyLines;
        m_lineStarted = false;
        m_blank = false;
        m_skipLf = p[k] == '\r';
        i = k + 1;
    }
}

QByteArray RelaxedBodyHash::finish()
{
    if (m_lineStarted)
        put("\r\n");
    m_lineStarted = false;
    flush();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_digest->ctx.get(), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), qsizetype(length));
}

} // namespace bv::compose
