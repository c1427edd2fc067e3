#include "app/ActivityReports.h"

#include "data/Schema.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <array>
#include <functional>

namespace bv::app {

namespace {

// Fonts are sized in tenths of a point, as pixels, so that measuring does not
// depend on any screen and is fine enough to ignore hinting.
constexpr double kUnitsPerPoint = 10.0;
constexpr int kStyles = int(ItemStyle::Footer) + 1;

QFont reportFont(ItemStyle style)
{
    struct Spec
    {
        double points;
        bool bold;
    };
    static constexpr std::array<Spec, kStyles> specs{{
        {14, true},   // Title
        {9, true},    // Label
        {9, false},   // Value
        {9, true},    // Heading
        {10, true},   // Status
        {9, false},   // Field
        {8.5, false}, // Message
        {8, false},   // Footer
    }};
    const Spec s = specs[size_t(style)];
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(int(s.points * kUnitsPerPoint));
    f.setBold(s.bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setKerning(true);
    return f;
}

class Metrics
{
public:
    Metrics()
    {
        for (int i = 0; i < kStyles; ++i) {
            m_fonts.push_back(reportFont(ItemStyle(i)));
            m_metrics.emplace_back(m_fonts.back());
        }
    }

    const QFont& font(ItemStyle s) const { return m_fonts[size_t(s)]; }
    double width(ItemStyle s, const QString& text) const
    {
        return m_metrics[size_t(s)].horizontalAdvance(text) / kUnitsPerPoint;
    }
    double lineHeight(ItemStyle s) const
    {
        return m_metrics[size_t(s)].lineSpacing() / kUnitsPerPoint;
    }

    // Lines no wider than width: broken at blanks where it can, inside a word
    // longer than a line where it must, and at every line break. Nothing is
    // lost but the blanks at the breaks; control characters become blanks.
    QStringList wrap(ItemStyle style, const QString& text, double width) const;

private:
    // How many leading characters of word fit into width; at least one
    // character (both halves of a surrogate pair), so wrapping always ends.
    qsizetype fitChars(ItemStyle style, const QString& word, double width) const;
    void wrapParagraph(ItemStyle style, const QString& para, double width, QStringList& out) const;

    std::vector<QFont> m_fonts;
    std::vector<QFontMetricsF> m_metrics;
};

qsizetype Metrics::fitChars(ItemStyle style, const QString& word, double width) const
{
    qsizetype lo = 1, hi = word.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (this->width(style, word.left(mid)) <= width)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo < word.size() && word.at(lo).isLowSurrogate())
        lo = lo > 1 ? lo - 1 : lo + 1;
    return lo;
}

void Metrics::wrapParagraph(ItemStyle style, const QString& para, double width,
                            QStringList& out) const
{
    if (this->width(style, para) <= width) {
        out << para;
        return;
    }
    const double space = this->width(style, QStringLiteral(" "));
    QString line;
    double lineWidth = 0;
    auto flush = [&] {
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        out << line;
        line.clear();
        lineWidth = 0;
    };
    for (QString word : para.split(QLatin1Char(' '))) {
        const double w = this->width(style, word);
        if (!line.isEmpty()) {
            // Adding widths ignores shaping across the blank; near the edge
            // the candidate line is measured whole.
            double candidate = lineWidth + space + w;
            if (candidate > width * 0.97)
                candidate = this->width(style, line + QLatin1Char(' ') + word);
            if (candidate <= width) {
                line += QLatin1Char(' ') + word;
                lineWidth = candidate;
                continue;
            }
            flush();
        }
        if (word.isEmpty())
            continue; // blanks at a break
        double rest = w;
        while (rest > width) {
            const qsizetype n = fitChars(style, word, width);
            out << word.left(n);
            word = word.mid(n);
            rest = this->width(style, word);
        }
        line = word;
        lineWidth = rest;
    }
    if (!line.isEmpty())
        flush();
}

QStringList Metrics::wrap(ItemStyle style, const QString& text, double width) const
{
    QString clean = text;
    clean.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar& c : clean) {
        if (c == QLatin1Char('\r'))
            c = QLatin1Char('\n');
        else if (c != QLatin1Char('\n') &&
                 (c.category() == QChar::Other_Control || c == QChar::Tabulation))
            c = QLatin1Char(' ');
    }
    while (clean.endsWith(QLatin1Char('\n')) || clean.endsWith(QLatin1Char(' ')))
        clean.chop(1);
    QStringList out;
    if (clean.isEmpty())
        return out;
    for (const QString& para : clean.split(QLatin1Char('\n')))
        wrapParagraph(style, para, width, out);
    return out;
}

// Places items on pages from the top down and starts a new page, with its
// page header, when the next piece does not fit above the footer.
class Composer
{
public:
    Composer(const Metrics& metrics, const QSizeF& size) : m(metrics), m_size(size)
    {
        m_bottom = size.height() - m.lineHeight(ItemStyle::Footer) - kFooterGap;
        m_layout.contentSize = size;
        m_layout.pages.emplace_back();
    }

