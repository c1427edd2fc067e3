#include "ComposeMessage.h"

#include "MailMessage.h"
#include "MergeFields.h"
#include "MimeEncoding.h"

#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QRegularExpression>

#include <utility>

namespace bv::compose {

namespace {

void addTextPart(TIpMimeEntity& container, const QString& subtype, const QString& merged)
{
    TIpMimeEntity& part = container.addPart();
    part.setContentType(QStringLiteral("text"));
    part.setContentSubtype(subtype);
    part.setContentTransferEncoding(emQuoted);
    const QByteArray utf8 = merged.toUtf8();
    if (!isAscii(utf8))
        part.setCharset(QStringLiteral("utf-8"));
    part.encodeTextContent(utf8);
}

// The usual extensions by the table; any other file by what its content says,
// and a file that is no picture as plain bytes.
std::pair<QString, QString> attachmentType(const QString& path, const QString& name)
{
    const QString subtype = ImageSubtype(name);
    if (!subtype.isEmpty())
        return {QStringLiteral("image"), subtype};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (type.isValid() && type.name().startsWith(QLatin1String("image/")))
        return {QStringLiteral("image"), type.name().mid(6)};
    return {QStringLiteral("application"), QStringLiteral("octet-stream")};
}

void addImagePart(TIpMailMessage& message, const QString& path, const QString& contentId)
{
    TIpMimeEntity& image = message.addPart();
    image.setContentTransferEncoding(emBase64);
    const QString name = fileNamePart(path);
    const auto [type, subtype] = attachmentType(path, name);
    image.setContentType(type);
    image.setContentID(contentId);
    image.setContentSubtype(subtype + QStringLiteral("; ")
                            + QString::fromLatin1(parameter("name", name, true)));
    image.setContentDispositionType(QStringLiteral("inline"));

    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw MessageError(QStringLiteral("Cannot open file \"%1\". %2")
                               .arg(QDir::toNativeSeparators(path), file.errorString()));
    const qint64 size = file.size();
    image.setDispositionFileName(name);
    image.setSize(size);
    image.encodeContentFrom(file, size, QDir::toNativeSeparators(path));
    image.appendBodyLine(QString());
}

bool computeHtmlShowsNothing(const QString& html)
{
    if (html.contains(kImageTokenOpen))
        return false;
    static const QRegularExpression hidden(
        QStringLiteral("<!--.*?-->|<(head|style|script|title)\\b.*?</\\1\\s*>"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression visibleElement(
        QStringLiteral("<(img|hr|svg|object|embed|iframe|video|audio|canvas|input|textarea|select|"
                       "button|table|picture|math)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    static const QRegularExpression space(QStringLiteral("&(nbsp|#160|#x0*a0);"),
                                          QRegularExpression::CaseInsensitiveOption);
    QString text = html;
    text.remove(hidden);
    if (text.contains(visibleElement))
        return false;
    text.remove(tag);
    text.replace(space, QStringLiteral(" "));
    return text.trimmed().isEmpty();
}

} // namespace

bool htmlShowsNothing(const QString& html)
{
    // A mailing composes the same HTML body for every recipient: the answer
    // for the last body is kept rather than matched again each time.
    thread_local QString lastHtml;
    thread_local bool lastAnswer = true;
    if (html.isSharedWith(lastHtml) || html == lastHtml)
        return lastAnswer;
    lastAnswer = computeHtmlShowsNothing(html);
    lastHtml = html;
    return lastAnswer;
}

QString ImageSubtype(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QString();
    const QString ext = fileName.mid(dot + 1).toUpper();
    if (ext == QLatin1String("JPG") || ext == QLatin1String("JPEG"))
        return QStringLiteral("jpeg");
    if (ext == QLatin1String("GIF"))
        return QStringLiteral("gif");
    if (ext == QLatin1String("BMP"))
        return QStringLiteral("bmp");
    if (ext == QLatin1String("PNG"))
        return QStringLiteral("png");
    if (ext == QLatin1String("TIF") || ext == QLatin1String("TIFF"))
        return QStringLiteral("tiff");
    return QString();
}

void ComposeMessage(TIpMailMessage& message, const ComposeInput& input, const QString& salutation,
                    const QString& firstName, const QString& lastName)
{
    message.Clear();
    message.setFrom(input.sender);
    message.setSubject(input.subject);
    message.stamp();

    if (htmlShowsNothing(input.htmlBody)) {
        // Readers show the last alternative they can; a blank HTML part there
        // would hide the plain text.
        message.setContentType(QStringLiteral("text"));
        message.setContentSubtype(QStringLiteral("plain"));
        message.setContentTransferEncoding(emQuoted);
        const QByteArray utf8 = MergeFields(input.plainBody, salutation, firstName, lastName).toUtf8();
        if (!isAscii(utf8))
            message.setCharset(QStringLiteral("utf-8"));
        message.encodeTextContent(utf8);
        if (message.body().isEmpty())
            message.appendBodyLine(QString());
        return;
    }

    message.setContentType(QStringLiteral("multipart"));
    message.setContentSubtype(QStringLiteral("related;type=\"multipart/alternative\""));
    message.appendBodyLines({QStringLiteral("This is a multi-part message in MIME format."), QString()});

    TIpMimeEntity& alternative = message.addPart();
    alternative.setContentType(QStringLiteral("multipart"));
    alternative.setContentSubtype(QStringLiteral("alternative"));
    alternative.setContentTransferEncoding(emNone);
    alternative.appendBodyLines({QString(), QString()});

    addTextPart(alternative, QStringLiteral("plain"),
                MergeFields(input.plainBody, salutation, firstName, lastName));
    if (alternative.part(0).body().isEmpty())
        alternative.part(0).appendBodyLine(QString());

    QStringList paths;
    QStringList contentIds;
    addTextPart(alternative, QStringLiteral("html"),
                MergeFields(input.htmlBody, salutation, firstName, lastName, paths, contentIds));
    alternative.part(1).appendBodyLine(QString());

    for (qsizetype i = 0; i < paths.size(); ++i)
        addImagePart(message, paths.at(i), contentIds.at(i));
}

void ComposeErrorReport(TIpMailMessage& message, const QString& sender, const QString& recipients,
                        const QString& originalSubject, const QString& errorText)
{
    message.Clear();
    message.setFrom(sender);
    message.setMailTo({sender});
    message.setSubject(recipients + QStringLiteral("  Error: ") + errorText);
    message.stamp();
    message.appendBodyLines({QStringLiteral("Error when sending mail to: ") + recipients,
                             QStringLiteral("Original Message had Subject: ") + originalSubject,
                             QStringLiteral("Error: ") + errorText});
}

} // namespace bv::compose
