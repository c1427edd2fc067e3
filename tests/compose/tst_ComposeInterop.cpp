// Every composed message is read back by two independent parsers, Python's
// email package and GMime, and each must find the same tree, texts and images.
#include "GMimeReader.h"
#include "ImageFixtures.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "compose/MergeFields.h"
#include "compose/MimeEncoding.h"
#include "core/TextFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using namespace bv::compose;
using bv::test::ParsedEntity;
using bv::test::ParsedMessage;

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

ParsedMessage readWithPython(const QString& path)
{
    ParsedMessage parsed;
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-I", QStringLiteral(BV_SOURCE_DIR "/tests/compose/check_message.py"), path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0) {
        parsed.error = "python: " + QString::fromUtf8(python.readAllStandardError())
                       + python.errorString();
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
    return bv::joinCrLf(bv::splitLines(text));
}

struct Expected
{
    QString from;
    QString to;
    QString subject;
    QByteArray plain; // the merged body's lines, CR LF after each
    QByteArray html;
    QStringList contentIds;
    QStringList fileNames;
    QList<QByteArray> images;
};

// The last CR LF of a part belongs to the boundary line that follows it.
QByteArray asDecoded(const QByteArray& lines)
{
    return lines.endsWith("\r\n") ? lines.chopped(2) : lines;
}

// Python hands text back with LF line ends, GMime as it stood: lines are
// compared, not their ends.
QByteArray lf(QByteArray text)
{
    return text.replace("\r\n", "\n");
}

QString check(const char* parser, const ParsedMessage& got, const Expected& want)
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
        if (text->charset != (isAscii(text->content) ? "" : "utf-8"))
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

} // namespace

class TestComposeInterop : public QObject
{
    Q_OBJECT
private slots:
    void composed_readBackByBothParsers_data();
    void composed_readBackByBothParsers();
    void errorReport_readBackByBothParsers();
};

void TestComposeInterop::composed_readBackByBothParsers_data()
{
    // In html and files, "@/" stands for the case's own folder.
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("firstName");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QList<QByteArray>>("contents");
    QTest::addColumn<QStringList>("contentIds");

    const QString ann = "Ann Sender <ann@example.com>";
    const QByteArray gif = bv::test::gifBytes();
    const QByteArray png = bv::test::pngBytes(40);
    const QByteArray jpeg = bv::test::jpegBytes(40);
    QVERIFY(!png.isEmpty() && !jpeg.isEmpty());

    QTest::newRow("no image") << "Hello {{-firstname-}}\r\nSee you"
                              << "<HTML><BODY><p>Hello {{-firstname-}}</p></BODY></HTML>" << ann
                              << "Offer" << "Ann" << QStringList() << QList<QByteArray>()
                              << QStringList();
    QTest::newRow("one image") << "Hi" << "<p>{{-img:@/logo.gif-}}</p>" << ann << "Offer" << "Ann"
                               << QStringList{"logo.gif"} << QList<QByteArray>{gif}
                               << QStringList{"logo.gif"};
    QTest::newRow("two images")
        << "Hi" << "{{-img:@/b.png-}} and {{-img:@/a.jpg-}}" << ann << "Offer" << "Ann"
        << QStringList{"b.png", "a.jpg"} << QList<QByteArray>{png, jpeg}
        << QStringList{"b.png", "a.jpg"};
    QTest::newRow("same image twice")
        << "Hi" << "{{-img:@/logo.gif-}}<br>{{-img:@/logo.gif-}}" << ann << "Offer" << "Ann"
        << QStringList{"logo.gif"} << QList<QByteArray>{gif} << QStringList{"logo.gif"};
    QTest::newRow("same name in two folders")
        << "Hi" << "{{-img:@/x/logo.png-}}{{-img:@/y/logo.png-}}" << ann << "Offer" << "Ann"
        << QStringList{"x/logo.png", "y/logo.png"} << QList<QByteArray>{png, jpeg}
        << QStringList{"logo.png", "2logo.png"};
    QTest::newRow("paths differing in case")
        << "Hi" << "{{-img:@/Logo.gif-}}{{-img:@/LOGO.GIF-}}" << ann << "Offer" << "Ann"
        << QStringList{"Logo.gif"} << QList<QByteArray>{gif} << QStringList{"Logo.gif"};
    QTest::newRow("empty bodies") << "" << "" << ann << "Offer" << "Ann" << QStringList()
                                  << QList<QByteArray>() << QStringList();
    QTest::newRow("200-letter line")
        << QString(200, 'x') + "\r\nend " << "<p>" + QString(200, 'y') + "</p>" << ann << "Offer"
        << "Ann" << QStringList() << QList<QByteArray>() << QStringList();
    QTest::newRow("zero-byte image")
        << "Hi" << "{{-img:@/empty.gif-}}" << ann << "Offer" << "Ann" << QStringList{"empty.gif"}
        << QList<QByteArray>{QByteArray()} << QStringList{"empty.gif"};
    QTest::newRow("file name with a space")
        << "Hi" << "{{-img:@/my logo.gif-}}" << ann << "Offer" << "Ann"
        << QStringList{"my logo.gif"} << QList<QByteArray>{gif} << QStringList{"my logo.gif"};
    QTest::newRow("non-ASCII file name")
        << "Hi" << QString::fromUtf8("{{-img:@/café \"logo\".gif-}}") << ann << "Offer" << "Ann"
        << QStringList{QString::fromUtf8("café \"logo\".gif")} << QList<QByteArray>{gif}
        << QStringList{"caf_ _logo_.gif"};
    QTest::newRow("quoted-printable specials")
        << "a=b\r\ntrailing space \r\ntab\t\r\n.dot\r\nFrom here\r\n"
               + QString("word ").repeated(40) + "\r\n\r\n"
        << "<p style=\"x\">" + QString("lang woord ").repeated(30) + "=</p>\n<p> </p>" << ann
        << "Offer" << "Ann" << QStringList() << QList<QByteArray>() << QStringList();
    QTest::newRow("non-ASCII text")
        << QString::fromUtf8("Grüße, {{-firstname-}}! ½ € 日本語\r\nÇa va?")
        << QString::fromUtf8("<p>Grüße {{-firstname-}} ") + QString::fromUtf8("é").repeated(60)
               + "</p>{{-img:@/logo.gif-}}"
        << QString::fromUtf8("Jörg Müller <joerg@example.com>")
        << QString::fromUtf8("Angebot für Sie – {{-firstname-}} ") + QString::fromUtf8("ü").repeated(50)
        << QString::fromUtf8("Zoë") << QStringList{"logo.gif"} << QList<QByteArray>{gif}
        << QStringList{"logo.gif"};
}