    static constexpr double kFooterGap = 6;

    const Metrics& metrics() const { return m; }
    double width() const { return m_size.width(); }
    double y() const { return m_y; }
    void advance(double dy) { m_y += dy; }

    // From here on every page starts with header().
    void beginBody(std::function<void(Composer&)> header)
    {
        m_header = std::move(header);
        const double top = m_y;
        if (m_header)
            m_header(*this);
        m_headerHeight = m_y - top;
        m_bodyTop = m_y;
    }
    // The height a body piece has on a page of its own.
    double fullRoom() const { return m_bottom - m_headerHeight; }

    // Breaks the page unless height fits below; a page with no body yet
    // takes the piece whatever its height.
    void ensure(double height)
    {
        if (m_y + height > m_bottom && m_y > m_bodyTop + 0.01)
            newPage();
    }

    void text(ItemStyle style, double x, double width, const QString& s,
              Qt::Alignment align = Qt::AlignLeft)
    {
        page().items.push_back({style, QRectF(x, m_y, width, m.lineHeight(style)), s, align});
    }
    // The lines of a wrapped text, one under the other from the current y.
    void lines(ItemStyle style, double x, double width, const QStringList& ls, double y0)
    {
        const double lh = m.lineHeight(style);
        for (int i = 0; i < ls.size(); ++i)
            page().items.push_back(
                {style, QRectF(x, y0 + i * lh, width, lh), ls.at(i), Qt::AlignLeft});
    }
    void rule(double x1, double x2, double y) { page().rules.emplace_back(x1, y, x2, y); }

    ReportLayout finish(const QString& footerName, const QString& printedAt)
    {
        const int n = int(m_layout.pages.size());
        const double lh = m.lineHeight(ItemStyle::Footer);
        const double y = m_size.height() - lh;
        const double third = m_size.width() / 3;
        for (int i = 0; i < n; ++i) {
            ReportPage& p = m_layout.pages[size_t(i)];
            p.rules.emplace_back(0, y - kFooterGap / 2, m_size.width(), y - kFooterGap / 2);
            p.items.push_back(
                {ItemStyle::Footer, QRectF(0, y, third, lh), printedAt, Qt::AlignLeft});
            p.items.push_back(
                {ItemStyle::Footer, QRectF(third, y, third, lh), footerName, Qt::AlignHCenter});
            p.items.push_back({ItemStyle::Footer, QRectF(2 * third, y, third, lh),
                               pageDescription(i + 1, n), Qt::AlignRight});
        }
        return std::move(m_layout);
    }

private:
    ReportPage& page() { return m_layout.pages.back(); }
    void newPage()
    {
        m_layout.pages.emplace_back();
        m_y = 0;
        if (m_header)
            m_header(*this);
        m_bodyTop = m_y;
    }

