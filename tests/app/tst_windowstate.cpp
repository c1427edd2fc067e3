#include "AppTestFiles.h"
#include "core/IniFile.h"
#include "app/WindowState.h"
#include "core/TextFile.h"

#include "Fuzz.h"
#include "MemorySecrets.h"
#include "TempProgramFolder.h"

#include <QFile>
#include <QtTest>

#include <sys/resource.h>
#include <csignal>

using namespace bv;
using namespace bv::app;
using bv::test::contents;
using bv::test::writeFile;

Q_DECLARE_METATYPE(QList<bv::app::ControlValue>)

namespace {

// The main window's persisted controls, in its order, with empty values.
QList<ControlValue> windowControls()
{
    return {
        ControlValue::multiLine("memTextMessage", {}),
        ControlValue::multiLine("memHTMLSource", {}),
        ControlValue::multiLine("memStatus", {}),
        ControlValue::checkBox("cbxSMTP", false),
        ControlValue::edit("txtDomain", {}),
        ControlValue::edit("txtSMTPServer", {}),
        ControlValue::edit("txtUser", {}),
        ControlValue::edit("txtPassword", {}),
        ControlValue::checkBox("cbxAuth", false),
        ControlValue::checkBox("cbxDirect", false),
        ControlValue::edit("txtEmailPath", {}),
        ControlValue::edit("txtDNS", {}),
        ControlValue::edit("txtHELO", {}),
        ControlValue::dropDown("cbRecipientEmailFormat", {}, {"\"John\" (FirstName)", "Custom"}),
        ControlValue::edit("txtCustomRecipientName", {}),
        ControlValue::radioGroup("rgSendTo", 0),
        ControlValue::dropDown("cbCurrentList", {}, {"Customers", "Friends"}),
        ControlValue::edit("txtSkipTheFirst", {}),
        ControlValue::dropDown("cbFromEmail", {}, {"Sales"}),
        ControlValue::combo("cbEmailSubject", {}),
        ControlValue::comboWithItems("txtTestEmail", {}, {}),
        ControlValue::checkBox("cbxErrorsByEmail", false),
        ControlValue::fileDialog("opnTextMessage", {}),
        ControlValue::fileDialog("opnHTMLMessage", {}),
        ControlValue::fileDialog("opnMessage", {}),
        ControlValue::fileDialog("opnImage", {}),
    };
}

ControlValue& named(QList<ControlValue>& controls, const QString& name)
{
    for (ControlValue& c : controls)
        if (c.name == name)
            return c;
    qFatal("no control %s", qPrintable(name));
}

QList<ControlValue> readBack(const QString& path, const QString& folder)
{
    QList<ControlValue> controls = windowControls();
    QString error;
    if (!loadWindowState(path, controls, folder, &error))
        qWarning() << error;
    return controls;
}

void compareControls(const QList<ControlValue>& got, const QList<ControlValue>& want)
{
    QCOMPARE(got.size(), want.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        const ControlValue& g = got.at(i);
        const ControlValue& w = want.at(i);
        QCOMPARE(g.name, w.name);
        switch (w.kind) {
        case ControlKind::MultiLineText:
            QCOMPARE(g.lines, w.lines);
            break;
        case ControlKind::CheckBox:
            QCOMPARE(g.checked, w.checked);
            break;
        case ControlKind::RadioGroup:
            QCOMPARE(g.index, w.index);
            break;
        case ControlKind::ComboBoxWithItems:
            QCOMPARE(g.items, w.items);
            QCOMPARE(g.text, w.text);
            break;
        default:
            QCOMPARE(g.text, w.text);
        }
    }
}

// The reader as it was when every new key and section was looked for among
// all those kept before it: the fuzzer holds the hashed reader to it.
struct PlainReading
{
    struct Section
    {
        QString name;
        QList<QPair<QString, QString>> entries;
    };
    QList<Section> sections;

