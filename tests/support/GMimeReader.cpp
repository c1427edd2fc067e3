// GMime's glib headers clash with Qt's keywords: they come first, and this
// file is built with QT_NO_KEYWORDS.
#include <gmime/gmime.h>

#include "ParsedMessage.h"

namespace bv::test {

namespace {

QString takeString(char* text)
{
    const QString s = QString::fromUtf8(text ? text : "");
    g_free(text);
    return s;
}

QString addressText(InternetAddressList* list)
{
    if (!list)
        return QString();
    return takeString(internet_address_list_to_string(list, nullptr, FALSE));
}

ParsedEntity entity(GMimeObject* object)
{
    ParsedEntity e;
    e.type = takeString(g_mime_content_type_get_mime_type(g_mime_object_get_content_type(object)));
    e.charset = QString::fromUtf8(g_mime_object_get_content_type_parameter(object, "charset"));
    e.contentId = QString::fromUtf8(g_mime_object_get_content_id(object));
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
            e.children << entity(g_mime_multipart_get_part(multipart, i));
    } else if (GMIME_IS_PART(object)) {
        GMimePart* part = GMIME_PART(object);
        e.fileName = QString::fromUtf8(g_mime_part_get_filename(part));
        if (GMimeDataWrapper* content = g_mime_part_get_content(part)) {
            GMimeStream* out = g_mime_stream_mem_new();
            g_mime_data_wrapper_write_to_stream(content, out);
            GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out));
            e.content = QByteArray(reinterpret_cast<const char*>(bytes->data), int(bytes->len));
            g_object_unref(out);
        }
    }
    return e;
}

} // namespace

ParsedMessage readWithGMime(const QByteArray& messageText)
{
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    Q_UNUSED(initialised);

    ParsedMessage parsed;
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(messageText.constData(),
                                                            size_t(messageText.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (!message) {
        parsed.error = QStringLiteral("GMime could not construct the message");
    } else {
        parsed.from = addressText(g_mime_message_get_from(message));
        parsed.to = addressText(g_mime_message_get_to(message));
        parsed.subject = QString::fromUtf8(g_mime_message_get_subject(message));
        if (GMimeObject* body = g_mime_message_get_mime_part(message))
            parsed.root = entity(body);
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return parsed;
}

} // namespace bv::test