    const Metrics& m;
    QSizeF m_size;
    ReportLayout m_layout;
    std::function<void(Composer&)> m_header;
    double m_y = 0;
    double m_bottom = 0;
    double m_bodyTop = 0;
    double m_headerHeight = 0;
};

// One field of a source's rows; its position is looked up once.
class Column
{
public:
    Column(const data::ResultSet& rows, const char* name)
        : m_rows(rows), m_name(QString::fromLatin1(name)), m_index(rows.columnIndex(m_name))
    {
    }
    QVariant value(int row) const
    {
        return m_index < 0 ? QVariant() : m_rows.rows[size_t(row)].value(m_index);
    }
    QString text(int row) const { return defaultText(m_name, value(row)); }

private:
    const data::ResultSet& m_rows;
    QString m_name;
    int m_index;
};

struct Span
{
    double x, width;
};

// Columns side by side, each taking its share of the width.
template <size_t N> std::array<Span, N> columns(const std::array<double, N>& shares, double width)
{
    std::array<Span, N> out{};
    double x = 0;
    for (size_t i = 0; i < N; ++i) {
        out[i] = {x, width * shares[i]};
        x += out[i].width;
    }
    return out;
}

void layoutRunBlocks(Composer& c, const data::ResultSet& rows)
{
    const Column list(rows, "List"), listCount(rows, "ListCount"), operation(rows, "Operation");
    const Column startTime(rows, "StartTime"), attemptCount(rows, "AttemptCount"),
        from(rows, "From");
    const Column endTime(rows, "EndTime"), successCount(rows, "SuccessCount"),
        subject(rows, "Subject");
    const Metrics& m = c.metrics();
    static const std::array<std::array<const char*, 3>, 4> labels{{
        {"List:", "Total List Count:", "Email Activity:"},
        {"Start Time:", "Emails Attempted:", "From:"},
        {"End Time:", "Emails Sent:", "Subject:"},
        {nullptr, "Emails Not Sent:", nullptr},
    }};
    const auto cols = columns<3>({0.31, 0.27, 0.42}, c.width());
    std::array<double, 3> colX{}, labelW{}, valueW{};
    for (size_t col = 0; col < 3; ++col) {
        colX[col] = cols[col].x;
        for (const auto& row : labels)
            if (row[col])
                labelW[col] = std::max(
                    labelW[col], m.width(ItemStyle::Label, QString::fromLatin1(row[col])) + 4);
        valueW[col] = cols[col].width - labelW[col] - 6;
    }
    const double lh = m.lineHeight(ItemStyle::Value);
    constexpr double kGap = 8;

    c.beginBody({});
    for (int r = 0; r < rows.size(); ++r) {
        const qlonglong notSent =
            attemptCount.value(r).toLongLong() - successCount.value(r).toLongLong();
        const std::array<std::array<QString, 3>, 4> values{{
            {list.text(r), listCount.text(r), operation.text(r)},
            {startTime.text(r), attemptCount.text(r), from.text(r)},
            {endTime.text(r), successCount.text(r), subject.text(r)},
            {QString(), QString::number(notSent), QString()},
        }};
        std::array<std::array<QStringList, 3>, 4> wrapped;
        std::array<double, 4> rowH{};
        double blockH = kGap;
        for (int row = 0; row < 4; ++row) {
            int n = 1;
            for (int col = 0; col < 3; ++col) {
                wrapped[row][col] = m.wrap(ItemStyle::Value, values[row][col], valueW[col]);
                n = std::max(n, int(wrapped[row][col].size()));
            }
            rowH[row] = n * lh;
            blockH += rowH[row];
        }
        c.ensure(blockH);
        for (int row = 0; row < 4; ++row) {
            for (int col = 0; col < 3; ++col) {
                if (!labels[row][col])
                    continue;
                c.text(ItemStyle::Label, colX[col], labelW[col],
                       QString::fromLatin1(labels[row][col]));
                c.lines(ItemStyle::Value, colX[col] + labelW[col], valueW[col], wrapped[row][col],
                        c.y());
            }
            c.advance(rowH[row]);
        }
        c.rule(0, c.width(), c.y() + kGap / 2);
        c.advance(kGap);
    }
}

void layoutQueueListing(Composer& c, const ReportDefinition& report, const data::ResultSet& rows)
{
    const std::array<Column, 5> fields{Column(rows, "Salutation"), Column(rows, "FirstName"),
                                       Column(rows, "LastName"), Column(rows, "Email"),
                                       Column(rows, "List")};
    const Column errorMsg(rows, "ErrorMsg"), sentField(rows, "Sent"), errorField(rows, "Error");
    const Metrics& m = c.metrics();
    const auto cols = columns<5>({0.08, 0.17, 0.19, 0.38, 0.18}, c.width());
    std::array<double, 5> colX{}, colW{};
    for (size_t i = 0; i < cols.size(); ++i) {
        colX[i] = cols[i].x;
        colW[i] = cols[i].width - 4;
    }
    const double messageX = colX[1];
    const double messageW = c.width() - messageX;
    const double fieldLH = m.lineHeight(ItemStyle::Field);
    const double messageLH = m.lineHeight(ItemStyle::Message);
    const double statusLH = m.lineHeight(ItemStyle::Status);
    constexpr double kGap = 3;

    const QString dateLabel = QStringLiteral("Email Date:");
    const double dateX = m.width(ItemStyle::Label, dateLabel) + 4;
    c.text(ItemStyle::Label, 0, dateX, dateLabel);
    c.text(ItemStyle::Value, dateX, c.width() - dateX, Column(rows, "EmailDate").text(0));
    c.advance(m.lineHeight(ItemStyle::Value) + 8);

    c.beginBody([&](Composer& h) {
        static const std::array<const char*, 5> headings{"(Sal.)", "FirstName", "LastName", "Email",
                                                         "List"};
        for (size_t i = 0; i < headings.size(); ++i)
            h.text(ItemStyle::Heading, colX[i], colW[i], QString::fromLatin1(headings[i]));
        h.advance(m.lineHeight(ItemStyle::Heading));
        h.text(ItemStyle::Heading, messageX, messageW, report.messageHeader);
        h.advance(m.lineHeight(ItemStyle::Heading) + 2);
        h.rule(0, h.width(), h.y());
        h.advance(4);
    });

    int group = -1;
    for (int r = 0; r < rows.size(); ++r) {
        std::array<QStringList, 5> cells;
        int n = 1;
        for (int i = 0; i < 5; ++i) {
            cells[size_t(i)] = m.wrap(ItemStyle::Field, fields[size_t(i)].text(r), colW[size_t(i)]);
            n = std::max(n, int(cells[size_t(i)].size()));
        }
        const double fieldsH = n * fieldLH;
        const QStringList message = m.wrap(ItemStyle::Message, errorMsg.text(r), messageW);
        const double entryH = fieldsH + message.size() * messageLH + kGap;
        // An entry stays on one page when a page can hold it; a longer one
        // starts with its fields and first message line together.
        const double start =
            entryH <= c.fullRoom() ? entryH : fieldsH + (message.isEmpty() ? 0 : messageLH);

        if (report.grouped) {
            const bool sent = sentField.value(r).toBool(), error = errorField.value(r).toBool();
            const int g = (sent ? 2 : 0) + (error ? 1 : 0);
            if (g != group) {
                group = g;
                c.ensure(statusLH + 2 + start);
                c.text(ItemStyle::Status, 0, c.width(), queueStatusText(sent, error));
                c.advance(statusLH + 2);
            }
        }
        c.ensure(start);
        for (int i = 0; i < 5; ++i)
            c.lines(ItemStyle::Field, colX[size_t(i)], colW[size_t(i)], cells[size_t(i)], c.y());
        c.advance(fieldsH);
        for (const QString& line : message) {
            c.ensure(messageLH);
            c.lines(ItemStyle::Message, messageX, messageW, {line}, c.y());
            c.advance(messageLH);
        }
        c.advance(kGap);
    }
}

} // namespace

