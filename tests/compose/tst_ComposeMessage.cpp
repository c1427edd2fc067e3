#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "compose/MergeFields.h"
#include "compose/MimeEncoding.h"
#include "ImageFixtures.h"
#include "TempProgramFolder.h"
#include "TestClock.h"

#include <QRegularExpression>
#include <QtTest>

using namespace bv::compose;
using bv::test::TempProgramFolder;
using bv::test::TestClock;

namespace {

QByteArray crLf(const QList<QByteArray>& lines)
{
    QByteArray out;
    for (const QByteArray& line : lines)
        out += line + "\r\n";
    return out;
}

// The clock's zone offset as a Date line writes it.
QByteArray utcOffset(const TestClock& clock)
{
    return Rfc5322Date(clock.now()).right(5);
}

// The boundaries in the order they are declared.
QList<QByteArray> boundariesOf(const QByteArray& text)
{
    static const QRegularExpression re("boundary=\"([^\"]*)\"");
    QList<QByteArray> found;
    auto it = re.globalMatch(QString::fromLatin1(text));
    while (it.hasNext())
        found << it.next().captured(1).toLatin1();
    return found;
}

ComposeInput sampleInput(const QString& html)
{
    ComposeInput in;
    in.sender = "Ann Sender <ann@example.com>";
    in.subject = "Hello {{-firstname-}}";
    in.plainBody = "Hi {{-firstname-}}\r\nBye";
    in.htmlBody = html;
    return in;
}

} // namespace

class TestComposeMessage : public QObject
{
    Q_OBJECT
private slots:
    void oneImage_followsTheLineTable();
    void noImage_topClosesRightAfterTheContainer();
    void twoImages_partsInPathOrder();
    void emptyBodies_giveOneEmptyLineEach();
    void blankHtml_sendsThePlainTextAlone_data();
    void blankHtml_sendsThePlainTextAlone();
    void attachmentType_fromTheContentWhenTheTableLacksIt_data();
    void attachmentType_fromTheContentWhenTheTableLacksIt();
    void senderName_quotedWhenItHoldsSpecials_data();
    void senderName_quotedWhenItHoldsSpecials();
    void zeroByteImage_hasNoSizeAndNoContent();
    void disposition_quotesFileNamesWithSpecials_data();
    void disposition_quotesFileNamesWithSpecials();
    void imageSubtype_data();
    void imageSubtype();
    void missingOrEmptyImagePath_endsWithFileError_data();
    void missingOrEmptyImagePath_endsWithFileError();
    void boundary_formFromTheClock();
    void boundaries_alwaysDiffer();
    void composingAgain_clearsThePreviousMessage();
    void nonAsciiTexts_getCharsetAndEncodedWords();
    void headerValues_neverBreakTheHeader();
    void userFieldsAndRecipients_inTheHeader();
    void longHeaderLines_foldedOnlyPastTheTransportLimit();
    void errorReport_isAPlainMessage();
    void dateLine_rfc5322Form_data();
    void dateLine_rfc5322Form();
    void messageId_senderDomainAndUnique_data();
    void messageId_senderDomainAndUnique();
    void errorReport_nonAscii_declaresItsCharset();
    void saveToFile_writesTheEncodedText();
    void saveToFile_failure_namesThePath();
    void codingProgress_tenPercentStepsAndAbort();
    void largeImage_isStagedAndEncodesTheSame();
};