void TestComposeInterop::composed_readBackByBothParsers()
{
    QFETCH(QString, plain);
    QFETCH(QString, html);
    QFETCH(QString, sender);
    QFETCH(QString, subject);
    QFETCH(QString, firstName);
    QFETCH(QStringList, files);
    QFETCH(QList<QByteArray>, contents);
    QFETCH(QStringList, contentIds);

    bv::test::TempProgramFolder folder;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString path = folder.file(files[i]);
        QDir().mkpath(QFileInfo(path).path());
        QVERIFY(bv::test::writeFile(path, contents[i]));
    }
    html.replace("@/", folder.path());

    bv::test::TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, {sender, subject, plain, html}, "Ms.", firstName, "Lee");
    message.setMailTo({"Bob Example <bob@example.org>"});
    const QString path = folder.file("Preview.eml");
    message.SaveToFile(path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();

    Expected want;
    want.from = sender;
    want.to = "Bob Example <bob@example.org>";
    want.subject = subject;
    want.plain = crLfLines(MergeFields(plain, "Ms.", firstName, "Lee"));
    QStringList paths;
    QStringList ids;
    want.html = crLfLines(MergeFields(html, "Ms.", firstName, "Lee", paths, ids));
    want.contentIds = contentIds;
    for (const QString& f : files)
        want.fileNames << QFileInfo(f).fileName();
    want.images = contents;

    const QString python = check("python", readWithPython(path), want);
    QVERIFY2(python.isEmpty(), qPrintable(python));
    const QString gmime = check("gmime", bv::test::readWithGMime(text), want);
    QVERIFY2(gmime.isEmpty(), qPrintable(gmime));
}

void TestComposeInterop::errorReport_readBackByBothParsers()
{
    bv::test::TempProgramFolder folder;
    bv::test::TestClock clock;
    TIpMailMessage message(clock);
    const QString recipient = QString::fromUtf8("Zoë Lee <zoe@example.org>");
    ComposeErrorReport(message, "Ann <ann@example.com>", recipient, "Offer", "550 no such user\r\n");
    const QString path = folder.file("ERR_BVC_12_.eml");
    message.SaveToFile(path);

    const ParsedMessage py = readWithPython(path);
    QVERIFY2(py.error.isEmpty(), qPrintable(py.error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const ParsedMessage gm = bv::test::readWithGMime(file.readAll());
    for (const ParsedMessage* got : {&py, &gm}) {
        QVERIFY2(got->defects.isEmpty(), qPrintable(got->defects.join(",")));
        QCOMPARE(got->subject, recipient + "  Error: 550 no such user");
        QCOMPARE(got->root.type, QString("text/plain"));
        QCOMPARE(QString::fromUtf8(lf(got->root.content)),
                 "Error when sending mail to: " + recipient
                     + "\nOriginal Message had Subject: Offer\nError: 550 no such user\n");
    }
}

QTEST_GUILESS_MAIN(TestComposeInterop)
#include "tst_ComposeInterop.moc"
