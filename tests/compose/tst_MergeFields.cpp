#include "compose/MergeFields.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace bv::compose;

class TestMergeFields : public QObject
{
    Q_OBJECT
private slots:
    void names_data();
    void names();
    void images_data();
    void images();
    void recipientValues_neverBecomeImages_data();
    void recipientValues_neverBecomeImages();
    void unterminatedImageToken_leftAsTyped_data();
    void unterminatedImageToken_leftAsTyped();
    void preview_data();
    void preview();
    void insertTexts();
    void expletive_isSpaceAndOneOfTheWords();
};

void TestMergeFields::names_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("salutation");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("merged");

    QTest::newRow("all three")
        << "Dear {{-salutation-}} {{-firstname-}} {{-lastname-}}," << "Ms." << "Ann" << "Lee"
        << "Dear Ms. Ann Lee,";
    QTest::newRow("only the first occurrence")
        << "{{-firstname-}} and {{-firstname-}}" << "" << "Ann" << ""
        << "Ann and {{-firstname-}}";
    QTest::newRow("capitals are not a token")
        << "{{-FirstName-}}" << "" << "Ann" << "" << "{{-FirstName-}}";
    QTest::newRow("spaces inside are not a token")
        << "{{ -firstname- }}" << "" << "Ann" << "" << "{{ -firstname- }}";
    QTest::newRow("empty value keeps the spaces")
        << "{{-salutation-}} {{-lastname-}}" << "" << "" << "Smith" << " Smith";
    QTest::newRow("first name holding the last-name token")
        << "{{-firstname-}}" << "" << "A{{-lastname-}}" << "Lee" << "ALee";
    QTest::newRow("last name holding the first-name token")
        << "{{-lastname-}}" << "" << "Ann" << "L{{-firstname-}}" << "L{{-firstname-}}";
    QTest::newRow("nothing is escaped")
        << "<b>{{-firstname-}}</b>" << "" << "<i>&" << "" << "<b><i>&</b>";
    QTest::newRow("image token stays in the plain body")
        << "see {{-img:/tmp/logo.gif-}}" << "" << "" << "" << "see {{-img:/tmp/logo.gif-}}";
}

void TestMergeFields::names()
{
    QFETCH(QString, text);
    QFETCH(QString, salutation);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, merged);
    QCOMPARE(MergeFields(text, salutation, first, last), merged);
}

void TestMergeFields::images_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("merged");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("contentIds");

    QTest::newRow("no image")
        << "<p>{{-firstname-}}</p>" << "<p>Ann</p>" << QStringList() << QStringList();
    QTest::newRow("one image")
        << "a{{-img:/pics/logo.gif-}}b" << "a<IMG SRC=\"cid:logo.gif\">b"
        << QStringList{"/pics/logo.gif"} << QStringList{"<logo.gif>"};
    QTest::newRow("same token twice")
        << "{{-img:/p/logo.gif-}}|{{-img:/p/logo.gif-}}"
        << "<IMG SRC=\"cid:logo.gif\">|<IMG SRC=\"cid:logo.gif\">" << QStringList{"/p/logo.gif"}
        << QStringList{"<logo.gif>"};
    QTest::newRow("same file name in three folders")
        << "{{-img:/a/logo.gif-}}{{-img:/b/logo.gif-}}{{-img:C:\\c\\logo.gif-}}"
        << "<IMG SRC=\"cid:logo.gif\"><IMG SRC=\"cid:2logo.gif\"><IMG SRC=\"cid:3logo.gif\">"
        << QStringList{"/a/logo.gif", "/b/logo.gif", "C:\\c\\logo.gif"}
        << QStringList{"<logo.gif>", "<2logo.gif>", "<3logo.gif>"};
    QTest::newRow("paths differing in case are two files")
        << "{{-img:/p/Logo.gif-}}{{-img:/P/LOGO.GIF-}}{{-img:/p/Logo.gif-}}"
        << "<IMG SRC=\"cid:Logo.gif\"><IMG SRC=\"cid:2LOGO.GIF\"><IMG SRC=\"cid:Logo.gif\">"
        << QStringList{"/p/Logo.gif", "/P/LOGO.GIF"} << QStringList{"<Logo.gif>", "<2LOGO.GIF>"};
    QTest::newRow("names differing in case are numbered")
        << "{{-img:/a/Logo.gif-}}{{-img:/b/logo.gif-}}"
        << "<IMG SRC=\"cid:Logo.gif\"><IMG SRC=\"cid:2logo.gif\">"
        << QStringList{"/a/Logo.gif", "/b/logo.gif"} << QStringList{"<Logo.gif>", "<2logo.gif>"};
    QTest::newRow("name after colon") << "{{-img:C:logo.bmp-}}" << "<IMG SRC=\"cid:logo.bmp\">"
                                      << QStringList{"C:logo.bmp"} << QStringList{"<logo.bmp>"};
    QTest::newRow("content-ID keeps to plain characters")
        << QString::fromUtf8("{{-img:/p/café \"1\".gif-}}") << "<IMG SRC=\"cid:caf_ _1_.gif\">"
        << QStringList{QString::fromUtf8("/p/café \"1\".gif")} << QStringList{"<caf_ _1_.gif>"};
    QTest::newRow("empty path") << "{{-img:-}}" << "<IMG SRC=\"cid:\">" << QStringList{""}
                                << QStringList{"<>"};
    // The path is the message's own text; a recipient's name never goes into it.
    QTest::newRow("name token inside a path stays path text")
        << "{{-img:/p/{{-firstname-}}.gif-}}" << "<IMG SRC=\"cid:{{-firstname\">.gif-}}"
        << QStringList{"/p/{{-firstname"} << QStringList{"<{{-firstname>"};
}

