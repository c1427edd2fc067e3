#include "DbImport.h"

#include "BulkAppend.h"
#include "ValidateEmail.h"
#include "core/TextFile.h"
#include "data/Schema.h"
#include "data/TableView.h"

#include <QFile>
#include <QFileInfo>

namespace bv::lists {

namespace {

bool isBlank(QChar c)
{
    return c.unicode() <= 0x20;
}

QStringView trimmedView(QStringView s)
{
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && isBlank(s[from]))
        ++from;
    while (to > from && isBlank(s[to - 1]))
        --to;
    return s.mid(from, to - from);
}

// The lines of text one after another, without a list of them all: a file
// of a million lines is read once.
class LineReader
{
public:
    explicit LineReader(const QString& text) : m_text(text) {}
    bool atEnd() const { return m_pos >= m_text.size(); }
    QString next()
    {
        const qsizetype start = m_pos;
        qsizetype i = start;
        while (i < m_text.size() && m_text[i] != QLatin1Char('\r') &&
               m_text[i] != QLatin1Char('\n'))
            ++i;
        m_pos = i + 1;
        if (i < m_text.size() && m_text[i] == QLatin1Char('\r') && m_pos < m_text.size() &&
            m_text[m_pos] == QLatin1Char('\n'))
            ++m_pos;
        return m_text.mid(start, i - start);
    }

private:
    const QString& m_text;
    qsizetype m_pos = 0;
};

QString readCsvText(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw CsvFileError(unreadableCsvText(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw CsvFileError(unreadableCsvText(fileName, file.errorString()));
    QString text = decodeText(bytes);
    // Spreadsheet programs start their UTF-8 files with a byte-order mark;
    // left on, it would hide the first column's name.
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

// Header column -> position of the table field it names, or -1.
QList<int> matchHeader(QString header, const data::TableDef& table)
{
    QList<int> columns;
    while (!header.isEmpty() && columns.size() < MaxCsvColumns) {
        const QString name = NextCsvField(header);
        int field = -1;
        for (size_t i = 0; i < table.fields.size(); ++i)
            if (table.fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
                field = int(i);
        columns << field;
    }
    return columns;
}

} // namespace

QString NextCsvField(QString& line)
{
    const QStringView rest = trimmedView(line);
    if (rest.isEmpty()) {
        line.clear();
        return {};
    }
    QString value;
    QString after;
    if (rest.front() == QLatin1Char('"')) {
        const QStringView quoted = rest.mid(1);
        const qsizetype close = quoted.indexOf(QLatin1Char('"'));
        if (close < 0) {
            value = trimmedView(quoted).toString();
        } else {
            value = trimmedView(quoted.left(close)).toString();
            const qsizetype comma = quoted.indexOf(QLatin1Char(','), close + 1);
            if (comma >= 0)
                after = quoted.mid(comma + 1).toString();
        }
    } else {
        const qsizetype comma = rest.indexOf(QLatin1Char(','));
        if (comma < 0) {
            value = trimmedView(rest).toString();
        } else {
            value = trimmedView(rest.left(comma)).toString();
            after = rest.mid(comma + 1).toString();
        }
    }
    line = after;
    return value;
}

CsvImportResult ImportCsvFile(const QString& listName, const QString& fileName,
                              data::TableView& view)
{
    CsvImportResult result;
    if (!QFileInfo(fileName).isFile())
        return result;
    const QString text = readCsvText(fileName);
    LineReader lines(text);
    const data::TableDef& table = view.definition();
    const QList<int> columns = matchHeader(lines.next(), table);
    if (std::all_of(columns.begin(), columns.end(), [](int f) { return f < 0; })) {
        result.outcome = CsvImportOutcome::NoCommonFields;
        return result;
    }
    result.outcome = CsvImportOutcome::Imported;

    const bool wasOpen = view.isOpen();
    view.open();
    view.disableControls();
    const auto restoreView = [&] {
        view.cancel();
        view.enableControls();
        if (!wasOpen)
            view.close();
        else
            view.refresh();
    };

    // The view fits and checks each value as its own append would; the rows
    // are then written in bulk.
    QStringList fields;
    for (const data::FieldDef& f : table.fields)
        if (f.type != data::FieldType::AutoIncrement)
            fields << f.name;
    const bool hasList = table.field(QStringLiteral("List")) != nullptr;
    const bool hasSendTo = table.field(QStringLiteral("SendTo")) != nullptr;
    const qsizetype emailAt = fields.indexOf(QStringLiteral("Email"));
    const bool hasEmail = emailAt >= 0;
    QVariantList values;
    try {
        BulkAppend rows(view.connection(), table.name, fields, true);
        while (!lines.atEnd()) {
            QString line = lines.next();
            view.append();
            for (qsizetype column = 0; !line.isEmpty() && column < columns.size(); ++column) {
                const QString value = NextCsvField(line);
                if (columns[column] < 0)
                    continue;
                try {
                    view.setValue(table.fields[size_t(columns[column])].name, value);
                } catch (const data::DbError&) {
                    // A value the field cannot hold; the field keeps its default.
                }
            }
            if (hasList)
                view.setValue(QStringLiteral("List"), listName);
            if (hasSendTo)
                view.setValue(QStringLiteral("SendTo"), true);
            values.clear();
            for (const QString& f : std::as_const(fields))
                values << view.value(f);
            view.cancel();
            if (const QString why = hasEmail ? addressRefusal(values.at(emailAt).toString()) : QString();
                !why.isEmpty()) {
                if (result.refused++ == 0)
                    result.firstRefusal = why;
                continue;
            }
            try {
                rows.append(values);
            } catch (const data::DbError&) {
                commitBeforeFailure(rows);
                throw;
            }
        }
        rows.commit();
        result.rows = rows.count();
    } catch (...) {
        restoreView();
        throw;
    }
    restoreView();
    return result;
}

QString noCommonFieldsText()
{
    return QStringLiteral("No common field names were found between the") + QLatin1Char('\r') +
           QStringLiteral("destination data and your CSV file.  You might") + QLatin1Char('\r') +
           QStringLiteral("have a bad or missing header row.");
}

QString unreadableCsvText(const QString& fileName, const QString& reason)
{
    return QStringLiteral("The file %1 could not be read: %2").arg(fileName, reason);
}

FileRequest csvFileRequest(const QString& programFolder, bool exclusions)
{
    FileRequest r;
    r.title =
        exclusions ? QStringLiteral("Open Exclusion File") : QStringLiteral("Open Recipient File");
    r.filter = QStringLiteral("Comma Separated (*.CSV, *.TXT)|*.CSV;*.TXT|Any File (*.*)|*.*");
    r.initialDir = programFolder;
    return r;
}

} // namespace bv::lists