const std::vector<ReportDefinition>& reportDefinitions()
{
    using B = ReportDefinition::Body;
    static const std::vector<ReportDefinition> defs{
        {ReportKind::EmailHistory,
         QStringLiteral("rpEmailHistory"),
         QStringLiteral("aqEmailHistory"),
         QStringLiteral("select * from EmailHistory order by StartTime DESC"),
         QStringLiteral("Email Log  - Email History"),
         QStringLiteral("Email History"),
         B::RunBlocks,
         false,
         {}},
        {ReportKind::LastEmailSummary,
         QStringLiteral("rpLastEmailSummary"),
         QStringLiteral("aqLastEmailSummary"),
         QStringLiteral("select top 1 * from EmailHistory order by StartTime DESC"),
         QStringLiteral("Email Log  - Summary of Last Email Activity"),
         QStringLiteral("Email Summary"),
         B::RunBlocks,
         false,
         {}},
        {ReportKind::LastEmailAll, QStringLiteral("rpLastEmailAll"),
         QStringLiteral("aqLastEmailAll"),
         QStringLiteral("select * from emailbeingsent order by sent, error"),
         QStringLiteral("Email Log  - Listing of All Last Email Activity"),
         QStringLiteral("Complete Log"), B::QueueListing, true,
         QStringLiteral("Error Message, If Any")},
        {ReportKind::LastEmailErrors, QStringLiteral("rpLastEmailErrors"),
         QStringLiteral("aqLastEmailErrors"),
         QStringLiteral("select * from emailbeingsent where error = True"),
         QStringLiteral("Email Log  - Listing of Errors during Last Email Activity"),
         QStringLiteral("Error Log"), B::QueueListing, false, QStringLiteral("Error Message")},
        {ReportKind::LastEmailSuccess, QStringLiteral("rpLastEmailSuccess"),
         QStringLiteral("aqLastEmailSuccess"),
         QStringLiteral("select * from emailbeingsent where Sent=True and Error=False"),
         QStringLiteral("Email Log  - Listing of Successes during Last Email Activity"),
         QStringLiteral("Success Log"), B::QueueListing, false,
         QStringLiteral("Error Message, If Any")},
    };
    return defs;
}