void TestComposeMessage::oneImage_followsTheLineTable()
{
    TempProgramFolder folder;
    const QString image = folder.file("logo.gif");
    QVERIFY(bv::test::writeFile(image, bv::test::gifBytes()));
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("<HTML><BODY>{{-img:" + image + "-}}</BODY></HTML>"), "Mr.",
                   "Ann", "Lee");
    message.setMailTo({"Bob <bob@example.org>"});
    message.setUserFields({"X-Mailer: Internet Professional v1.15"});
    message.setMessageId("<fixed@example.com>");

    const QByteArray text = message.Encode();
    const QList<QByteArray> b = boundariesOf(text);
    QCOMPARE(b.size(), 2);
    const QByteArray expected = crLf({
        "From: Ann Sender <ann@example.com>",
        "To: Bob <bob@example.org>",
        "Subject: Hello {{-firstname-}}",
        "Date: Tue, 08 Dec 2026 13:15:33 " + utcOffset(clock),
        "Message-ID: <fixed@example.com>",
        "X-Mailer: Internet Professional v1.15",
        "MIME-Version: 1.0",
        "Content-Type: multipart/related;type=\"multipart/alternative\";boundary=\"" + b[0] + "\"",
        "",
        "This is a multi-part message in MIME format.",
        "",
        "--" + b[0],
        "Content-Type: multipart/alternative;boundary=\"" + b[1] + "\"",
        "",
        "",
        "",
        "--" + b[1],
        "Content-Type: text/plain",
        "Content-Transfer-Encoding: quoted-printable",
        "",
        "Hi Ann",
        "Bye",
        "--" + b[1],
        "Content-Type: text/html",
        "Content-Transfer-Encoding: quoted-printable",
        "",
        "<HTML><BODY><IMG SRC=3D\"cid:logo.gif\"></BODY></HTML>",
        "",
        "--" + b[1] + "--",
        "",
        "--" + b[0],
        "Content-Type: image/gif; name=\"logo.gif\"",
        "Content-ID: <logo.gif>",
        "Content-Transfer-Encoding: base64",
        "Content-Disposition: inline;filename=logo.gif;size=43",
        "",
        bv::test::gifBytes().toBase64(),
        "",
        "--" + b[0] + "--",
        "",
    });
    QCOMPARE(text, expected);
}

void TestComposeMessage::noImage_topClosesRightAfterTheContainer()
{
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("<p>{{-lastname-}}</p>"), "", "Ann", "Lee");
    QCOMPARE(message.partCount(), 1);
    QCOMPARE(message.part(0).partCount(), 2);
    const QByteArray text = message.Encode();
    const QList<QByteArray> b = boundariesOf(text);
    QVERIFY(text.endsWith("<p>Lee</p>\r\n\r\n--" + b[1] + "--\r\n\r\n--" + b[0] + "--\r\n\r\n"));
    QVERIFY(!text.contains("To:"));
}

void TestComposeMessage::twoImages_partsInPathOrder()
{
    TempProgramFolder folder;
    QVERIFY(bv::test::writeFile(folder.file("b.png"), bv::test::pngBytes()));
    QVERIFY(bv::test::writeFile(folder.file("a.jpg"), bv::test::jpegBytes()));
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(
        message,
        sampleInput("{{-img:" + folder.file("b.png") + "-}}{{-img:" + folder.file("a.jpg") + "-}}"),
        "", "", "");
    QCOMPARE(message.partCount(), 3);
    QCOMPARE(message.part(1).contentID(), QString("<b.png>"));
    QCOMPARE(message.part(1).contentSubtype(), QString("png; name=\"b.png\""));
    QCOMPARE(message.part(2).contentID(), QString("<a.jpg>"));
    QCOMPARE(message.part(2).contentSubtype(), QString("jpeg; name=\"a.jpg\""));
    QCOMPARE(message.part(2).size(), bv::test::jpegBytes().size());
}

void TestComposeMessage::emptyBodies_giveOneEmptyLineEach()
{
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeInput in = sampleInput("<p>x</p>");
    in.plainBody.clear();
    ComposeMessage(message, in, "", "", "");
    QCOMPARE(message.part(0).part(0).body().toByteArray(), QByteArray("\r\n"));
    in.htmlBody.clear();
    ComposeMessage(message, in, "", "", "");
    QCOMPARE(message.partCount(), 0);
    QCOMPARE(message.body().toByteArray(), QByteArray("\r\n"));
}

void TestComposeMessage::blankHtml_sendsThePlainTextAlone_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("blank");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("blanks and line breaks") << " \r\n\t\r\n" << true;
    QTest::newRow("skeleton of Clear") << emptyHtmlLines().join("\r\n") << true;
    QTest::newRow("no-break spaces only") << "<p>&nbsp;&#160;</p><br>" << true;
    QTest::newRow("comment and head") << "<html><head><title>T</title><style>p{}</style></head>"
                                         "<!-- draft --><body></body></html>"
                                      << true;
    QTest::newRow("a word") << "<HTML><BODY>x</BODY></HTML>" << false;
    QTest::newRow("an entity") << "<p>&amp;</p>" << false;
    QTest::newRow("image token") << "<p>{{-img:/p/a.gif-}}</p>" << false;
    QTest::newRow("picture element") << "<p><IMG SRC=\"http://x/a.gif\"></p>" << false;
    QTest::newRow("rule") << "<hr>" << false;
}

