#include "MainWindowFixture.h"

#include "app/ActivityReports.h"
#include "app/ReportCommands.h"
#include "app/ReportPreview.h"

#include <QAction>
#include <QPrintPreviewWidget>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>

using namespace bv;
using namespace bv::app;

Q_DECLARE_METATYPE(bv::app::ReportKind)
Q_DECLARE_METATYPE(bv::Answer)

namespace {

const QDateTime kPrinted(QDate(2026, 12, 8), QTime(13, 15, 33));
const QString kPrintedText = QStringLiteral("12/08/2026 13:15:33");

QString runRecord(const QString& start, const QString& end, const QString& subject, int listCount,
                  int attempts, const QString& operation, const QString& success)
{
    return QStringLiteral(
               "insert into EmailHistory (StartTime, EndTime, Subject, List, \"From\", ListCount, "
               "AttemptCount, Operation, SuccessCount) values ('%1', '%2', %3, 'News', "
               "'Ann <ann@example.com>', %4, %5, '%6', %7)")
        .arg(start, end, data::quoted(subject))
        .arg(listCount)
        .arg(attempts)
        .arg(operation, success);
}

QString queueRow(const QString& first, const QString& email, bool sent, bool error,
                 const QString& message,
                 const QString& date = QStringLiteral("2026-12-07 10:00:00"))
{
    return QStringLiteral(
               "insert into EmailBeingSent (Salutation, FirstName, LastName, Email, List, Sent, "
               "ErrorMsg, "
               "Error, EmailDate) values ('Mr.', %1, 'Lee', %2, 'News', %3, %4, %5, '%6')")
        .arg(data::quoted(first), data::quoted(email), sent ? "True" : "False",
             data::quoted(message), error ? "True" : "False", date);
}

// The texts of a page line by line: items with the same top, left to right.
QStringList pageLines(const ReportPage& page)
{
    std::vector<const ReportItem*> items;
    for (const ReportItem& i : page.items)
        items.push_back(&i);
    std::stable_sort(items.begin(), items.end(), [](const ReportItem* a, const ReportItem* b) {
        if (qAbs(a->rect.top() - b->rect.top()) > 0.01)
            return a->rect.top() < b->rect.top();
        return a->rect.left() < b->rect.left();
    });
    QStringList lines;
    double top = -1;
    for (const ReportItem* i : items) {
        if (qAbs(i->rect.top() - top) > 0.01 || lines.isEmpty())
            lines << i->text;
        else
            lines.last() += QLatin1Char(' ') + i->text;
        top = i->rect.top();
    }
    for (QString& l : lines)
        l = l.trimmed();
    return lines;
}

// Every line of every page but the footers, which the caller checks apart.
QStringList bodyLines(const ReportLayout& layout, QStringList* footers = nullptr)
{
    QStringList out;
    for (const ReportPage& p : layout.pages) {
        QStringList lines = pageLines(p);
        if (footers && !lines.isEmpty())
            *footers << lines.last();
        lines.removeLast();
        out << lines;
    }
    return out;
}

QString noBlanks(QString s)
{
    // Control characters print as blanks.
    static const QRegularExpression blanks(QStringLiteral("[\\s\\x01-\\x1f]+"));
    return s.remove(blanks);
}

ReportLayout layOut(data::Connection& db, ReportKind kind)
{
    data::Query q(db);
    q.setSql(reportDefinition(kind).sql);
    q.open();
    return layoutReport(reportDefinition(kind), q.rows(), kPrinted, reportContentSize());
}

QString pdfText(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QStringLiteral("pdftotext failed: ") + p.errorString() +
               QString::fromUtf8(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

const QStringList kListingHeader{QStringLiteral("(Sal.) FirstName LastName Email List")};

} // namespace

class TestActivityReports : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void pages_keepEveryTextAndCountRight_data();
    void pages_keepEveryTextAndCountRight();

    void commands_showTablesAsTheyAreNow_data();
    void commands_showTablesAsTheyAreNow();
    void savePdf_failureIsReported_data();
    void savePdf_failureIsReported();
    void engineError_isShownAndNothingOpens_data();
    void engineError_isShownAndNothingOpens();
    void clearHistory_data();
    void clearHistory();
};

void TestActivityReports::layout_data()
{
    QTest::addColumn<ReportKind>("kind");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("expected");

    const QString mailing = runRecord("12/01/2026 09:00:00", "2026-12-01 09:30:00", "Winter news",
                                      3, 3, "New Mailing", "3");
    const QString test = runRecord("12/05/2026 08:00:00", "2026-12-05 08:00:05", "Test of O'Neil's",
                                   3, 1, "Test", "1");
    // The four lines of a run's block; every record is from "Ann" to "News".
    auto block = [](const QString& start, const QString& end, const QString& subject, int listCount,
                    int attempts, const QString& operation, const QString& sent, int notSent) {
        return QStringList{
            QString("List: News Total List Count: %1 Email Activity: %2")
                .arg(listCount)
                .arg(operation),
            QString("Start Time: %1 Emails Attempted: %2 From: Ann <ann@example.com>")
                .arg(start)
                .arg(attempts),
            QString("End Time: %1 Emails Sent: %2 Subject: %3")
                .arg(end, sent, subject)
                .simplified(),
            QString("Emails Not Sent: %1").arg(notSent)};
    };
    const QStringList mailingBlock = block("12/01/2026 09:00:00", "12/01/2026 09:30:00",
                                           "Winter news", 3, 3, "New Mailing", "3", 0);
    const QStringList testBlock = block("12/05/2026 08:00:00", "12/05/2026 08:00:05",
                                        "Test of O'Neil's", 3, 1, "Test", "1", 0);
    // The last mailing's queue: one row in each state, stored out of order.
    const QStringList queue{
        queueRow("Sam", "sam@example.org", true, false, ""),
        queueRow("Dora", "dora@example.org", true, true,
                 "Your message was sent, but also logged this error: 452"),
        queueRow("Pia", "pia@example.org", false, false, "", "2026-12-07 09:00:00"),
        queueRow("Fred", "fred@example.org", false, true, "550 5.1.1 User unknown"),
    };

    QTest::newRow("history: newest run first, the finished one with 0 not sent")
        << ReportKind::EmailHistory << QStringList{mailing, test}
        << (QStringList{"Email Log  - Email History"} + testBlock + mailingBlock);
    QTest::newRow("summary: a test after the mailing shows the test only")
        << ReportKind::LastEmailSummary << QStringList{mailing, test}
        << (QStringList{"Email Log  - Summary of Last Email Activity"} + testBlock);
    QTest::newRow("summary: a declined run has its end time and 0 sent")
        << ReportKind::LastEmailSummary
        << QStringList{runRecord("12/06/2026 11:00:00", "2026-12-06 11:00:09", "Declined", 5, 5,
                                 "New Mailing", "0")}
        << (QStringList{"Email Log  - Summary of Last Email Activity"} +
            block("12/06/2026 11:00:00", "12/06/2026 11:00:09", "Declined", 5, 5, "New Mailing",
                  "0", 5));
    QTest::newRow("summary: a run not yet finished counts nothing sent")
        << ReportKind::LastEmailSummary
        << QStringList{runRecord("12/06/2026 11:00:00", "01/01/1900 01:01:01", "Running", 4, 4,
                                 "Resend", "NULL")}
        << (QStringList{"Email Log  - Summary of Last Email Activity"} +
            block("12/06/2026 11:00:00", "01/01/1900 01:01:01", "Running", 4, 4, "Resend", "", 4));
    QTest::newRow("all: the four groups in query order")
        << ReportKind::LastEmailAll << queue
        << (QStringList{"Email Log  - Listing of All Last Email Activity",
                        "Email Date: 12/07/2026 09:00:00"} +
            kListingHeader +
            QStringList{"Error Message, If Any", "STATUS: Yet To Be Sent",
                        "Mr. Pia Lee pia@example.org News", "STATUS: Errors",
                        "Mr. Fred Lee fred@example.org News", "550 5.1.1 User unknown",
                        "STATUS: Sent", "Mr. Sam Lee sam@example.org News",
                        "STATUS: Sent With Errors", "Mr. Dora Lee dora@example.org News",
                        "Your message was sent, but also logged this error: 452"});
    QTest::newRow("errors: a delivery failure is listed, no groups")
        << ReportKind::LastEmailErrors << queue
        << (QStringList{"Email Log  - Listing of Errors during Last Email Activity",
                        "Email Date: 12/07/2026 10:00:00"} +
            kListingHeader +
            QStringList{"Error Message", "Mr. Dora Lee dora@example.org News",
                        "Your message was sent, but also logged this error: 452",
                        "Mr. Fred Lee fred@example.org News", "550 5.1.1 User unknown"});
    QTest::newRow("successes: a delivery failure is not listed")
        << ReportKind::LastEmailSuccess << queue
        << (QStringList{"Email Log  - Listing of Successes during Last Email Activity",
                        "Email Date: 12/07/2026 10:00:00"} +
            kListingHeader +
            QStringList{"Error Message, If Any", "Mr. Sam Lee sam@example.org News"});
    for (const ReportDefinition& def : reportDefinitions())
        QTest::newRow(qPrintable("empty source: title only, " + def.name))
            << def.kind << QStringList{} << QStringList{def.title};
}

void TestActivityReports::layout()
{
    QFETCH(ReportKind, kind);
    QFETCH(QStringList, setup);
    QFETCH(QStringList, expected);
    test::TempProgramFolder home;
    data::Connection db;
    db.open(home.path());
    for (const QString& s : setup)
        db.execute(s);

    const ReportLayout layout = layOut(db, kind);
    QStringList footers;
    QCOMPARE(bodyLines(layout, &footers), expected);
    QCOMPARE(footers,
             QStringList{kPrintedText + " " + reportDefinition(kind).footerName + " Page 1 of 1"});
}

void TestActivityReports::pages_keepEveryTextAndCountRight_data()
{
    QTest::addColumn<ReportKind>("kind");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("message"); // %1: the row number

    QTest::newRow("all: tall entries in four groups")
        << ReportKind::LastEmailAll << 63
        << "Reply %1\r\n" + QString("451 4.7.1 Greylisted, try again later.\r\n").repeated(19);
    QTest::newRow("errors: replies that wrap")
        << ReportKind::LastEmailErrors << 150
        << "550 5.7.1 <r%1@example.org>... Message rejected as spam by Content Filtering. "
           "Please see the policy page for details; this reply goes on for several lines so that "
           "it has to wrap twice or more on the page, and it keeps going just a little further.";
    QTest::newRow("errors: one reply longer than a page")
        << ReportKind::LastEmailErrors << 6
        << QString("Line %1 of a very long server transcript.\r\n").repeated(150);
    QTest::newRow("errors: unbroken text wider than a line")
        << ReportKind::LastEmailErrors << 40
        << QString("x").repeated(900) + "%1\tend\001" + QString("\U0001F600").repeated(90);
    QTest::newRow("errors: markup prints as written")
        << ReportKind::LastEmailErrors << 60
        << "550 <img src=file:///dev/zero> <b>%1</b> <a href=file:///etc/passwd>x</a> &amp;";
    QTest::newRow("history: many runs") << ReportKind::EmailHistory << 130 << "";
}

void TestActivityReports::pages_keepEveryTextAndCountRight()
{
    QFETCH(ReportKind, kind);
    QFETCH(int, rows);
    QFETCH(QString, message);
    test::TempProgramFolder home;
    data::Connection db;
    db.open(home.path());
    QString allMessages;
    for (int i = 0; i < rows; ++i) {
        if (kind == ReportKind::EmailHistory) {
            db.execute(runRecord(
                QStringLiteral("12/01/2026 09:%1:00").arg(i % 60, 2, 10, QChar('0')),
                "2026-12-01 10:00:00", QString("A subject long enough to wrap, number %1").arg(i),
                i, i, "New Mailing", QString::number(i)));
            continue;
        }
        const QString text = message.contains("%1") ? message.arg(i) : message;
        const bool error = kind == ReportKind::LastEmailErrors || i % 4 >= 2;
        db.execute(queueRow(QString("Name%1").arg(i), QString("r%1@example.org").arg(i), i % 2,
                            error, text));
        allMessages += text;
    }
    const ReportLayout layout = layOut(db, kind);
    const int n = int(layout.pages.size());
    QVERIFY2(n > 1, qPrintable(QString::number(n)));
    const QSizeF size = reportContentSize();

    QString printedMessages;
    int statusLines = 0;
    for (int p = 0; p < n; ++p) {
        const ReportPage& page = layout.pages[size_t(p)];
        const QStringList lines = pageLines(page);
        QCOMPARE(lines.last(), kPrintedText + " " + reportDefinition(kind).footerName + " " +
                                   pageDescription(p + 1, n));
        if (kind != ReportKind::EmailHistory)
            QCOMPARE(lines.at(p == 0 ? 2 : 0), kListingHeader.first());
        else
            QCOMPARE(lines.filter("List: ").size(), lines.filter("Emails Not Sent: ").size());

        const double footerTop = size.height() - page.items.back().rect.height();
        for (size_t i = 0; i < page.items.size(); ++i) {
            const ReportItem& item = page.items[i];
            QVERIFY2(QRectF(QPointF(0, 0), size).contains(item.rect), qPrintable(item.text));
            QVERIFY(!item.text.back().isHighSurrogate() && !item.text.front().isLowSurrogate());
            QVERIFY2(textWidth(item.style, item.text) <= item.rect.width() + 0.01,
                     qPrintable(item.text));
            if (item.style != ItemStyle::Footer)
                QVERIFY2(item.rect.bottom() <= footerTop, qPrintable(item.text));
            for (size_t j = i + 1; j < page.items.size(); ++j)
                QVERIFY2(!item.rect.intersected(page.items[j].rect).isValid() ||
                             item.rect.intersected(page.items[j].rect).height() < 0.01,
                         qPrintable(item.text + " / " + page.items[j].text));
            if (item.style == ItemStyle::Message)
                printedMessages += item.text;
            if (item.style == ItemStyle::Status) {
                ++statusLines;
                QVERIFY2(page.items[i + 1].style == ItemStyle::Field,
                         "status line left alone at a page's end");
            }
        }
    }
    QCOMPARE(statusLines, kind == ReportKind::LastEmailAll ? 4 : 0);
    if (kind == ReportKind::LastEmailAll) // grouping reorders the rows
        QCOMPARE(noBlanks(printedMessages).size(), noBlanks(allMessages).size());
    else
        QCOMPARE(noBlanks(printedMessages), noBlanks(allMessages));
}

void TestActivityReports::commands_showTablesAsTheyAreNow_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QStringList>("gone");

