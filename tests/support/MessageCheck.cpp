#include "ParsedMessage.h"

#include "compose/MimeEncoding.h"
#include "core/TextFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

namespace bv::test {

namespace {

ParsedEntity fromJson(const QJsonObject& o)
{
    ParsedEntity e;
    e.type = o.value("type").toString();
    e.charset = o.value("charset").toString();
    e.contentId = o.value("cid").toString();
    e.fileName = o.value("filename").toString();
    e.content = QByteArray::fromBase64(o.value("content").toString().toLatin1());
    for (const QJsonValue& child : o.value("children").toArray())
        e.children << fromJson(child.toObject());
    return e;
}

// The last CR LF of a part belongs to the boundary line that follows it.
QByteArray asDecoded(const QByteArray& lines)
{
    return lines.endsWith("\r\n") ? lines.chopped(2) : lines;
}

} // namespace

QByteArray lf(QByteArray text)
{
    return text.replace("\r\n", "\n");
}

ParsedMessage readWithPython(const QString& path)
{
    ParsedMessage parsed;
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-I", QStringLiteral(BV_SOURCE_DIR "/tests/support/check_message.py"), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        parsed.error =
            "python: " + QString::fromUtf8(python.readAllStandardError()) + python.errorString();
        return parsed;
    }
    const QJsonObject o = QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    parsed.from = o.value("from").toString();
    parsed.to = o.value("to").toString();
    parsed.subject = o.value("subject").toString();
    parsed.root = fromJson(o.value("root").toObject());
    for (const QJsonValue& d : o.value("defects").toArray())
        parsed.defects << d.toString();
    return parsed;
}

QByteArray crLfLines(const QString& text)
{
    return joinCrLf(splitLines(text));
}

QString checkMessage(const char* parser, const ParsedMessage& got, const ExpectedMessage& want)
{
    auto fail = [&](const QString& what) { return QString("%1: %2").arg(parser, what); };
    if (!got.error.isEmpty())
        return fail(got.error);
    if (!got.defects.isEmpty())
        return fail("defects " + got.defects.join(", "));
    if (got.from != want.from)
        return fail("From " + got.from);
    if (got.to != want.to)
        return fail("To " + got.to);
    if (got.subject != want.subject)
        return fail("Subject " + got.subject);
    const ParsedEntity& root = got.root;
    if (want.plainOnly) {
        if (root.type != "text/plain" || !root.children.isEmpty())
            return fail("top " + root.type);
        // No boundary follows a message of one part: its last line break is its own.
        if (lf(root.content) != lf(want.plain))
            return fail("plain text " + QString::fromUtf8(root.content.toPercentEncoding(" ")));
        if (root.charset != (compose::isAscii(root.content) ? "" : "utf-8"))
            return fail("charset " + root.charset);
        return QString();
    }
    if (root.type != "multipart/related")
        return fail("top " + root.type);
    if (root.children.size() != 1 + want.images.size())
        return fail(QString("%1 parts in the top entity").arg(root.children.size()));
    const ParsedEntity& alt = root.children.first();
    if (alt.type != "multipart/alternative" || alt.children.size() != 2)
        return fail("container " + alt.type);
    const ParsedEntity& plain = alt.children[0];
    const ParsedEntity& html = alt.children[1];
    if (plain.type != "text/plain" || html.type != "text/html")
        return fail("text parts " + plain.type + " " + html.type);
    if (lf(plain.content) != lf(asDecoded(want.plain)))
        return fail("plain text " + QString::fromUtf8(plain.content.toPercentEncoding(" ")));
    // The HTML part ends with one more empty line than its text.
    if (lf(html.content) != lf(want.html))
        return fail("HTML text " + QString::fromUtf8(html.content.toPercentEncoding(" <>")));
    for (const ParsedEntity* text : {&plain, &html}) {
        if (text->charset != (compose::isAscii(text->content) ? "" : "utf-8"))
            return fail("charset " + text->charset);
    }
    QStringList ids;
    for (qsizetype i = 0; i < want.images.size(); ++i) {
        const ParsedEntity& image = root.children[1 + i];
        if (!image.type.startsWith("image/"))
            return fail("image type " + image.type);
        if (image.contentId != want.contentIds[i])
            return fail("content-ID " + image.contentId);
        if (image.fileName != want.fileNames[i])
            return fail("file name " + image.fileName);
        if (image.content != want.images[i])
            return fail(QString("image %1 bytes differ (%2 of %3)")
                            .arg(i)
                            .arg(image.content.size())
                            .arg(want.images[i].size()));
        ids << image.contentId;
    }
    static const QRegularExpression cid("cid:([^\"]*)\"");
    auto it = cid.globalMatch(QString::fromUtf8(html.content));
    while (it.hasNext()) {
        const QString id = it.next().captured(1);
        if (!ids.contains(id))
            return fail("cid:" + id + " has no part");
    }
    return QString();
}

QString checkWithBothParsers(const QString& path, const ExpectedMessage& want)
{
    const QString python = checkMessage("python", readWithPython(path), want);
    if (!python.isEmpty())
        return python;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "cannot read " + path;
    return checkMessage("gmime", readWithGMime(file.readAll()), want);
}

} // namespace bv::test