const ReportDefinition& reportDefinition(ReportKind kind)
{
    return reportDefinitions()[size_t(kind)];
}

QString queueStatusText(bool sent, bool error)
{
    if (sent)
        return error ? QStringLiteral("STATUS: Sent With Errors") : QStringLiteral("STATUS: Sent");
    return error ? QStringLiteral("STATUS: Errors") : QStringLiteral("STATUS: Yet To Be Sent");
}

QString pageDescription(int page, int pageCount)
{
    return QStringLiteral("Page %1 of %2").arg(page).arg(pageCount);
}

QString defaultText(const QString& column, const QVariant& value)
{
    if (value.isNull() || !value.isValid())
        return {};
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toString(QStringLiteral("MM/dd/yyyy HH:mm:ss"));
    const QString s = value.toString();
    if (data::isTimestampField(column) && s.size() >= 10 && s.at(4) == QLatin1Char('-') &&
        s.at(7) == QLatin1Char('-'))
        return s.mid(5, 2) + QLatin1Char('/') + s.mid(8, 2) + QLatin1Char('/') + s.left(4) +
               s.mid(10);
    return s;
}

QPageLayout reportPageLayout()
{
    return QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                       QMarginsF(6.35, 6.35, 6.35, 6.35), QPageLayout::Millimeter);
}

QSizeF reportContentSize()
{
    return reportPageLayout().paintRect(QPageLayout::Point).size();
}

double textWidth(ItemStyle style, const QString& text)
{
    return Metrics().width(style, text);
}

ReportLayout layoutReport(const ReportDefinition& report, const data::ResultSet& rows,
                          const QDateTime& printedAt, const QSizeF& contentSize)
{
    const Metrics metrics;
    Composer c(metrics, contentSize);
    for (const QString& line : metrics.wrap(ItemStyle::Title, report.title, contentSize.width())) {
        c.text(ItemStyle::Title, 0, contentSize.width(), line, Qt::AlignHCenter);
        c.advance(metrics.lineHeight(ItemStyle::Title));
    }
    c.advance(8);
    if (!rows.isEmpty()) {
        if (report.body == ReportDefinition::Body::RunBlocks)
            layoutRunBlocks(c, rows);
        else
            layoutQueueListing(c, report, rows);
    }
    return c.finish(report.footerName, printedAt.toString(QStringLiteral("MM/dd/yyyy HH:mm:ss")));
}

void paintReportPage(const ReportPage& page, QPainter& painter)
{
    const Metrics metrics;
    const QPaintDevice* device = painter.device();
    painter.save();
    painter.scale(device->logicalDpiX() / 72.0 / kUnitsPerPoint,
                  device->logicalDpiY() / 72.0 / kUnitsPerPoint);
    painter.setPen(QPen(Qt::black, 0.5 * kUnitsPerPoint));
    for (const QLineF& rule : page.rules)
        painter.drawLine(QLineF(rule.p1() * kUnitsPerPoint, rule.p2() * kUnitsPerPoint));
    int current = -1;
    for (const ReportItem& item : page.items) {
        if (int(item.style) != current) {
            current = int(item.style);
            painter.setFont(metrics.font(item.style));
        }
        const QRectF r(item.rect.topLeft() * kUnitsPerPoint, item.rect.size() * kUnitsPerPoint);
        painter.drawText(r, int(item.align | Qt::AlignTop | Qt::TextSingleLine), item.text);
    }
    painter.restore();
}

void paintReport(const ReportLayout& layout, QPainter& painter, QPagedPaintDevice& device)
{
    for (size_t i = 0; i < layout.pages.size(); ++i) {
        if (i > 0)
            device.newPage();
        paintReportPage(layout.pages[i], painter);
    }
}

QString pdfNotWrittenText(const QString& path, const QString& reason)
{
    return QStringLiteral("The report could not be saved as \"") + path + QStringLiteral("\": ") +
           reason;
}

QString writeReportPdf(const ReportLayout& layout, const QString& title, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(reportPageLayout());
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("Brevicast"));
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.cancelWriting();
            return QStringLiteral("The PDF writer could not start.");
        }
        paintReport(layout, painter, writer);
        painter.end();
    }
    if (!file.commit())
        return file.errorString();
    return {};
}

} // namespace bv::app