    const QString spring = runRecord("03/01/2026 09:00:00", "2026-03-01 09:10:00", "Spring news", 8,
                                     8, "New Mailing", "6");
    const QString summer =
        runRecord("06/01/2026 09:00:00", "2026-06-01 09:10:00", "Summer news", 9, 1, "Test", "1");
    QTest::newRow("Action30 history")
        << "Action30" << QStringList{spring}
        << QStringList{"Email Log - Email History", "Spring news", "Emails Not Sent: 2",
                       "Email History", "Page 1 of 1"}
        << summer << QStringList{"Summer news", "Spring news"} << QStringList{};
    QTest::newRow("Action29 summary")
        << "Action29" << QStringList{spring}
        << QStringList{"Email Log - Summary of Last Email Activity", "Spring news", "Email Summary",
                       "Page 1 of 1"}
        << summer << QStringList{"Summer news", "Test"} << QStringList{"Spring news"};
    QTest::newRow("Action31 all")
        << "Action31" << QStringList{queueRow("Pia", "pia@example.org", false, false, "")}
        << QStringList{"Email Log - Listing of All Last Email Activity", "STATUS: Yet To Be Sent",
                       "pia@example.org", "Complete Log", "Page 1 of 1"}
        << "update EmailBeingSent set Sent = True" << QStringList{"STATUS: Sent", "pia@example.org"}
        << QStringList{"Yet To Be Sent"};
    QTest::newRow("Action28 errors")
        << "Action28"
        << QStringList{queueRow("Fred", "fred@example.org", false, true, "550 5.1.1 User unknown")}
        << QStringList{"Email Log - Listing of Errors during Last Email Activity", "Error Message",
                       "550 5.1.1 User unknown", "Error Log", "Page 1 of 1"}
        << queueRow("Dora", "dora@example.org", true, true, "421 Service not available")
        << QStringList{"fred@example.org", "dora@example.org", "421 Service not available"}
        << QStringList{};
    QTest::newRow("Action27 successes")
        << "Action27" << QStringList{queueRow("Sam", "sam@example.org", true, false, "")}
        << QStringList{"Email Log - Listing of Successes during Last Email Activity",
                       "sam@example.org", "Success Log", "Page 1 of 1"}
        << "update EmailBeingSent set Error = True, ErrorMsg = 'bounced'"
        << QStringList{"Email Log - Listing of Successes", "Page 1 of 1"}
        << QStringList{"sam@example.org"};
}