    static bool same(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

    explicit PlainReading(const QStringList& lines)
    {
        QMap<qint64, qint64> raw;
        QMap<QString, QPair<std::optional<qint64>, std::optional<qint64>>> pending;
        Section* current = nullptr;
        for (qint64 i = 0; i < lines.size(); ++i) {
            if (raw.contains(i) && raw.value(i) >= i) {
                i = qMin(raw.value(i), lines.size() - 1);
                continue;
            }
            const QString& line = lines.at(i);
            const QString trimmed = line.trimmed();
            if (trimmed.isEmpty() || trimmed.startsWith(';'))
                continue;
            if (trimmed.startsWith('[')) {
                const qsizetype close = trimmed.indexOf(']');
                if (close < 0)
                    continue;
                const QString name = trimmed.mid(1, close - 1).trimmed();
                current = section(name);
                if (!current) {
                    sections.append({name, {}});
                    current = &sections.last();
                }
                continue;
            }
            const qsizetype eq = line.indexOf('=');
            const QString key = line.left(eq).trimmed();
            if (!current || eq < 0 || key.isEmpty() || value(current->name, key))
                continue;
            const QString v = line.mid(eq + 1);
            current->entries.append({key, v});
            const bool isBegin = same(key, current->name + "_TextBegin");
            if (isBegin || same(key, current->name + "_TextEnd")) {
                auto& p = pending[current->name.toUpper()];
                bool ok = false;
                const qint64 n = v.trimmed().toLongLong(&ok);
                (isBegin ? p.first : p.second) = ok ? std::optional<qint64>(n) : std::nullopt;
                if (p.first && p.second && *p.first > i && *p.second >= *p.first && !raw.contains(*p.first))
                    raw.insert(*p.first, *p.second);
            }
        }
    }

    Section* section(const QString& name)
    {
        for (Section& s : sections)
            if (same(s.name, name))
                return &s;
        return nullptr;
    }

    std::optional<QString> value(const QString& sectionName, const QString& key)
    {
        if (Section* s = section(sectionName))
            for (const auto& e : s->entries)
                if (same(e.first, key))
                    return e.second;
        return std::nullopt;
    }
};

const QString kServer = "smtp.x.org:587";

QString smtpKey(const QString& server = kServer)
{
    return smtpSecretKey(server, "me");
}

} // namespace

class TestWindowState : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void roundTrip_data();
    void roundTrip();
    void badInput_data();
    void badInput();
    void missingFile_restoresDefaults();
    void relativeFileNames_liveInProgramFolder();
    void failedWrite_keepsPreviousFile();
    void missingFolder_reportsUnableToWrite();
    void hugeFile_readsInLinearTime_data();
    void hugeFile_readsInLinearTime();
    void fuzz_readerAgreesWithPlainReading();
    void smtpPassword_keptOutOfSharedFiles_data();
    void smtpPassword_keptOutOfSharedFiles();
    void smtpPassword_readBack_data();
    void smtpPassword_readBack();
};

