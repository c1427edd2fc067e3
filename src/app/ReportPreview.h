#pragma once

#include "app/ActivityReports.h"

#include <QPrintPreviewDialog>

class QAction;
class QPrintPreviewWidget;

namespace bv {
struct Services;
}

namespace bv::app {

// The print preview of one report: the user prints from here or saves the
// report as a PDF file.
class ReportPreview : public QPrintPreviewDialog
{
    Q_OBJECT
public:
    // rows must outlive the preview.
    ReportPreview(Services& services, const ReportDefinition& report, const data::ResultSet& rows,
                  const QDateTime& printedAt, QWidget* parent = nullptr);

    static QString savePdfCaption() { return QStringLiteral("Save as PDF..."); }

    QAction* savePdfAction() const { return m_savePdf; }
    QPrintPreviewWidget* previewWidget() const;
    // The pages as laid out for a content size in points; laid out again only
    // when the size changes (the user may pick another page in the preview).
    const ReportLayout& layout(const QSizeF& contentSize);

    // Asks for a file and writes the report there on the report's own page.
    void saveAsPdf();

private:
    void paint(QPrinter* printer);

    Services& m_services;
    const ReportDefinition& m_report;
    const data::ResultSet& m_rows;
    QDateTime m_printedAt;
    ReportLayout m_layout;
    bool m_laidOut = false;
    QAction* m_savePdf = nullptr;
};

} // namespace bv::app