void TestComposeMessage::blankHtml_sendsThePlainTextAlone()
{
    QFETCH(QString, html);
    QFETCH(bool, blank);
    QCOMPARE(htmlShowsNothing(html), blank);
    if (!blank)
        return;
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeInput in = sampleInput(html);
    in.plainBody = QString::fromUtf8("Hi {{-firstname-}} é");
    ComposeMessage(message, in, "", "Ann", "");
    const QByteArray text = message.Encode();
    QVERIFY2(text.contains("MIME-Version: 1.0\r\nContent-Type: text/plain;charset=\"utf-8\"\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n\r\nHi Ann =C3=A9\r\n"),
             text.constData());
    QVERIFY(!text.contains("multipart") && !text.contains("text/html"));
}

void TestComposeMessage::attachmentType_fromTheContentWhenTheTableLacksIt_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("type");
    QTest::newRow("table") << "a.gif" << bv::test::gifBytes() << "image/gif";
    QTest::newRow("other picture type")
        << "a.webp" << QByteArray("RIFF\0\0\0\0WEBPVP8 ") << "image/webp";
    QTest::newRow("no extension, PNG bytes") << "picture" << bv::test::pngBytes(4) << "image/png";
    QTest::newRow("not a picture")
        << "notes.txt" << QByteArray("hello\n") << "application/octet-stream";
}

void TestComposeMessage::attachmentType_fromTheContentWhenTheTableLacksIt()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, type);
    TempProgramFolder folder;
    QVERIFY(bv::test::writeFile(folder.file(fileName), content));
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("{{-img:" + folder.file(fileName) + "-}}"), "", "", "");
    QVERIFY(message.part(1).typeLine().startsWith((type + "; name=\"" + fileName + "\"").toUtf8()));
}

void TestComposeMessage::senderName_quotedWhenItHoldsSpecials_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QByteArray>("fromLine");
    QTest::newRow("plain name") << "Ann Sender <a@x.com>"
                                << QByteArray("From: Ann Sender <a@x.com>");
    QTest::newRow("comma") << "Smith, John <js@x.com>"
                           << QByteArray("From: \"Smith, John\" <js@x.com>");
    QTest::newRow("full stop") << "Mr. Bob <b@x.com>" << QByteArray("From: \"Mr. Bob\" <b@x.com>");
    QTest::newRow("already quoted")
        << "\"Smith, John\" <js@x.com>" << QByteArray("From: \"Smith, John\" <js@x.com>");
    QTest::newRow("inner quotes") << "Bob \"B\" Lee <b@x.com>"
                                  << QByteArray("From: \"Bob \\\"B\\\" Lee\" <b@x.com>");
    QTest::newRow("bare address") << "a@x.com" << QByteArray("From: a@x.com");
    QTest::newRow("non-ASCII with comma") << QString::fromUtf8("Zoë, Lee <z@x.com>")
                                          << QByteArray("From: =?utf-8?B?Wm/DqywgTGVl?= <z@x.com>");
}

void TestComposeMessage::senderName_quotedWhenItHoldsSpecials()
{
    QFETCH(QString, sender);
    QFETCH(QByteArray, fromLine);
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeInput in = sampleInput("x");
    in.sender = sender;
    ComposeMessage(message, in, "", "", "");
    const QByteArray text = message.Encode();
    QCOMPARE(text.left(text.indexOf("\r\n")), fromLine);
}

void TestComposeMessage::zeroByteImage_hasNoSizeAndNoContent()
{
    TempProgramFolder folder;
    QVERIFY(bv::test::writeFile(folder.file("empty.gif"), QByteArray()));
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("{{-img:" + folder.file("empty.gif") + "-}}"), "", "", "");
    const TIpMimeEntity& image = message.part(1);
    QCOMPARE(image.dispositionLine(), QByteArray("inline;filename=empty.gif"));
    QCOMPARE(image.body().toByteArray(), QByteArray("\r\n"));
}