void TestWindowState::layout_data()
{
    QTest::addColumn<QList<ControlValue>>("controls");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("three-line body, empty bodies")
        << QList<ControlValue>{ControlValue::multiLine("memTextMessage", {"Dear {{-firstname-}},", "", "Bye"}),
                               ControlValue::multiLine("memHTMLSource", {}),
                               ControlValue::checkBox("cbxSMTP", true),
                               ControlValue::edit("txtDomain", "example.org"),
                               ControlValue::multiLine("memStatus", {}),
                               ControlValue::checkBox("cbxAuth", false)}
        << QStringList{"[Defaults]",
                       "cbxSMTP=1",
                       "txtDomain=example.org",
                       "cbxAuth=0",
                       "[memTextMessage]",
                       "memTextMessage_TextBegin=8",
                       "memTextMessage_TextEnd=10",
                       "[memTextMessage_TEXTSection]",
                       "Dear {{-firstname-}},",
                       "",
                       "Bye",
                       "memTextMessage_Dummy=-1",
                       "[memHTMLSource]",
                       "memHTMLSource_TextBegin=16",
                       "memHTMLSource_TextEnd=15",
                       "[memHTMLSource_TEXTSection]",
                       "memHTMLSource_Dummy=-1",
                       "[memStatus]",
                       "memStatus_TextBegin=21",
                       "memStatus_TextEnd=20",
                       "[memStatus_TEXTSection]",
                       "memStatus_Dummy=-1"};

    QTest::newRow("every kind of key")
        << QList<ControlValue>{ControlValue::radioGroup("rgSendTo", 1),
                               ControlValue::dropDown("cbCurrentList", "Friends", {"Customers", "Friends"}),
                               ControlValue::combo("cbEmailSubject", "Spring news"),
                               ControlValue::comboWithItems("txtTestEmail", "c@x.org",
                                                            {"a@x.org", "b@x.org", "c@x.org", "d@x.org", "e@x.org"}),
                               ControlValue::checkBox("cbxErrorsByEmail", false),
                               ControlValue::fileDialog("opnImage", "/home/u/logo.gif"),
                               ControlValue::multiLine("memStatus", {"one"})}
        << QStringList{"[Defaults]",
                       "rgSendTo=1",
                       "cbCurrentList=Friends",
                       "cbEmailSubject=Spring news",
                       "txtTestEmail=c@x.org",
                       "txtTestEmailItems1=a@x.org",
                       "txtTestEmailItems2=b@x.org",
                       "txtTestEmailItems3=c@x.org",
                       "txtTestEmailItems4=d@x.org",
                       "txtTestEmailItems5=e@x.org",
                       "cbxErrorsByEmail=0",
                       "opnImage=/home/u/logo.gif",
                       "[memStatus]",
                       "memStatus_TextBegin=16",
                       "memStatus_TextEnd=16",
                       "[memStatus_TEXTSection]",
                       "one",
                       "memStatus_Dummy=-1"};

    // A line break inside a key's value or a body line would shift every line
    // number after it.
    QTest::newRow("line breaks inside values")
        << QList<ControlValue>{ControlValue::edit("txtUser", "a\r\nb\nc"),
                               ControlValue::multiLine("memStatus", {"x\ry", "z"})}
        << QStringList{"[Defaults]",
                       "txtUser=a b c",
                       "[memStatus]",
                       "memStatus_TextBegin=6",
                       "memStatus_TextEnd=8",
                       "[memStatus_TEXTSection]",
                       "x",
                       "y",
                       "z",
                       "memStatus_Dummy=-1"};
}

void TestWindowState::layout()
{
    QFETCH(QList<ControlValue>, controls);
    QFETCH(QStringList, lines);

    bv::test::TempProgramFolder home;
    const QString path = home.file("BrevicastSettings.ini");
    QVERIFY(saveWindowState(path, controls));
    QCOMPARE(contents(path), bv::joinCrLf(lines));
}

void TestWindowState::roundTrip_data()
{
    QTest::addColumn<QStringList>("body");
    QTest::addColumn<QString>("subject");

    QTest::newRow("plain") << QStringList{"Hello {{-firstname-}}", "", "  indented", "trailing  "}
                           << "Hi";
    QTest::newRow("empty body") << QStringList{} << "";
    QTest::newRow("one empty line") << QStringList{"", ""} << "x";
    QTest::newRow("lines that look like sections")
        << QStringList{"[Defaults]", "[memHTMLSource]", "[memHTMLSource_TEXTSection]", "[memStatus]"}
        << "y";
    QTest::newRow("lines that look like keys")
        << QStringList{"cbEmailSubject=hijacked", "memHTMLSource_TextBegin=0", "memHTMLSource_TextEnd=3",
                       "memStatus_TextBegin=-1", "memTextMessage_Dummy=-1", "=", "; comment"}
        << "genuine";
    // Without skipping the raw lines, this body would claim the next body's
    // line numbers.
    QTest::newRow("a body that forges the next one's header")
        << QStringList{"[memHTMLSource]", "memHTMLSource_TextBegin=0", "memHTMLSource_TextEnd=0", "[Defaults]",
                       "cbEmailSubject=hijacked"}
        << "genuine";
    QTest::newRow("100000 characters") << QStringList{QString(100000, 'q'), "end"} << QString(100000, 's');
    QTest::newRow("non-ASCII") << QStringList{"Grüße, 日本語", "€"} << "Ünïcode ✓";
    QTest::newRow("value with equals and blanks") << QStringList{"a"} << "  a = b = c  ";
}

