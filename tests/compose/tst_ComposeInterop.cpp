// Every composed message is read back by two independent parsers, Python's
// email package and GMime, and each must find the same tree, texts and images.
#include "ImageFixtures.h"
#include "ParsedMessage.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "compose/MergeFields.h"

#include <QtTest>

using namespace bv::compose;
using bv::test::crLfLines;
using bv::test::lf;
using bv::test::ParsedMessage;

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
    QTest::newRow("paths differing in case are two files")
        << "Hi" << "{{-img:@/Logo.gif-}}{{-img:@/LOGO.GIF-}}" << ann << "Offer" << "Ann"
        << QStringList{"Logo.gif", "LOGO.GIF"} << QList<QByteArray>{gif, png}
        << QStringList{"Logo.gif", "2LOGO.GIF"};
    QTest::newRow("empty bodies") << "" << "" << ann << "Offer" << "Ann" << QStringList()
                                  << QList<QByteArray>() << QStringList();
    QTest::newRow("blank HTML goes as plain text")
        << QString::fromUtf8("Grüße {{-firstname-}}\r\nline two")
        << "<HTML>\r\n<BODY>\r\n\r\n</BODY>\r\n</HTML>" << "Smith, John <js@example.com>" << "Offer"
        << "Ann" << QStringList() << QList<QByteArray>() << QStringList();
    QTest::newRow("image of a type the table lacks")
        << "Hi" << "{{-img:@/photo.webp-}}{{-img:@/picture-}}" << ann << "Offer" << "Ann"
        << QStringList{"photo.webp", "picture"} << QList<QByteArray>{"RIFF\0\0\0\0WEBPVP8 ", png}
        << QStringList{"photo.webp", "picture"};
    QTest::newRow("line break in a file name")
        << "Hi" << "{{-img:@/evil\r\nX-Injected=yes.gif-}}" << ann << "Offer" << "Ann"
        << QStringList{"evil\r\nX-Injected=yes.gif"} << QList<QByteArray>{gif}
        << QStringList{"evil__X-Injected=yes.gif"};
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
    bv::test::ExpectedMessage want;
    // A display name holding a comma reaches the reader as one name.
    want.from = sender.startsWith("Smith, John") ? "\"Smith, John\" <js@example.com>" : sender;
    want.plainOnly = htmlShowsNothing(html);
    want.to = "Bob Example <bob@example.org>";
    want.subject = subject;
    want.plain = crLfLines(MergeFields(plain, "Ms.", firstName, "Lee"));
    if (want.plainOnly && want.plain.isEmpty())
        want.plain = "\r\n"; // an empty body is one empty line
    QStringList paths;
    QStringList ids;
    want.html = crLfLines(MergeFields(html, "Ms.", firstName, "Lee", paths, ids));
    want.contentIds = contentIds;
    for (const QString& f : files)
        want.fileNames << QFileInfo(f).fileName();
    want.images = contents;

    const QString failure = bv::test::checkWithBothParsers(path, want);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
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

    const ParsedMessage py = bv::test::readWithPython(path);
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