void TestActivityReports::commands_showTablesAsTheyAreNow()
{
    QFETCH(QString, action);
    QFETCH(QStringList, setup);
    QFETCH(QStringList, before);
    QFETCH(QString, change);
    QFETCH(QStringList, after);
    QFETCH(QStringList, gone);
    test::MainWindowFixture f;
    f.create();
    for (const QString& s : setup)
        f.sql(s);
    auto* command = f.find<QAction>(qPrintable(action));

    // Each showing: the preview is filled for the printer and saved as a PDF.
    auto show = [&](const QString& pdf) -> QString {
        int previewPages = -1, laidOutPages = -2;
        f.dialogs.queuePath(pdf);
        f.dialogs.queueModal([&](QDialog& dialog) {
            auto* preview = qobject_cast<ReportPreview*>(&dialog);
            if (!preview)
                return 0;
            preview->previewWidget()->updatePreview();
            previewPages = preview->previewWidget()->pageCount();
            laidOutPages = int(preview->layout(reportContentSize()).pages.size());
            preview->savePdfAction()->trigger();
            return 0;
        });
        command->trigger();
        if (previewPages != laidOutPages)
            return QString("preview pages %1, laid out %2").arg(previewPages).arg(laidOutPages);
        return pdfText(pdf);
    };

    const QString first = show(f.home.file("first.pdf"));
    for (const QString& t : before)
        QVERIFY2(first.contains(t), qPrintable(t + " not in: " + first));
    QVERIFY2(first.contains(kPrintedText.left(10)), qPrintable(first));
    f.sql(change);
    const QString second = show(f.home.file("second.pdf"));
    for (const QString& t : after)
        QVERIFY2(second.contains(t), qPrintable(t + " not in: " + second));
    for (const QString& t : gone)
        QVERIFY2(!second.contains(t), qPrintable(t + " still in: " + second));
    QCOMPARE(f.dialogs.texts("modal").size(), 2);
    QCOMPARE(f.dialogs.texts("save"), (QStringList{"Save as PDF", "Save as PDF"}));
    QVERIFY(f.dialogs.texts("message").isEmpty());
}