void TestWindowState::roundTrip()
{
    QFETCH(QStringList, body);
    QFETCH(QString, subject);

    bv::test::TempProgramFolder home;
    QList<ControlValue> controls = windowControls();
    named(controls, "memTextMessage").lines = body;
    named(controls, "memHTMLSource").lines = QStringList{"<HTML>"} + body + QStringList{"</HTML>"};
    named(controls, "memStatus").lines = body;
    named(controls, "cbEmailSubject").text = subject;
    named(controls, "txtPassword").text = subject;
    named(controls, "cbxSMTP").checked = false;
    named(controls, "cbxDirect").checked = true;
    named(controls, "rgSendTo").index = 1;
    named(controls, "cbCurrentList").text = "Friends";
    named(controls, "txtTestEmail").text = "b@x.org";
    named(controls, "txtTestEmail").items = {"a@x.org", "b@x.org", "", "d@x.org", "e@x.org"};
    named(controls, "opnMessage").text = home.file("news.bvc");

    const QString path = home.file("msg.bvc");
    QVERIFY(saveWindowState(path, controls));

    QList<ControlValue> want = controls;
    named(want, "opnMessage").folder = QDir::cleanPath(home.path());
    compareControls(readBack(path, home.path()), want);
}

void TestWindowState::badInput_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QStringList>("body");
    QTest::addColumn<bool>("smtp");

    const QByteArray head = "[Defaults]\r\ntxtDomain=d.org\r\ncbxSMTP=0\r\n"
                            "[memTextMessage]\r\n";

    QTest::newRow("garbage lines")
        << QByteArray("\x01\x02 binary\r\n[Defaults\r\nno equals here\r\n=orphan\r\n[Defaults]\r\n"
                      "txtDomain=d.org\r\n  junk ] [ \r\ncbxSMTP=0\r\n")
        << "d.org" << QStringList{} << false;
    QTest::newRow("negative begin") << head + "memTextMessage_TextBegin=-1\r\nmemTextMessage_TextEnd=6\r\n"
                                               "[memTextMessage_TEXTSection]\r\nbody\r\n"
                                    << "d.org" << QStringList{} << false;
    QTest::newRow("end before begin") << head + "memTextMessage_TextBegin=7\r\nmemTextMessage_TextEnd=6\r\n"
                                                 "[memTextMessage_TEXTSection]\r\nbody\r\n"
                                      << "d.org" << QStringList{} << false;
    QTest::newRow("oversized numbers")
        << head + "memTextMessage_TextBegin=99999999999999999999\r\nmemTextMessage_TextEnd=2\r\n"
        << "d.org" << QStringList{} << false;
    QTest::newRow("end far beyond the file")
        << head + "memTextMessage_TextBegin=7\r\nmemTextMessage_TextEnd=4000000000\r\n"
                  "[memTextMessage_TEXTSection]\r\nfirst\r\nsecond\r\n"
        << "d.org" << QStringList{"first", "second"} << false;
    QTest::newRow("begin beyond the file")
        << head + "memTextMessage_TextBegin=70\r\nmemTextMessage_TextEnd=71\r\n" << "d.org" << QStringList{}
        << false;
    QTest::newRow("numbers that are not numbers")
        << head + "memTextMessage_TextBegin=seven\r\nmemTextMessage_TextEnd=8\r\n" << "d.org" << QStringList{}
        << false;
    QTest::newRow("LF line ends") << QByteArray("[Defaults]\ntxtDomain=d.org\ncbxSMTP=0\n[memTextMessage]\n"
                                                "memTextMessage_TextBegin=7\nmemTextMessage_TextEnd=7\n"
                                                "[memTextMessage_TEXTSection]\nonly\nmemTextMessage_Dummy=-1\n")
                                  << "d.org" << QStringList{"only"} << false;
    QTest::newRow("CR line ends") << QByteArray("[Defaults]\rtxtDomain=d.org\rcbxSMTP=0\r[memTextMessage]\r"
                                                "memTextMessage_TextBegin=7\rmemTextMessage_TextEnd=7\r"
                                                "[memTextMessage_TEXTSection]\ronly\r")
                                  << "d.org" << QStringList{"only"} << false;
    QTest::newRow("letter case of names") << QByteArray("[DEFAULTS]\r\nTXTDOMAIN=d.org\r\ncbxsmtp=0\r\n")
                                          << "d.org" << QStringList{} << false;
    QTest::newRow("first of two keys wins") << QByteArray("[Defaults]\r\ntxtDomain=d.org\r\ncbxSMTP=0\r\n"
                                                          "txtDomain=late.org\r\n[Defaults]\r\ncbxSMTP=1\r\n")
                                            << "d.org" << QStringList{} << false;
    QTest::newRow("Latin-1 text") << QByteArray("[Defaults]\r\ntxtDomain=gr\xfc\xdf.org\r\ncbxSMTP=0\r\n")
                                  << QString::fromUtf8("grüß.org") << QStringList{} << false;
    QTest::newRow("check box not a number") << QByteArray("[Defaults]\r\ntxtDomain=d.org\r\ncbxSMTP=yes\r\n")
                                            << "d.org" << QStringList{} << true;
    QTest::newRow("check box empty") << QByteArray("[Defaults]\r\ncbxSMTP=\r\n") << "" << QStringList{} << true;
    QTest::newRow("empty file") << QByteArray() << "" << QStringList{} << true;
    // A body that claims the lines of the Defaults section cannot hide keys.
    QTest::newRow("range pointing backwards")
        << head + "memTextMessage_TextBegin=1\r\nmemTextMessage_TextEnd=2\r\n" << "d.org"
        << QStringList{"txtDomain=d.org", "cbxSMTP=0"} << false;
}