void TestMergeFields::recipientValues_neverBecomeImages_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("salutation");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("merged");
    const QString key = "{{-img:/home/user/.ssh/id_rsa-}}";
    QTest::newRow("first name") << "Hi {{-firstname-}}" << "" << key << "" << "Hi " + key;
    QTest::newRow("last name beside a real image")
        << "{{-lastname-}}{{-img:/p/a.gif-}}" << "" << "" << key << key + "<IMG SRC=\"cid:a.gif\">";
    QTest::newRow("token split across two values")
        << "{{-salutation-}}{{-firstname-}}" << "{{-img:/etc/" << "passwd-}}" << ""
        << "{{-img:/etc/passwd-}}";
    QTest::newRow("value opens a token the text closes")
        << "{{-firstname-}}-}}" << "" << "{{-img:/etc/passwd" << "" << "{{-img:/etc/passwd-}}";
}

void TestMergeFields::recipientValues_neverBecomeImages()
{
    QFETCH(QString, html);
    QFETCH(QString, salutation);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(QString, merged);
    QStringList paths;
    QStringList ids;
    QCOMPARE(MergeFields(html, salutation, first, last, paths, ids), merged);
    QCOMPARE(paths, merged.contains("a.gif") ? QStringList{"/p/a.gif"} : QStringList());
}

void TestMergeFields::images()
{
    QFETCH(QString, html);
    QFETCH(QString, merged);
    QFETCH(QStringList, paths);
    QFETCH(QStringList, contentIds);
    QStringList gotPaths;
    QStringList gotIds;
    QCOMPARE(MergeFields(html, "", "Ann", "", gotPaths, gotIds), merged);
    QCOMPARE(gotPaths, paths);
    QCOMPARE(gotIds, contentIds);
}

void TestMergeFields::unterminatedImageToken_leftAsTyped_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("merged");
    QTest::addColumn<int>("images");

    QTest::newRow("at the end") << "text {{-img:" << "text {{-img:" << 0;
    QTest::newRow("with a path") << "{{-img:/a.gif" << "{{-img:/a.gif" << 0;
    QTest::newRow("after a complete one")
        << "{{-img:/a.gif-}} {{-img:/b.gif" << "<IMG SRC=\"cid:a.gif\"> {{-img:/b.gif" << 1;
}

void TestMergeFields::unterminatedImageToken_leftAsTyped()
{
    QFETCH(QString, html);
    QFETCH(QString, merged);
    QFETCH(int, images);
    QStringList paths;
    QStringList ids;
    QCOMPARE(MergeFields(html, "", "", "", paths, ids), merged);
    QCOMPARE(paths.size(), images);
    QCOMPARE(ids.size(), images);
    QCOMPARE(RenderPreview(html).count("{{-img:"), html.count("{{-img:") - images);
}

void TestMergeFields::preview_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("rendered");

    QTest::newRow("sample names")
        << "{{-salutation-}} {{-firstname-}} {{-lastname-}} {{-firstname-}}"
        << "Mr. Tobias Wrenfield {{-firstname-}}";
    QTest::newRow("windows path turns only its first backslash")
        << "{{-img:C:\\Images\\Logo.gif-}}" << "<IMG SRC=\"file:///C:/Images\\Logo.gif\">";
    QTest::newRow("local path is a proper file URL")
        << "{{-img:/home/ann/my logo.gif-}}"
        << "<IMG SRC=\"file:///home/ann/my%20logo.gif\">";
    QTest::newRow("every occurrence")
        << "{{-img:/a.gif-}}{{-img:/a.gif-}}"
        << "<IMG SRC=\"file:///a.gif\"><IMG SRC=\"file:///a.gif\">";
}

void TestMergeFields::preview()
{
    QFETCH(QString, html);
    QFETCH(QString, rendered);
    QCOMPARE(RenderPreview(html), rendered);
}

void TestMergeFields::insertTexts()
{
    QCOMPARE(insertText(InsertAction::FirstName), QString("{{-firstname-}}"));
    QCOMPARE(insertText(InsertAction::LastName), QString("{{-lastname-}}"));
    QCOMPARE(insertText(InsertAction::Salutation), QString("{{-salutation-}}"));
    QCOMPARE(insertText(InsertAction::Image, "/home/ann/logo.gif"),
             QString("{{-img:/home/ann/logo.gif-}}"));
    QCOMPARE(emptyHtmlLines(), (QStringList{"<HTML>", "<BODY>", "", "</BODY>", "</HTML>"}));
}

void TestMergeFields::expletive_isSpaceAndOneOfTheWords()
{
    const QStringList words = expletiveWords();
    QCOMPARE(words.size(), 11);
    QCOMPARE(words.at(3), QString("**Expletive Deleted**"));
    QCOMPARE(words.last(), QString("Home Alone Part 3"));
    QRandomGenerator random(7);
    QSet<QString> seen;
    for (int i = 0; i < 2000; ++i) {
        const QString text = insertText(InsertAction::Expletive, QString(), &random);
        QVERIFY(text.startsWith(' '));
        QVERIFY(words.contains(text.mid(1)));
        seen.insert(text);
    }
    QCOMPARE(seen.size(), 11);
}

QTEST_GUILESS_MAIN(TestMergeFields)
#include "tst_MergeFields.moc"