void TestActivityReports::savePdf_failureIsReported_data()
{
    QTest::addColumn<QString>("target"); // under the program folder
    QTest::newRow("missing folder") << "no/such/folder/report.pdf";
    QTest::newRow("a folder") << "Backups";
}

void TestActivityReports::savePdf_failureIsReported()
{
    QFETCH(QString, target);
    test::MainWindowFixture f;
    f.create();
    QDir(f.home.path()).mkdir("Backups");
    const QString path = f.home.file(target);
    f.dialogs.queuePath(path);
    f.dialogs.queueModal([](QDialog& dialog) {
        static_cast<ReportPreview&>(dialog).savePdfAction()->trigger();
        return 0;
    });
    f.window->Action30->trigger();
    const QStringList shown = f.dialogs.texts("message");
    const QString lead = pdfNotWrittenText(path, QString());
    QVERIFY2(shown.size() == 1 && shown.first().startsWith(lead) && shown.first() != lead,
             qPrintable(shown.join('|')));
    QVERIFY(!QFileInfo(path).isFile());
}

void TestActivityReports::engineError_isShownAndNothingOpens_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("table");
    for (const char* a : {"Action30", "Action29", "ClearHistory"})
        QTest::newRow(a) << a << "EmailHistory";
    for (const char* a : {"Action31", "Action28", "Action27"})
        QTest::newRow(a) << a << "EmailBeingSent";
}