void TestWindowState::badInput()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, domain);
    QFETCH(QStringList, body);
    QFETCH(bool, smtp);

    bv::test::TempProgramFolder home;
    const QString path = home.file("BrevicastSettings.ini");
    QVERIFY(writeFile(path, file));
    QList<ControlValue> controls = readBack(path, home.path());
    QCOMPARE(named(controls, "txtDomain").text, domain);
    QCOMPARE(named(controls, "memTextMessage").lines, body);
    QCOMPARE(named(controls, "cbxSMTP").checked, smtp);
    QCOMPARE(named(controls, "memHTMLSource").lines, QStringList{});
}

void TestWindowState::missingFile_restoresDefaults()
{
    bv::test::TempProgramFolder home;
    QList<ControlValue> controls = windowControls();
    named(controls, "txtDomain").text = "stale";
    named(controls, "memStatus").lines = {"stale"};
    named(controls, "cbCurrentList").text = "Friends";
    named(controls, "cbCurrentList").index = 1;
    named(controls, "rgSendTo").index = 1;
    named(controls, "txtTestEmail").items = {"stale@x.org"};

    QVERIFY(loadWindowState(home.file("BrevicastSettings.ini"), controls, home.path()));
    for (const ControlValue& c : controls) {
        switch (c.kind) {
        case ControlKind::CheckBox:
            QVERIFY2(c.checked, qPrintable(c.name));
            break;
        case ControlKind::RadioGroup:
            QCOMPARE(c.index, 0);
            break;
        case ControlKind::DropDownList:
            QCOMPARE(c.index, -1);
            QVERIFY(c.text.isEmpty());
            break;
        case ControlKind::MultiLineText:
            QVERIFY(c.lines.isEmpty());
            break;
        case ControlKind::FileDialog:
            QVERIFY(c.text.isEmpty());
            QCOMPARE(c.folder, QDir::cleanPath(home.path()));
            break;
        default:
            QVERIFY2(c.text.isEmpty() && c.items.isEmpty(), qPrintable(c.name));
        }
    }
}