void TestComposeMessage::disposition_quotesFileNamesWithSpecials_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("disposition");
    QTest::addColumn<QString>("nameParameter"); // of the Content-Type line

    QTest::newRow("bare") << "logo.gif" << QByteArray("inline;filename=logo.gif;size=43")
                          << "name=\"logo.gif\"";
    QTest::newRow("space") << "my logo.gif" << QByteArray("inline;filename=\"my logo.gif\";size=43")
                           << "name=\"my logo.gif\"";
    for (const char* special : {"(", ")", "<", ">", "@", ",", ";", "[", "]", "?", "=", "\""}) {
        const QString name = QString("a%1b.gif").arg(special);
        const QByteArray quoted = QString(name).replace("\"", "\\\"").toLatin1();
        QTest::newRow(special) << name << "inline;filename=\"" + quoted + "\";size=43"
                               << "name=\"" + QString::fromLatin1(quoted) + "\"";
    }
    QTest::newRow("line break in RFC 2231 form")
        << "a\r\nX-Evil=1.gif"
        << QByteArray("inline;filename*=utf-8''a%0D%0AX-Evil%3D1.gif;size=43")
        << "name*=utf-8''a%0D%0AX-Evil%3D1.gif";
    QTest::newRow("non-ASCII in RFC 2231 form")
        << QString::fromUtf8("café 1.gif")
        << QByteArray("inline;filename*=utf-8''caf%C3%A9%201.gif;size=43")
        << "name*=utf-8''caf%C3%A9%201.gif";
}

void TestComposeMessage::disposition_quotesFileNamesWithSpecials()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, disposition);
    QFETCH(QString, nameParameter);
    TempProgramFolder folder;
    QVERIFY(bv::test::writeFile(folder.file(fileName), bv::test::gifBytes()));
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("{{-img:" + folder.file(fileName) + "-}}"), "", "", "");
    QCOMPARE(message.part(1).dispositionLine(), disposition);
    QCOMPARE(message.part(1).contentSubtype(), "gif; " + nameParameter);
}

void TestComposeMessage::imageSubtype_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("subtype");
    QTest::newRow("jpg") << "a.jpg"
                         << "jpeg";
    QTest::newRow("JPEG upper") << "logo.JPEG"
                                << "jpeg";
    QTest::newRow("gif") << "a.Gif"
                         << "gif";
    QTest::newRow("bmp") << "a.bmp"
                         << "bmp";
    QTest::newRow("last dot counts") << "my.logo.png"
                                     << "png";
    QTest::newRow("tif") << "a.tif"
                         << "tiff";
    QTest::newRow("tiff") << "a.TIFF"
                          << "tiff";
    QTest::newRow("no extension") << "logo"
                                  << "";
    QTest::newRow("unknown") << "a.svg"
                             << "";
    QTest::newRow("trailing dot") << "a."
                                  << "";
}

void TestComposeMessage::imageSubtype()
{
    QFETCH(QString, fileName);
    QFETCH(QString, subtype);
    QCOMPARE(ImageSubtype(fileName), subtype);
}

void TestComposeMessage::missingOrEmptyImagePath_endsWithFileError_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing file") << "/nonexistent-folder/logo.gif";
    QTest::newRow("empty path") << "";
}

void TestComposeMessage::missingOrEmptyImagePath_endsWithFileError()
{
    QFETCH(QString, path);
    TestClock clock;
    TIpMailMessage message(clock);
    try {
        ComposeMessage(message, sampleInput("{{-img:" + path + "-}}"), "", "", "");
        QFAIL("an unreadable image must end composing");
    } catch (const MessageError& e) {
        QVERIFY2(e.message().startsWith("Cannot open file \"" + path + "\"."),
                 qPrintable(e.message()));
    }
}

void TestComposeMessage::boundary_formFromTheClock()
{
    TestClock clock(QDateTime(QDate(2026, 12, 8), QTime(12, 0, 0)));
    const QByteArray b = makeBoundary(clock);
    QCOMPARE(b.size(), 41);
    // 2026-12-08 is day 46364 after 1899-12-30; noon is 5000/10000 of a day.
    QVERIFY2(b.startsWith("_NextPart_0000B51C-00001388-075BCD15-"), b.constData());
    QVERIFY(QRegularExpression("^[0-9A-F]{4}$").match(QString::fromLatin1(b.right(4))).hasMatch());
    QVERIFY(b.right(4).toInt(nullptr, 16) <= 65534);
}

void TestComposeMessage::boundaries_alwaysDiffer()
{
    // The test clock stands still, so only the random group can tell them apart.
    TestClock clock;
    TIpMailMessage message(clock);
    QSet<QByteArray> seen;
    for (int i = 0; i < 500; ++i) {
        ComposeMessage(message, sampleInput("x"), "", "", "");
        const QList<QByteArray> b = boundariesOf(message.Encode());
        QCOMPARE(b.size(), 2);
        QVERIFY(b[0] != b[1]);
        QVERIFY(!seen.contains(b[0]) && !seen.contains(b[1]));
        seen << b[0] << b[1];
    }
}

