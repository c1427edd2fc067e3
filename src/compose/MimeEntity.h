#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <stdexcept>
#include <vector>

class QIODevice;
class QTemporaryFile;

namespace bv {
class Clock;
}

namespace bv::compose {

class TIpMailMessage;

// A failure while building, encoding or writing a message; message() is the
// text shown to the user (a file error carries the system's reason).
class MessageError : public std::runtime_error
{
public:
    explicit MessageError(const QString& message);
    QString message() const { return m_message; }

private:
    QString m_message;
};

enum TIpMimeEncodingMethod {
    em7Bit,
    em8Bit,
    emBase64,
    emBinary,
    emBinHex,
    emQuoted,
    emUUEncode,
    emUnknown,
    emNone
};

// The Content-Transfer-Encoding value; empty for emUnknown and emNone.
QByteArray encodingName(TIpMimeEncodingMethod method);

// Parts and messages above this many bytes are kept in a temporary file.
constexpr qint64 kStagingThreshold = 5 * 1024 * 1024;

// "_NextPart_" and four hex groups: days since 1899-12-30, the day's fraction
// times 10000, the uptime in ms, and a random group. A per-process counter is
// folded into the random group, so two boundaries made on the same clock
// reading still differ.
QByteArray makeBoundary(const Clock& clock);

// An entity's body: CR LF terminated lines of encoded content, in memory or,
// once staged, in a temporary file.
class MimeBody
{
public:
    MimeBody();
    ~MimeBody();
    MimeBody(const MimeBody&) = delete;
    MimeBody& operator=(const MimeBody&) = delete;

    qint64 size() const;
    bool isEmpty() const { return size() == 0; }
    bool isStaged() const { return m_file != nullptr; }
    bool endsWithLineBreak() const;
    void clear();
    // Moves the body to a temporary file; later appends go there too.
    void stage();
    void append(QByteArrayView bytes);
    // The memory buffer, for encoders writing in place; only while not staged.
    QByteArray& buffer() { return m_bytes; }
    QByteArray toByteArray() const;
    void writeTo(QIODevice& out) const;
    // Empties the body and hands over its memory buffer for reuse.
    QByteArray release();
    // Starts an empty body on a buffer handed over earlier.
    void adopt(QByteArray buffer);

private:
    QByteArray m_bytes;
    std::unique_ptr<QTemporaryFile> m_file;
    qint64 m_fileSize = 0;
    char m_last = 0;
};

class TIpMimeEntity
{
public:
    virtual ~TIpMimeEntity();
    TIpMimeEntity(const TIpMimeEntity&) = delete;
    TIpMimeEntity& operator=(const TIpMimeEntity&) = delete;

    QString contentType() const { return m_contentType; }
    void setContentType(const QString& type) { m_contentType = type; }
    // May carry further parameters ("related;type=\"multipart/alternative\"").
    QString contentSubtype() const { return m_contentSubtype; }
    void setContentSubtype(const QString& subtype) { m_contentSubtype = subtype; }
    // Written as a parameter of the type line when set.
    QString charset() const { return m_charset; }
    void setCharset(const QString& charset) { m_charset = charset; }
    TIpMimeEncodingMethod contentTransferEncoding() const { return m_encoding; }
    void setContentTransferEncoding(TIpMimeEncodingMethod m) { m_encoding = m; }
    QString contentID() const { return m_contentID; }
    void setContentID(const QString& id) { m_contentID = id; }
    QString contentDispositionType() const { return m_dispositionType; }
    void setContentDispositionType(const QString& type) { m_dispositionType = type; }
    QString dispositionFileName() const { return m_dispositionFileName; }
    void setDispositionFileName(const QString& name) { m_dispositionFileName = name; }
    // Bytes of the unencoded content; the disposition's size parameter.
    qint64 size() const { return m_size; }
    void setSize(qint64 size) { m_size = size; }
    QByteArray boundary() const { return m_boundary; }
    bool isMultipart() const;

    TIpMimeEntity* parentEntity() const { return m_parent; }
    int partCount() const { return int(m_parts.size()); }
    TIpMimeEntity& part(int index) const { return *m_parts.at(size_t(index)); }
    // A new last child; the first child gives this entity its boundary.
    TIpMimeEntity& addPart();

    const MimeBody& body() const { return m_body; }
    void clearBody() { m_body.clear(); }
    // Appends lines as they stand, each ended by CR LF.
    void appendBodyLines(const QStringList& lines);
    void appendBodyLine(const QString& line);
    // Encodes data with the entity's transfer encoding and appends it to the
    // body, reporting progress through the message. Throws MessageError when
    // the encoding is refused or the handler aborts.
    void encodeContent(QByteArrayView data);
    // The same for text: its lines, whatever ends them, are encoded as CR LF
    // lines, a CR LF after the last one.
    void encodeTextContent(QByteArrayView text);
    // The same for size bytes read from in; throws MessageError with the
    // device's reason when reading fails.
    void encodeContentFrom(QIODevice& in, qint64 size, const QString& sourceName);

    // The Content-Type value: type/subtype, charset and boundary joined by ";".
    QByteArray typeLine() const;
    QByteArray dispositionLine() const;

protected:
    TIpMimeEntity(TIpMailMessage* message, TIpMimeEntity* parent);
    void clearEntity();
    TIpMailMessage* message() const { return m_message; }
    void encodeBytes(QByteArrayView data, int input);
    // Hands the memory of every body in the tree to take, children first.
    template <typename Take> void releaseBuffers(Take&& take)
    {
        for (auto& part : m_parts)
            part->releaseBuffers(take);
        take(m_body.release());
    }

private:
    friend class TIpMailMessage;

    TIpMailMessage* m_message;
    TIpMimeEntity* m_parent;
    QString m_contentType;
    QString m_contentSubtype;
    QString m_charset;
    TIpMimeEncodingMethod m_encoding = emUnknown;
    QString m_contentID;
    QString m_dispositionType;
    QString m_dispositionFileName;
    qint64 m_size = 0;
    QByteArray m_boundary;
    MimeBody m_body;
    std::vector<std::unique_ptr<TIpMimeEntity>> m_parts;
};

} // namespace bv::compose