void TestWindowState::relativeFileNames_liveInProgramFolder()
{
    bv::test::TempProgramFolder home;
    const QString path = home.file("BrevicastSettings.ini");
    QVERIFY(writeFile(path, "[Defaults]\r\nopnTextMessage=body.txt\r\nopnImage=/srv/pics/logo.gif\r\n"
                     "cbRecipientEmailFormat=custom\r\ncbCurrentList=Gone\r\n"));
    QList<ControlValue> controls = readBack(path, home.path());
    QCOMPARE(named(controls, "opnTextMessage").text, home.file("body.txt"));
    QCOMPARE(named(controls, "opnTextMessage").folder, QDir::cleanPath(home.path()));
    QCOMPARE(named(controls, "opnImage").text, QString("/srv/pics/logo.gif"));
    QCOMPARE(named(controls, "opnImage").folder, QString("/srv/pics"));
    // Chosen by text without regard to case; a vanished entry chooses nothing.
    QCOMPARE(named(controls, "cbRecipientEmailFormat").text, QString("Custom"));
    QCOMPARE(named(controls, "cbRecipientEmailFormat").index, 1);
    QCOMPARE(named(controls, "cbCurrentList").index, -1);
    QCOMPARE(named(controls, "cbCurrentList").text, QString());
}

void TestWindowState::failedWrite_keepsPreviousFile()
{
    bv::test::TempProgramFolder home;
    const QString path = home.file("BrevicastSettings.ini");
    QList<ControlValue> controls = windowControls();
    named(controls, "txtDomain").text = "first.org";
    QVERIFY(saveWindowState(path, controls));
    const QByteArray before = contents(path);

    // A file-size limit makes the write fail part way, as a full disk would.
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 512;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    named(controls, "memTextMessage").lines = QStringList(100, QString(80, 'x'));
    QString error;
    const bool saved = saveWindowState(path, controls, &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!saved);
    QCOMPARE(error, "Unable to write to " + path);
    QCOMPARE(contents(path), before);
    QCOMPARE(QDir(home.path()).entryList(QDir::Files), QStringList{"BrevicastSettings.ini"});
}

void TestWindowState::missingFolder_reportsUnableToWrite()
{
    bv::test::TempProgramFolder home;
    const QString path = home.file("no/such/folder/msg.bvc");
    QString error;
    QVERIFY(!saveWindowState(path, windowControls(), &error));
    QCOMPARE(error, "Unable to write to " + path);
}

void TestWindowState::hugeFile_readsInLinearTime_data()
{
    // Each took a quarter of an hour while every key or section was looked
    // for among all those before it; no time is asserted, a hang is the
    // failure.
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("sections");

    const int n = 100000;
    QStringList keys{"[Defaults]"};
    for (int i = 0; i < n; ++i)
        keys << QString("txtTestEmailItems%1=%1@x.org").arg(i);
    QTest::newRow("100,000 keys") << keys << "DEFAULTS" << "TXTTESTEMAILITEMS99999" << "99999@x.org" << 1;

    QStringList sections;
    for (int i = 0; i < n; ++i)
        sections << QString("[s%1]").arg(i) << QString("k=%1").arg(i);
    QTest::newRow("100,000 sections") << sections << "S99999" << "k" << "99999" << n;

    // Text sections whose raw lines look like headers and keys.
    QStringList texts;
    for (int i = 0; i < n / 2; ++i) {
        const QString name = QString("mem%1").arg(i);
        const qsizetype at = texts.size();
        texts << "[" + name + "]" << QString("%1_TextBegin=%2").arg(name).arg(at + 4)
              << QString("%1_TextEnd=%2").arg(name).arg(at + 5) << "[" + name + "_TEXTSection]" << "[Defaults]"
              << "k=raw" << name + "_Dummy=-1";
    }
    QTest::newRow("50,000 texts") << texts << "mem49999_TEXTSECTION" << "mem49999_Dummy" << "-1" << n;
}