void TestComposeMessage::composingAgain_clearsThePreviousMessage()
{
    TempProgramFolder folder;
    QVERIFY(bv::test::writeFile(folder.file("a.gif"), bv::test::gifBytes()));
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("{{-img:" + folder.file("a.gif") + "-}}"), "", "Ann", "");
    message.setMailTo({"a@example.com"});
    message.setCc({"c@example.com"});
    message.setBcc({"b@example.com"});
    message.setUserFields({"X-Mailer: x"});
    ComposeMessage(message, sampleInput("plain"), "", "Bob", "");
    QCOMPARE(message.partCount(), 1);
    QVERIFY(message.mailTo().isEmpty());
    QVERIFY(message.cc().isEmpty());
    QVERIFY(message.bcc().isEmpty());
    QVERIFY(message.userFields().isEmpty());
    const QByteArray text = message.Encode();
    QVERIFY(text.contains("Hi Bob\r\n"));
    // Nothing of the first recipient's message: only the From line names Ann.
    QCOMPARE(text.count("Ann"), qsizetype(1));
    QVERIFY(!text.contains("a.gif"));

    message.Clear();
    QCOMPARE(message.Encode(), QByteArray("\r\n"));
    QCOMPARE(message.contentTransferEncoding(), emUnknown);
    QVERIFY(message.boundary().isEmpty());
}

void TestComposeMessage::nonAsciiTexts_getCharsetAndEncodedWords()
{
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeInput in = sampleInput("<p>Grüße {{-firstname-}}</p>");
    in.plainBody = "Hello";
    in.sender = "Jörg Müller <j@example.com>";
    in.subject = "Café";
    ComposeMessage(message, in, "", "Zoë", "");
    const QByteArray text = message.Encode();
    QVERIFY(text.contains("From: =?utf-8?B?SsO2cmcgTcO8bGxlcg==?= <j@example.com>\r\n"));
    QVERIFY(text.contains("Subject: =?utf-8?B?Q2Fmw6k=?=\r\n"));
    QVERIFY(text.contains("Content-Type: text/plain\r\n"));
    QVERIFY(isAscii(text));
    QCOMPARE(message.part(0).part(0).charset(), QString());
    QCOMPARE(message.part(0).part(1).charset(), QString("utf-8"));
    QVERIFY(text.contains("Content-Type: text/html;charset=\"utf-8\"\r\n"));
    QVERIFY(text.contains("<p>Gr=C3=BC=C3=9Fe Zo=C3=AB</p>"));
}

void TestComposeMessage::headerValues_neverBreakTheHeader()
{
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeErrorReport(message, "Ann <ann@example.com>", "Bob <bob@example.org>", "Offer",
                       "550 no such user\r\n550 really\r\n");
    const QByteArray text = message.Encode();
    const qsizetype headerEnd = text.indexOf("\r\n\r\n");
    const QByteArray header = text.left(headerEnd + 2);
    QCOMPARE(header.count("\r\n"), 5);
    QVERIFY(
        header.contains("Subject: Bob <bob@example.org>  Error: 550 no such user 550 really\r\n"));
    QVERIFY(!text.contains("\n\n") && !text.contains("\r\r"));
}

void TestComposeMessage::userFieldsAndRecipients_inTheHeader()
{
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("x"), "", "", "");
    message.setMailTo({"a@example.com", "\"B\" <b@example.com>"});
    message.setUserFields({"X-Mailer: Internet Professional v1.15"});
    message.setMessageId("<fixed@example.com>");
    const QByteArray text = message.Encode();
    QVERIFY(text.startsWith("From: Ann Sender <ann@example.com>\r\n"
                            "To: a@example.com,\r\n\t\"B\" <b@example.com>\r\n"
                            "Subject: Hello {{-firstname-}}\r\n"
                            "Date: Tue, 08 Dec 2026 13:15:33 " +
                            utcOffset(clock) +
                            "\r\n"
                            "Message-ID: <fixed@example.com>\r\n"
                            "X-Mailer: Internet Professional v1.15\r\n"
                            "MIME-Version: 1.0\r\n"));
}

