#include "ComposeMessage.h"

#include "MailMessage.h"
#include "MergeFields.h"
#include "MimeEncoding.h"

#include <QDir>
#include <QFile>

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

void addImagePart(TIpMailMessage& message, const QString& path, const QString& contentId)
{
    TIpMimeEntity& image = message.addPart();
    image.setContentTransferEncoding(emBase64);
    image.setContentType(QStringLiteral("image"));
    image.setContentID(contentId);
    const QString name = fileNamePart(path);
    image.setContentSubtype(ImageSubtype(name) + QStringLiteral("; ")
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

} // namespace

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
    message.appendBodyLines({QStringLiteral("Error when sending mail to: ") + recipients,
                             QStringLiteral("Original Message had Subject: ") + originalSubject,
                             QStringLiteral("Error: ") + errorText});
}

} // namespace bv::compose