void TestWindowState::hugeFile_readsInLinearTime()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, sections);

    const IniFile ini = IniFile::fromLines(lines);
    QCOMPARE(ini.sections().size(), sections);
    QCOMPARE(ini.value(section, key, "absent"), value);
    QVERIFY(!ini.value("Defaults", "k"));
}

void TestWindowState::fuzz_readerAgreesWithPlainReading()
{
    // Real files: what the writer makes of a full window, the questions file
    // and the returned-mail window's file.
    QList<ControlValue> full = windowControls();
    named(full, "memTextMessage").lines = {"Dear {{-firstname-}},", "[Defaults]", "txtDomain=forged", ""};
    named(full, "memHTMLSource").lines = {"<p>x</p>", "memStatus_TextBegin=1"};
    named(full, "memStatus").lines = {"a@x.org: refused"};
    named(full, "txtDomain").text = "example.org";
    named(full, "txtTestEmail").items = {"a@x.org", "b@x.org"};
    const QList<QByteArray> corpus{
        renderWindowState(full), renderWindowState(windowControls()),
        "[Defaults]\r\nRedoMsg=1\r\nSkipMsg=0\r\nRtdFileMsg=0\r\n",
        "[Settings]\r\nLeaveMailOnServer=1\r\n"};
    QByteArray failed;
    bv::test::fuzz("settings reader", corpus, [&](const QByteArray& bytes) {
        const QStringList lines = splitLines(decodeText(bytes));
        const IniFile ini = IniFile::fromLines(lines);
        PlainReading plain(lines);
        bool agree = ini.sections().size() == plain.sections.size();
        for (qsizetype i = 0; agree && i < plain.sections.size(); ++i) {
            const auto& want = plain.sections.at(i);
            const IniFile::Section& got = ini.sections().at(i);
            agree = got.name == want.name && got.entries.size() == want.entries.size();
            for (qsizetype k = 0; agree && k < want.entries.size(); ++k) {
                const auto& [key, value] = want.entries.at(k);
                agree = got.entries.at(k).key == key && got.entries.at(k).value == value &&
                        ini.value(want.name.toUpper(), key.toLower()) == plain.value(want.name.toUpper(), key.toLower());
            }
        }
        if (!agree && failed.isEmpty())
            failed = bytes;
    });
    QVERIFY2(failed.isEmpty(), failed.toPercentEncoding().constData());
}

void TestWindowState::smtpPassword_keptOutOfSharedFiles_data()
{
    QTest::addColumn<bool>("message");
    QTest::addColumn<bool>("service");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("inFile");
    QTest::addColumn<QString>("stored"); // afterwards ("old" before), "-" for none

    QTest::newRow("message file") << true << false << false << "s3cret" << false << "old";
    QTest::newRow("message file, secret service") << true << true << false << "s3cret" << false << "old";
    QTest::newRow("settings, no secret service") << false << false << false << "s3cret" << true << "old";
    QTest::newRow("settings, secret service") << false << true << false << "s3cret" << false << "s3cret";
    QTest::newRow("settings, service refuses") << false << true << true << "s3cret" << true << "old";
    QTest::newRow("settings, password cleared") << false << true << false << "" << false << "-";
}

