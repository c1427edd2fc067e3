#include "app/ReportPreview.h"

#include "core/Dialogs.h"
#include "core/Services.h"

#include <QAction>
#include <QGuiApplication>
#include <QPainter>
#include <QPrinter>
#include <QPrintPreviewWidget>
#include <QToolBar>

namespace bv::app {

namespace {

// Laying out a report of a big queue takes seconds; the pointer says so.
struct BusyCursor
{
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace

ReportPreview::ReportPreview(Services& services, const ReportDefinition& report,
                             const data::ResultSet& rows, const QDateTime& printedAt,
                             QWidget* parent)
    : QPrintPreviewDialog(parent), m_services(services), m_report(report), m_rows(rows),
      m_printedAt(printedAt)
{
    setObjectName(report.name);
    setWindowTitle(report.title);
    printer()->setPageLayout(reportPageLayout());
    printer()->setDocName(report.title);
    connect(this, &QPrintPreviewDialog::paintRequested, this, &ReportPreview::paint);

    m_savePdf = new QAction(savePdfCaption(), this);
    m_savePdf->setObjectName(QStringLiteral("actSaveAsPdf"));
    connect(m_savePdf, &QAction::triggered, this, &ReportPreview::saveAsPdf);
    if (auto* bar = findChild<QToolBar*>()) {
        bar->addSeparator();
        bar->addAction(m_savePdf);
    } else {
        addAction(m_savePdf);
    }
    resize(900, 1000);
}

QPrintPreviewWidget* ReportPreview::previewWidget() const
{
    return findChild<QPrintPreviewWidget*>();
}

const ReportLayout& ReportPreview::layout(const QSizeF& contentSize)
{
    if (!m_laidOut || m_layout.contentSize != contentSize) {
        m_layout = layoutReport(m_report, m_rows, m_printedAt, contentSize);
        m_laidOut = true;
    }
    return m_layout;
}

void ReportPreview::paint(QPrinter* target)
{
    const BusyCursor busy;
    const ReportLayout& pages = layout(target->pageLayout().paintRect(QPageLayout::Point).size());
    QPainter painter(target);
    paintReport(pages, painter, *target);
}

void ReportPreview::saveAsPdf()
{
    FileRequest request;
    request.title = QStringLiteral("Save as PDF");
    request.filter = QStringLiteral("PDF Files (*.PDF)|*.PDF|Any File (*.*)|*.*");
    request.defaultExt = QStringLiteral("pdf");
    request.initialDir = m_services.programFolder;
    request.fileName = m_report.footerName + QStringLiteral(".pdf");
    const QString path = m_services.dialogs.saveFile(request);
    if (path.isEmpty())
        return;
    // The file keeps the report's own page, whatever the preview shows.
    QString failure;
    {
        const BusyCursor busy;
        failure = writeReportPdf(layout(reportContentSize()), m_report.title, path);
    }
    if (!failure.isEmpty())
        m_services.dialogs.message(pdfNotWrittenText(path, failure), Severity::Error);
}

} // namespace bv::app
