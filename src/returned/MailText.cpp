// GMime's glib headers clash with Qt's keywords: they come first, and this
// file is built with QT_NO_KEYWORDS.
#include <gmime/gmime.h>

#include "MailText.h"

#include "core/TextFile.h"

#include <cstring>
#include <memory>
#include <QLocale>

namespace bv::returned {

namespace {

void ensureInit()
{
    static const bool done = [] {
        g_mime_init();
        return true;
    }();
    Q_UNUSED(done);
}

struct Unref
{
    void operator()(gpointer p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <typename T> using GPtr = std::unique_ptr<T, Unref>;

QString takeString(char* text)
{
    const QString s = QString::fromUtf8(text ? text : "");
    g_free(text);
    return s;
}

bool isUtf8(const QByteArray& bytes)
{
    return bytes.isValidUtf8();
}

QString decodeBytes(QByteArrayView bytes)
{
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : decodeWindows1252(bytes);
}

// Each line on its own: a raw Latin-1 subject must not turn a UTF-8 body
// into 1252 with it.
QString decodeLines(const QByteArray& bytes)
{
    if (isUtf8(bytes))
        return QString::fromUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end + 1;
        text += decodeBytes(QByteArrayView(bytes).sliced(start, end - start));
        start = end;
    }
    return text;
}

struct ParserOptions
{
    GMimeParserOptions* options = g_mime_parser_options_new();
    ParserOptions()
    {
        // Raw 8-bit header text that is not UTF-8 reads as 1252, the
        // program's rule for 8-bit text everywhere.
        const char* charsets[] = {"UTF-8", "windows-1252", nullptr};
        g_mime_parser_options_set_fallback_charsets(options, charsets);
    }
    ~ParserOptions() { g_mime_parser_options_free(options); }
};

GMimeMessage* parse(const QByteArray& text)
{
    ensureInit();
    static const ParserOptions parserOptions;
    GPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(text.constData(), size_t(text.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    return g_mime_parser_construct_message(parser.get(), parserOptions.options);
}

QByteArray bytesOf(GMimeStream* memory)
{
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
}

// Content in its declared charset as text. Measured, never read up to a NUL:
// a report goes on after one.
QString textOf(const QByteArray& bytes, const char* charset)
{
    const QByteArray name = QByteArray(charset ? charset : "").trimmed().toLower();
    if (name.isEmpty() || name == "utf-8" || name == "utf8" || name == "us-ascii")
        return decodeBytes(bytes);
    GPtr<GMimeFilter> filter(g_mime_filter_charset_new(name.constData(), "UTF-8"));
    if (!filter)
        return decodeBytes(bytes);
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    GPtr<GMimeStream> converting(g_mime_stream_filter_new(out.get()));
    g_mime_stream_filter_add(GMIME_STREAM_FILTER(converting.get()), filter.get());
    g_mime_stream_write(converting.get(), bytes.constData(), size_t(bytes.size()));
    g_mime_stream_flush(converting.get());
    return QString::fromUtf8(bytesOf(out.get()));
}

// The decoded content of a leaf part.
QByteArray content(GMimePart* part)
{
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(wrapper, out.get());
    return bytesOf(out.get());
}

bool isType(GMimeObject* object, const char* type, const char* subtype)
{
    return g_mime_content_type_is_type(g_mime_object_get_content_type(object), type, subtype);
}

// 8-bit content that is not UTF-8 would not survive the memo: encode it.
void make7bitSafe(GMimeObject* object)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            make7bitSafe(g_mime_multipart_get_part(multipart, i));
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)))
            if (GMimeObject* body = g_mime_message_get_mime_part(inner))
                make7bitSafe(body);
    } else if (GMIME_IS_PART(object)) {
        GMimePart* part = GMIME_PART(object);
        const GMimeContentEncoding encoding = g_mime_part_get_content_encoding(part);
        if ((encoding == GMIME_CONTENT_ENCODING_DEFAULT ||
             encoding == GMIME_CONTENT_ENCODING_7BIT || encoding == GMIME_CONTENT_ENCODING_8BIT ||
             encoding == GMIME_CONTENT_ENCODING_BINARY) &&
            !isUtf8(content(part)))
            g_mime_part_set_content_encoding(part, isType(object, "text", "*")
                                                       ? GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE
                                                       : GMIME_CONTENT_ENCODING_BASE64);
    }
}

QString addresses(InternetAddressList* list)
{
    return list ? takeString(internet_address_list_to_string(list, nullptr, FALSE)) : QString();
}

QString header(GMimeObject* object, const char* name)
{
    return QString::fromUtf8(g_mime_object_get_header(object, name)).trimmed();
}

QString mailboxHeader(GMimeObject* object, const char* name)
{
    const char* value = g_mime_object_get_header(object, name);
    if (!value)
        return {};
    GPtr<InternetAddressList> list(internet_address_list_parse(nullptr, value));
    const QString text = addresses(list.get());
    return text.isEmpty() ? QString::fromUtf8(value).trimmed() : text;
}