void TestWindowState::smtpPassword_keptOutOfSharedFiles()
{
    QFETCH(bool, message);
    QFETCH(bool, service);
    QFETCH(bool, refuse);
    QFETCH(QString, password);
    QFETCH(bool, inFile);
    QFETCH(QString, stored);

    bv::test::TempProgramFolder home;
    bv::test::MemorySecrets secrets;
    secrets.secrets.insert(smtpKey(), "old");
    secrets.service = service;
    secrets.refuse = refuse;
    QList<ControlValue> controls = windowControls();
    named(controls, "txtSMTPServer").text = kServer;
    named(controls, "txtUser").text = "me";
    named(controls, "txtPassword").text = password;
    const QString path = home.file(message ? "offer.bvc" : "BrevicastSettings.ini");
    const auto kind = message ? StateFile::Message : StateFile::Settings;
    QVERIFY(saveWindowState(path, controls, nullptr, kind, secrets));

    QCOMPARE(contents(path).contains("\r\ntxtPassword=" + password.toUtf8() + "\r\n"), inFile);
    QCOMPARE(contents(path).contains("txtPassword"), inFile);
    const auto others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFile::permissions(path) & others, QFile::Permissions());
    secrets.service = true;
    QCOMPARE(secrets.read(smtpKey()).value_or("-"), stored);

    // Read back into a window where something else was typed.
    secrets.service = service;
    QList<ControlValue> back = windowControls();
    named(back, "txtPassword").text = "typed";
    QVERIFY(loadWindowState(path, back, home.path(), nullptr, message, secrets));
    QCOMPARE(named(back, "txtPassword").text, message ? (service ? QString("old") : QString("typed")) : password);
}

void TestWindowState::smtpPassword_readBack_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("message");
    QTest::addColumn<QString>("stored"); // the store's password for the file's account; "-": no service
    QTest::addColumn<QString>("window"); // the server the window was on, with "typed" as password
    QTest::addColumn<QString>("expected");

    const QByteArray account = "[Defaults]\r\ntxtSMTPServer=" + kServer.toUtf8() + "\r\ntxtUser=me\r\n";
    QTest::newRow("older message file sets its password")
        << account + "txtPassword=old\r\n" << true << "stored" << "other.org" << "old";
    QTest::newRow("older message file with an empty one")
        << account + "txtPassword=\r\n" << true << "-" << "other.org" << "";
    QTest::newRow("message file, nothing stored: kept") << account << true << "-" << "other.org" << "typed";
    QTest::newRow("message file for another account: its stored one")
        << account << true << "stored" << "other.org" << "stored";
    QTest::newRow("message file for the window's account: kept")
        << account << true << "stored" << kServer << "typed";
    QTest::newRow("older settings file: its plain password")
        << account + "txtPassword=plain\r\n" << false << "stored" << kServer << "plain";
    QTest::newRow("settings file: the stored one") << account << false << "stored" << kServer << "stored";
    QTest::newRow("settings file, no service: none") << account << false << "-" << kServer << "";
}

void TestWindowState::smtpPassword_readBack()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, message);
    QFETCH(QString, stored);
    QFETCH(QString, window);
    QFETCH(QString, expected);

    bv::test::TempProgramFolder home;
    bv::test::MemorySecrets secrets;
    secrets.service = stored != "-";
    secrets.secrets.insert(smtpKey(), stored);
    const QString path = home.file(message ? "offer.bvc" : "BrevicastSettings.ini");
    QVERIFY(writeFile(path, file));
    QList<ControlValue> controls = windowControls();
    named(controls, "txtSMTPServer").text = window;
    named(controls, "txtUser").text = "me";
    named(controls, "txtPassword").text = "typed";
    QVERIFY(loadWindowState(path, controls, home.path(), nullptr, message, secrets));
    QCOMPARE(named(controls, "txtPassword").text, expected);
    if (!message)
        QCOMPARE(storedSmtpPassword(path, secrets), expected);
}

QTEST_GUILESS_MAIN(TestWindowState)
#include "tst_windowstate.moc"
