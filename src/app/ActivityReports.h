#pragma once

#include "data/Database.h"

#include <QDateTime>
#include <QLineF>
#include <QPageLayout>
#include <QRectF>
#include <QString>

#include <vector>

class QPagedPaintDevice;
class QPainter;

namespace bv::app {

// The five printable reports of the mailing runs and of the last queue.
enum class ReportKind
{
    EmailHistory,
    LastEmailSummary,
    LastEmailAll,
    LastEmailErrors,
    LastEmailSuccess
};

struct ReportDefinition
{
    enum class Body
    {
        RunBlocks,
        QueueListing
    };

    ReportKind kind;
    QString name;      // rpEmailHistory
    QString queryName; // aqEmailHistory
    QString sql;       // the fixed statement on AdsConnection1
    QString title;
    QString footerName;
    Body body;
    bool grouped = false;  // queue rows under their Sent/Error status lines
    QString messageHeader; // second line of a listing's page header
};

const ReportDefinition& reportDefinition(ReportKind kind);
const std::vector<ReportDefinition>& reportDefinitions();

// The texts of the status lines over the Sent/Error groups.
QString queueStatusText(bool sent, bool error);
// "Page 2 of 5".
QString pageDescription(int page, int pageCount);
// A field as the reports print it: timestamps in the program's own
// "mm/dd/yyyy hh:nn:ss" form, logical values as True and False, NULL empty.
QString defaultText(const QString& column, const QVariant& value);

// US Letter, portrait, 6.35 mm margins on every side.
QPageLayout reportPageLayout();

// Laid-out report: pages of positioned text, in points from the top left of
// the page's printable area, so the same pages paint on any device.
enum class ItemStyle
{
    Title,
    Label,
    Value,
    Heading,
    Status,
    Field,
    Message,
    Footer
};

struct ReportItem
{
    ItemStyle style;
    QRectF rect;
    QString text; // one line; never wider than rect
    Qt::Alignment align = Qt::AlignLeft;
};

struct ReportPage
{
    std::vector<ReportItem> items;
    std::vector<QLineF> rules;
};

struct ReportLayout
{
    QSizeF contentSize; // points
    std::vector<ReportPage> pages;
};

// The width in points of a text in a style, as the layout measures it.
double textWidth(ItemStyle style, const QString& text);

// Lays the report out over the rows of its source; the page count is known
// before the footers are written, so each footer tells "Page n of m".
ReportLayout layoutReport(const ReportDefinition& report, const data::ResultSet& rows,
                          const QDateTime& printedAt, const QSizeF& contentSize);
// The content size of reportPageLayout() in points.
QSizeF reportContentSize();

// Paints one page with the painter's origin at the printable area's top left,
// scaled to the resolution of the painter's device.
void paintReportPage(const ReportPage& page, QPainter& painter);
// Paints every page onto a device the painter is active on.
void paintReport(const ReportLayout& layout, QPainter& painter, QPagedPaintDevice& device);

// Writes the report as a PDF file laid out on reportPageLayout(); the file is
// replaced only once it is complete. Returns an empty text, or why it failed.
QString writeReportPdf(const ReportLayout& layout, const QString& title, const QString& path);

// The text of a PDF save failure.
QString pdfNotWrittenText(const QString& path, const QString& reason);

} // namespace bv::app