int priorityOf(GMimeObject* object)
{
    const QString x = header(object, "X-Priority");
    if (!x.isEmpty() && x.front().isDigit())
        return qBound(1, x.front().digitValue(), 5);
    for (const char* name : {"Priority", "Importance", "X-MSMail-Priority"}) {
        const QString v = header(object, name).toLower();
        if (v == QLatin1String("urgent") || v == QLatin1String("high"))
            return 1;
        if (v == QLatin1String("non-urgent") || v == QLatin1String("low"))
            return 5;
        if (!v.isEmpty())
            return 3;
    }
    return 3;
}

QString partText(GMimeObject* object)
{
    if (!GMIME_IS_PART(object))
        return {};
    const char* charset =
        GMIME_IS_TEXT_PART(object)
            ? g_mime_content_type_get_parameter(g_mime_object_get_content_type(object), "charset")
            : nullptr;
    return textOf(content(GMIME_PART(object)), charset);
}

// The first text/plain leaf outside returned messages, else the first text leaf.
GMimeObject* findBody(GMimeObject* object, bool plainOnly)
{
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            if (GMimeObject* found = findBody(g_mime_multipart_get_part(multipart, i), plainOnly))
                return found;
        return nullptr;
    }
    if (!GMIME_IS_TEXT_PART(object) || isType(object, "text", "rfc822-headers"))
        return nullptr;
    return !plainOnly || isType(object, "text", "plain") ? object : nullptr;
}

void collectPartTexts(GMimeObject* object, GMimeObject* body, QStringList& out)
{
    if (object == body)
        return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            collectPartTexts(g_mime_multipart_get_part(multipart, i), body, out);
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        // The returned message's headers name its recipients; its body is
        // the user's own mailing and names nobody who failed.
        if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object)))
            out << takeString(g_mime_header_list_to_string(
                g_mime_object_get_header_list(GMIME_OBJECT(inner)), nullptr));
    } else if (GMIME_IS_TEXT_PART(object) || isType(object, "message", "delivery-status") ||
               isType(object, "message", "global-delivery-status") ||
               isType(object, "message", "global-headers")) {
        out << partText(object);
    }
}

} // namespace

QString storedMessageText(const QByteArray& fetched)
{
    GPtr<GMimeMessage> message(parse(fetched));
    if (!message)
        return decodeLines(fetched);
    // A part of a message that is UTF-8 throughout is UTF-8 too: parts
    // begin and end at line breaks.
    if (!isUtf8(fetched))
        if (GMimeObject* body = g_mime_message_get_mime_part(message.get()))
            make7bitSafe(body);
    GMimeFormatOptions* options = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), options, out.get());
    g_mime_format_options_free(options);
    const QByteArray written = bytesOf(out.get());
    QByteArray bytes;
    // GMime ends a multipart's preamble with a bare LF whatever the format.
    // Copied a line at a time: byte by byte costs more than the parse.
    const char* p = written.constData();
    const char* const end = p + written.size();
    bytes.reserve(end - p + 64);
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        if (!nl) {
            bytes.append(p, end - p);
            break;
        }
        bytes.append(p, nl - p);
        if (bytes.isEmpty() || bytes.back() != '\r')
            bytes += '\r';
        bytes += '\n';
        p = nl + 1;
    }
    // Raw 8-bit header bytes are the only thing left that may not be UTF-8.
    return decodeLines(bytes);
}

MailFields parseMessage(const QByteArray& text)
{
    MailFields f;
    GPtr<GMimeMessage> message(parse(text));
    if (!message)
        return f;
    GMimeObject* object = GMIME_OBJECT(message.get());
    f.from = addresses(g_mime_message_get_from(message.get()));
    f.to = addresses(g_mime_message_get_to(message.get()));
    f.cc = addresses(g_mime_message_get_cc(message.get()));
    f.subject = QString::fromUtf8(g_mime_message_get_subject(message.get()));
    if (GDateTime* date = g_mime_message_get_date(message.get()))
        f.date = QDateTime::fromSecsSinceEpoch(g_date_time_to_unix(date)).toLocalTime();
    f.receiptTo = mailboxHeader(object, "Disposition-Notification-To");
    if (f.receiptTo.isEmpty())
        f.receiptTo = mailboxHeader(object, "Return-Receipt-To");
    f.organization = header(object, "Organization");
    f.priority = priorityOf(object);
    f.messageId = header(object, "Message-ID");

    GMimeObject* root = g_mime_message_get_mime_part(message.get());
    GMimeObject* body = nullptr;
    if (root) {
        body = findBody(root, true);
        if (!body)
            body = findBody(root, false);
        collectPartTexts(root, body, f.partTexts);
    }
    if (body)
        f.body = partText(body);
    return f;
}

QString detailDateText(const QDateTime& date)
{
    return date.isValid() ? QLocale::c().toString(date, QStringLiteral("dd MMM yyyy hh:mm:ss"))
                          : QString();
}

} // namespace bv::returned