void TestComposeMessage::longHeaderLines_foldedOnlyPastTheTransportLimit()
{
    TestClock clock;
    TIpMailMessage message(clock);
    const QString subject = QString("word ").repeated(300).trimmed();
    QStringList recipients;
    for (int i = 0; i < 100; ++i)
        recipients << QString("Recipient %1 <r%1@example.org>").arg(i);
    message.setSubject(subject);
    message.setMailTo(recipients);
    const QByteArray text = message.Encode();
    const QByteArray header = text.left(text.indexOf("\r\n\r\n") + 2);
    for (const QByteArray& line : header.split('\n'))
        QVERIFY(line.size() <= 999);
    // Unfolding gives back the subject; the recipient list keeps its own lines.
    QByteArray unfolded = header;
    unfolded.replace("\r\n ", " ");
    QVERIFY(unfolded.contains("Subject: " + subject.toLatin1() + "\r\n"));
    QVERIFY(header.contains("Recipient 0 <r0@example.org>,\r\n\tRecipient 1 <r1@example.org>,"));
    QCOMPARE(header.count("\r\n\t"), 99);
}

void TestComposeMessage::errorReport_isAPlainMessage()
{
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeErrorReport(message, "Ann <ann@example.com>", "Bob <bob@example.org>", "Offer",
                       "Timeout Sending Mail");
    message.setMessageId("<fixed@example.com>");
    QCOMPARE(message.Encode(),
             crLf({"From: Ann <ann@example.com>", "To: Ann <ann@example.com>",
                   "Subject: Bob <bob@example.org>  Error: Timeout Sending Mail",
                   "Date: Tue, 08 Dec 2026 13:15:33 " + utcOffset(clock),
                   "Message-ID: <fixed@example.com>", "",
                   "Error when sending mail to: Bob <bob@example.org>",
                   "Original Message had Subject: Offer", "Error: Timeout Sending Mail"}));
}

void TestComposeMessage::dateLine_rfc5322Form_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("utc") << QDateTime(QDate(2026, 12, 9), QTime(20, 5, 3), Qt::UTC)
                         << QByteArray("Wed, 09 Dec 2026 20:05:03 +0000");
    QTest::newRow("east") << QDateTime(QDate(2026, 1, 4), QTime(0, 0, 9), Qt::OffsetFromUTC, 19800)
                          << QByteArray("Sun, 04 Jan 2026 00:00:09 +0530");
    QTest::newRow("west") << QDateTime(QDate(2027, 7, 31), QTime(23, 59, 59), Qt::OffsetFromUTC,
                                       -34200)
                          << QByteArray("Sat, 31 Jul 2027 23:59:59 -0930");
}

// English names and a numeric zone whatever the locale; a reader that gets
// a local day name or a named zone drops the date.
void TestComposeMessage::dateLine_rfc5322Form()
{
    QFETCH(QDateTime, when);
    QFETCH(QByteArray, expected);
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German));
    const QByteArray got = Rfc5322Date(when);
    QLocale::setDefault(saved);
    QCOMPARE(got, expected);
}

void TestComposeMessage::messageId_senderDomainAndUnique_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("domain");
    QTest::newRow("name and address") << "Ann <ann@Example.COM>"
                                      << "example.com";
    QTest::newRow("bare address") << "ann@mail.example.org"
                                  << "mail.example.org";
    QTest::newRow("international") << "Jörg <j@bücher.de>"
                                   << "xn--bcher-kva.de";
    QTest::newRow("header injection") << "x <a@evil.com>\r\nBcc: v@x.com"
                                      << "evil.com";
    QTest::newRow("no address") << "Ann"
                                << "";
    QTest::newRow("empty") << ""
                           << "";
}

void TestComposeMessage::messageId_senderDomainAndUnique()
{
    QFETCH(QString, sender);
    QFETCH(QString, domain);
    static const QRegularExpression form("^<[0-9a-z]+\\.[0-9a-z]+\\.[0-9a-f]{16}@([a-z0-9.-]+)>$");
    QSet<QString> seen;
    for (int i = 0; i < 2000; ++i) {
        const QString id = NewMessageId(sender);
        const auto m = form.match(id);
        QVERIFY2(m.hasMatch(), qPrintable(id));
        if (!domain.isEmpty())
            QCOMPARE(m.captured(1), domain);
        QVERIFY(!m.captured(1).isEmpty());
        seen.insert(id);
    }
    QCOMPARE(seen.size(), 2000);
}

