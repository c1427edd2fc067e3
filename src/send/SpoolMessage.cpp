#include "SpoolMessage.h"

#include "core/TextFile.h"
#include "send/SmtpWire.h"

#include <QDir>
#include <QStringDecoder>

#include <optional>

namespace bv::send {

namespace {

// A header larger than this is not one the program wrote.
constexpr qint64 kMaxHeader = 1 << 20;
constexpr qint64 kPiece = 64 * 1024;

QString fileText(const QString& path)
{
    return QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(path));
}

bool isAscii(QByteArrayView bytes)
{
    for (char c : bytes)
        if (uchar(c) >= 0x80)
            return false;
    return true;
}

// The text of one encoded word "=?charset?B|Q?text?="; false when it is not
// one we can read.
bool decodeWord(QByteArrayView word, QString& out)
{
    const QList<QByteArray> parts = word.sliced(2, word.size() - 4).toByteArray().split('?');
    if (parts.size() != 3)
        return false;
    QByteArray charset = parts[0];
    const qsizetype language = charset.indexOf('*'); // RFC 2231 language suffix
    if (language >= 0)
        charset.truncate(language);
    QByteArray bytes;
    const QByteArray encoding = parts[1].toUpper();
    if (encoding == "B") {
        const auto decoded = QByteArray::fromBase64Encoding(parts[2]);
        if (!decoded)
            return false;
        bytes = *decoded;
    } else if (encoding == "Q") {
        const QByteArray& text = parts[2];
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == '_') {
                bytes += ' ';
            } else if (text[i] == '=') {
                bool ok = false;
                const int value = i + 2 < text.size() ? text.mid(i + 1, 2).toInt(&ok, 16) : 0;
                if (!ok)
                    return false;
                bytes += char(value);
                i += 2;
            } else {
                bytes += text[i];
            }
        }
    } else {
        return false;
    }
    QStringDecoder decoder(charset.constData());
    if (!decoder.isValid())
        return false;
    out = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

QString SpoolMessage::DecodeHeaderText(const QByteArray& value)
{
    if (!isAscii(value))
        return decodeText(value);
    QString out;
    qsizetype pos = 0;
    bool afterWord = false;
    while (pos < value.size()) {
        const qsizetype start = value.indexOf("=?", pos);
        qsizetype end = start < 0 ? -1 : value.indexOf("?=", start + 2);
        // The "?=" must close the word, not end its charset or encoding.
        while (end >= 0 && value.mid(start + 2, end - start - 2).count('?') < 2)
            end = value.indexOf("?=", end + 1);
        if (start < 0 || end < 0) {
            out += QString::fromLatin1(value.mid(pos));
            break;
        }
        const QByteArray between = value.mid(pos, start - pos);
        QString decoded;
        if (!decodeWord(QByteArrayView(value).sliced(start, end + 2 - start), decoded)) {
            out += QString::fromLatin1(value.mid(pos, end + 2 - pos));
            afterWord = false;
            pos = end + 2;
            continue;
        }
        // Blanks between two encoded words are not part of the text.
        if (!(afterWord && between.trimmed().isEmpty()))
            out += QString::fromLatin1(between);
        out += decoded;
        afterWord = true;
        pos = end + 2;
    }
    return out;
}

QStringList SpoolMessage::SplitAddressList(const QString& value)
{
    QStringList entries;
    QString current;
    bool quoted = false;
    int angle = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quoted && c == QLatin1Char('\\') && i + 1 < value.size()) {
            current += c;
            current += value.at(++i);
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('<'))
            ++angle;
        else if (!quoted && c == QLatin1Char('>') && angle > 0)
            --angle;
        if (c == QLatin1Char(',') && !quoted && angle == 0) {
            if (!current.trimmed().isEmpty())
                entries << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        entries << current.trimmed();
    return entries;
}

QString SpoolMessage::AddressOf(const QString& entry)
{
    return addressOfEntry(entry);
}

