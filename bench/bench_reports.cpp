// Times the activity reports on a big queue: reading the query, laying the
// pages out, writing the PDF file and filling the print preview, and how
// long the preview takes to show its last page.
//
//   bench_reports [rows] [--png prefix]   (default 50000; --png also renders
//                                           the first page of each report and
//                                           its preview window)
#include "app/ActivityReports.h"
#include "app/ReportPreview.h"
#include "BenchTiming.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "core/Shell.h"
#include "data/Database.h"

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPrintPreviewWidget>
#include <QTemporaryDir>

#include <cstdio>

using namespace bv;
using namespace bv::app;

using bv::bench::residentKb;
using bv::bench::timeIt;

namespace {

// The preview never asks anything here.
class NoDialogs : public Dialogs
{
public:
    void message(const QString&, Severity) override {}
    Answer ask(const QString&, Buttons) override { return Answer::No; }
    Answer askSwitchable(const QString&, bool&) override { return Answer::No; }
    QString openFile(const FileRequest&) override { return {}; }
    QString saveFile(const FileRequest&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
    bool print(QPrinter&) override { return false; }
    int execModal(QDialog&) override { return 0; }
    void showError(const QString&) override {}
};

class NoShell : public Shell
{
public:
    bool openUrl(const QUrl&) override { return false; }
    bool startProgram(const QString&, const QStringList&) override { return false; }
};

void report(const char* what, double seconds)
{
    std::printf("%-44s %9.3f s   %7ld MB resident\n", what, seconds, residentKb() / 1024);
    std::fflush(stdout);
}

// A queue of the usual mix: most rows sent, some failed with a server's
// reply, some skipped, some pending, a few with a long logged text.
void fillQueue(data::Connection& db, int rows)
{
    const QString longText =
        QStringLiteral("Your message was sent, but also logged this error: ") +
        QStringLiteral("451 4.7.1 Greylisted, please try again later. ").repeated(60);
    data::Transaction t(db);
    for (int i = 0; i < rows; ++i) {
        const int kind = i % 20;
        const bool sent = kind < 12 || kind == 19;
        const bool error = (kind >= 12 && kind < 17) || kind == 19;
        QString message;
        if (kind >= 12 && kind < 16)
            message =
                QStringLiteral(
                    "550 5.1.1 <person%1@example.org>: Recipient address rejected: User unknown in "
                    "virtual mailbox table; the server said so twice")
                    .arg(i);
        else if (kind == 16)
            message = QStringLiteral("Skipped due to Invalid Email Address.");
        else if (kind == 19 && i % 1000 == 19)
            message = longText;
        db.execute(
            QStringLiteral(
                "insert into EmailBeingSent (Salutation, FirstName, LastName, Email, List, Sent, "
                "ErrorMsg, Error, EmailDate) values ('Mr.', :f, :l, :e, 'Customers', :s, :m, "
                ":x, '2026-12-08 13:15:33')"),
            {{QStringLiteral("f"), QStringLiteral("First%1").arg(i)},
             {QStringLiteral("l"), QStringLiteral("Lastname%1").arg(i)},
             {QStringLiteral("e"), QStringLiteral("person%1@example.org").arg(i)},
             {QStringLiteral("s"), sent},
             {QStringLiteral("m"), message},
             {QStringLiteral("x"), error}});
    }
    for (int i = 0; i < 200; ++i)
        db.execute(QStringLiteral(
            "insert into EmailHistory (StartTime, EndTime, Subject, List, \"From\", ListCount, "
            "AttemptCount, Operation, SuccessCount) values ('12/08/2026 13:15:33', "
            "'2026-12-08 14:15:33', 'December news', 'Customers', 'Sales <sales@example.com>', "
            "50000, 50000, 'New Mailing', 49000)"));
    t.commit();
}

void renderFirstPage(const ReportLayout& layout, const QString& path)
{
    constexpr double dpi = 110;
    QImage image(int(8.5 * dpi), int(11 * dpi), QImage::Format_RGB32);
    image.setDotsPerMeterX(int(dpi / 0.0254));
    image.setDotsPerMeterY(int(dpi / 0.0254));
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0.25 * dpi, 0.25 * dpi); // the 6.35 mm margins
    paintReportPage(layout.pages.front(), painter);
    painter.end();
    image.save(path);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int rows = 50000;
    QString png;
    for (int i = 1; i < argc; ++i) {
        if (QString::fromLocal8Bit(argv[i]) == QLatin1String("--png") && i + 1 < argc)
            png = QString::fromLocal8Bit(argv[++i]);
        else
            rows = QString::fromLocal8Bit(argv[i]).toInt();
    }
    QTemporaryDir dir;
    data::Connection db;
    db.open(dir.path());
    report("fill queue", timeIt([&] { fillQueue(db, rows); }));

    SystemClock clock;
    NoDialogs dialogs;
    NoShell shell;
    Services services{clock, dialogs, shell, dir.path() + QLatin1Char('/')};
    for (const ReportDefinition& def : reportDefinitions()) {
        std::printf("%s\n", qPrintable(def.title));
        data::Query query(db);
        query.setSql(def.sql);
        report("  open query", timeIt([&] { query.open(); }));
        ReportLayout layout;
        report("  lay out", timeIt([&] {
                   layout = layoutReport(def, query.rows(), clock.now(), reportContentSize());
               }));
        std::printf("  %d rows, %d pages\n", query.recordCount(), int(layout.pages.size()));
        const QString pdf = dir.filePath(def.name + QStringLiteral(".pdf"));
        report("  write PDF", timeIt([&] { writeReportPdf(layout, def.title, pdf); }));
        std::printf("  %lld KB PDF\n", QFileInfo(pdf).size() / 1024);
        ReportPreview preview(services, def, query.rows(), clock.now());
        QPrintPreviewWidget* widget = preview.previewWidget();
        report("  preview: lay out and record every page",
               timeIt([&] { widget->updatePreview(); }));
        preview.show();
        QPixmap shown;
        report("  preview: show first page", timeIt([&] { shown = preview.grab(); }));
        if (!png.isEmpty())
            shown.save(png + QStringLiteral("-preview-") + def.name + QStringLiteral(".png"));
        report("  preview: go to last page and show it", timeIt([&] {
                   widget->setCurrentPage(widget->pageCount());
                   preview.grab();
               }));
        if (!png.isEmpty())
            renderFirstPage(layout, png + QLatin1Char('-') + def.name + QStringLiteral(".png"));
    }
    return 0;
}