void TestActivityReports::engineError_isShownAndNothingOpens()
{
    QFETCH(QString, action);
    QFETCH(QString, table);
    test::MainWindowFixture f;
    f.create();
    f.sql("drop table " + table);
    f.dialogs.queueAnswer(Answer::Yes);
    f.find<QAction>(qPrintable(action))->trigger();
    const QStringList errors = f.dialogs.texts("error");
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains("no such table", Qt::CaseInsensitive),
             qPrintable(errors.first()));
    QVERIFY(f.dialogs.texts("modal").isEmpty());
    QVERIFY(f.dialogs.texts("message").isEmpty());
}

void TestActivityReports::clearHistory_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<int>("runsLeft");
    QTest::addColumn<QStringList>("messages");
    QTest::newRow("No keeps the history") << Answer::No << 2 << QStringList{};
    QTest::newRow("Yes empties it")
        << Answer::Yes << 0 << QStringList{ReportCommands::historyClearedText()};
}

void TestActivityReports::clearHistory()
{
    QFETCH(Answer, answer);
    QFETCH(int, runsLeft);
    QFETCH(QStringList, messages);
    test::MainWindowFixture f;
    f.create();
    f.sql(runRecord("03/01/2026 09:00:00", "2026-03-01 09:10:00", "Spring news", 8, 8,
                    "New Mailing", "8"));
    f.sql(runRecord("06/01/2026 09:00:00", "2026-06-01 09:10:00", "Summer news", 9, 9, "Resend",
                    "9"));
    f.dialogs.queueAnswer(answer);
    f.window->ClearHistory->trigger();
    QCOMPARE(f.dialogs.texts("ask"), QStringList{ReportCommands::clearHistoryQuestion()});
    QCOMPARE(f.dialogs.shown().first().buttons, Buttons::YesNo);
    QCOMPARE(f.dialogs.texts("message"), messages);
    QCOMPARE(f.localConnect.scalar("select count(*) from EmailHistory").toInt(), runsLeft);
}

QTEST_MAIN(TestActivityReports)
#include "tst_activityreports.moc"