std::unique_ptr<SpoolMessage> SpoolMessage::read(const QString& path, QString* error)
{
    std::unique_ptr<SpoolMessage> message(new SpoolMessage);
    message->m_file.setFileName(path);
    if (!message->m_file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read the message file %1. %2")
                     .arg(fileText(path), message->m_file.errorString());
        return nullptr;
    }
    const QByteArray head = message->m_file.read(kMaxHeader);
    if (message->m_file.error() != QFileDevice::NoError) {
        *error = QStringLiteral("Cannot read the message file %1. %2")
                     .arg(fileText(path), message->m_file.errorString());
        return nullptr;
    }
    // Header lines, each folded line joined to its field.
    QList<QByteArray> fields;
    qsizetype pos = 0;
    bool ended = false;
    while (pos < head.size()) {
        qsizetype end = pos;
        while (end < head.size() && head[end] != '\r' && head[end] != '\n')
            ++end;
        if (end == head.size() && !message->m_file.atEnd())
            break; // a line cut by the size limit
        const QByteArray line = head.mid(pos, end - pos);
        if (end < head.size())
            end += (head[end] == '\r' && end + 1 < head.size() && head[end + 1] == '\n') ? 2 : 1;
        pos = end;
        if (line.isEmpty()) {
            ended = true;
            break;
        }
        if ((line.startsWith(' ') || line.startsWith('\t')) && !fields.isEmpty())
            fields.last() += line;
        else
            fields << line;
    }
    if (!ended) {
        if (!message->m_file.atEnd() || pos < head.size()) {
            *error =
                QStringLiteral("The message file %1 has no end to its header.").arg(fileText(path));
            return nullptr;
        }
        message->m_headerEndsFile = true;
    }
    auto value = [&fields](const char* name) -> std::optional<QByteArray> {
        const QByteArray prefix = QByteArray(name) + ':';
        for (const QByteArray& f : fields)
            if (f.size() >= prefix.size() &&
                qstrnicmp(f.constData(), prefix.constData(), prefix.size()) == 0)
                return f.mid(prefix.size()).trimmed();
        return std::nullopt;
    };
    auto rawEntries = [&value](const char* name) {
        const auto v = value(name);
        return v ? SplitAddressList(QString::fromLatin1(*v)) : QStringList();
    };
    auto decoded = [](const QStringList& raw) {
        QStringList out;
        for (const QString& entry : raw)
            out << DecodeHeaderText(entry.toLatin1());
        return out;
    };
    // Raw 8-bit bytes in an address are taken as UTF-8, as the composer
    // writes them.
    auto addressesOf = [](const QStringList& raw) {
        QStringList out;
        for (const QString& entry : raw) {
            const QString address = QString::fromUtf8(AddressOf(entry).toLatin1());
            if (!address.isEmpty())
                out << address;
        }
        return out;
    };
    const QStringList from = rawEntries("From");
    const QStringList to = rawEntries("To");
    const QStringList cc = rawEntries("Cc");
    const QStringList bcc = rawEntries("Bcc");
    message->m_from = from.isEmpty() ? QString() : decoded(from).first();
    message->m_fromAddress = addressesOf(from.mid(0, 1)).value(0);
    message->m_recipientAddresses = addressesOf(to + cc + bcc);
    message->m_to = decoded(to);
    message->m_cc = decoded(cc);
    message->m_bcc = decoded(bcc);
    if (const auto subject = value("Subject"))
        message->m_subject = DecodeHeaderText(*subject);
    return message;
}

bool SpoolMessage::writeData(const std::function<bool(QByteArrayView)>& put, QString* error)
{
    if (!m_file.seek(0)) {
        *error = m_file.errorString();
        return false;
    }
    QByteArray in(kPiece, Qt::Uninitialized);
    QByteArray out;
    out.reserve(kPiece + kPiece / 8);
    bool lineStart = true;
    bool afterCr = false;
    for (;;) {
        const qint64 got = m_file.read(in.data(), kPiece);
        if (got < 0) {
            *error = m_file.errorString();
            return false;
        }
        if (got == 0)
            break;
        for (qint64 i = 0; i < got; ++i) {
            const char c = in[i];
            if (afterCr) {
                afterCr = false;
                if (c == '\n')
                    continue;
            }
            if (c == '\r' || c == '\n') {
                out += "\r\n";
                lineStart = true;
                afterCr = c == '\r';
                continue;
            }
            if (lineStart && c == '.')
                out += '.';
            out += c;
            lineStart = false;
        }
        if (!put(out))
            return false;
        out.resize(0);
        if (m_progress)
            m_progress();
    }
    if (!lineStart)
        out += "\r\n";
    if (m_headerEndsFile)
        out += "\r\n";
    return out.isEmpty() || put(out);
}

} // namespace bv::send