void TestComposeMessage::errorReport_nonAscii_declaresItsCharset()
{
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeErrorReport(message, "Ann <ann@example.com>", "Zoë <z@example.org>", "Offer", "550");
    const QByteArray text = message.Encode();
    QVERIFY(isAscii(text));
    QVERIFY(text.contains("Subject: =?utf-8?B?"));
    QVERIFY(text.contains("\r\nMIME-Version: 1.0\r\nContent-Type: text/plain;charset=\"utf-8\"\r\n"
                          "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                          "Error when sending mail to: Zo=C3=AB <z@example.org>\r\n"));
}

void TestComposeMessage::saveToFile_writesTheEncodedText()
{
    TempProgramFolder folder;
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("x"), "", "", "");
    const QString path = folder.file("Preview.eml");
    QVERIFY(bv::test::writeFile(path, QByteArray(100000, 'o')));
    message.SaveToFile(path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), message.Encode());
}

void TestComposeMessage::saveToFile_failure_namesThePath()
{
    TempProgramFolder folder;
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("x"), "", "", "");
    QVERIFY(bv::test::writeFile(folder.file("plain-file"), "old"));
    const QString path = folder.file("plain-file/BVC_1_.eml");
    try {
        message.SaveToFile(path);
        QFAIL("writing below a file must fail");
    } catch (const MessageError& e) {
        QVERIFY2(e.message().startsWith("Cannot create file \"" + path + "\"."),
                 qPrintable(e.message()));
    }
    QFile file(folder.file("plain-file"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old"));
}

void TestComposeMessage::codingProgress_tenPercentStepsAndAbort()
{
    TempProgramFolder folder;
    QVERIFY(bv::test::writeFile(folder.file("a.gif"), QByteArray(1000, 'g')));
    TestClock clock;
    TIpMailMessage message(clock);
    QList<int> steps;
    message.setOnCodingProgress([&](TIpMailMessage& sender, int percent, bool&) {
        QCOMPARE(&sender, &message);
        steps << percent;
    });
    ComposeMessage(message, sampleInput("{{-img:" + folder.file("a.gif") + "-}}"), "", "", "");
    const QList<int> tens{10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
    QCOMPARE(steps, tens + tens + tens); // plain, HTML, image

    // Reporting in steps must not change what is encoded.
    TIpMailMessage quiet(clock);
    ComposeMessage(quiet, sampleInput("{{-img:" + folder.file("a.gif") + "-}}"), "", "", "");
    QCOMPARE(quiet.part(1).body().toByteArray(), message.part(1).body().toByteArray());
    QCOMPARE(quiet.part(0).part(1).body().toByteArray(),
             message.part(0).part(1).body().toByteArray());

    steps.clear();
    message.setOnCodingProgress([&](TIpMailMessage&, int percent, bool& abort) {
        steps << percent;
        abort = percent == 30;
    });
    QVERIFY_THROWS_EXCEPTION(MessageError, ComposeMessage(message, sampleInput("x"), "", "", ""));
    QCOMPARE(steps, (QList<int>{10, 20, 30}));
}

void TestComposeMessage::largeImage_isStagedAndEncodesTheSame()
{
    TempProgramFolder folder;
    QByteArray big(int(kStagingThreshold) + 1000, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 131) >> 3);
    QVERIFY(bv::test::writeFile(folder.file("big.bmp"), big));
    TestClock clock;
    TIpMailMessage message(clock);
    ComposeMessage(message, sampleInput("{{-img:" + folder.file("big.bmp") + "-}}"), "", "", "");
    const TIpMimeEntity& image = message.part(1);
    QVERIFY(image.body().isStaged());
    QVERIFY(!message.part(0).part(1).body().isStaged());
    QCOMPARE(image.body().toByteArray(), base64Lines(big) + "\r\n");

    const QByteArray inMemory = message.Encode();
    std::unique_ptr<QIODevice> staged = message.EncodeStaged();
    QVERIFY(qobject_cast<QTemporaryFile*>(staged.get()));
    QCOMPARE(staged->readAll(), inMemory);

    ComposeMessage(message, sampleInput("small"), "", "", "");
    staged = message.EncodeStaged();
    QVERIFY(qobject_cast<QBuffer*>(staged.get()));
    QCOMPARE(staged->readAll(), message.Encode());
}

QTEST_GUILESS_MAIN(TestComposeMessage)
#include "tst_ComposeMessage.moc"
