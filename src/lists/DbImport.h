#pragma once

#include "core/Dialogs.h"

#include <QString>

namespace bv::data {
class TableView;
}

namespace bv::lists {

// Removes the first value from the front of line and gives it. Values are
// separated by commas; a value that opens with a double quote runs to the
// next double quote (a doubled one is no escape), and whatever stands
// between that quote and the next comma is dropped. Blanks and control
// characters around values are trimmed.
QString NextCsvField(QString& line);

// At most this many header columns are matched to fields.
constexpr int MaxCsvColumns = 255;

enum class CsvImportOutcome
{
    MissingFile,    // nothing done
    NoCommonFields, // the header names no field of the table; nothing added
    Imported
};

struct CsvImportResult
{
    CsvImportOutcome outcome = CsvImportOutcome::MissingFile;
    int rows = 0;
    // Rows left out because their address could not be sent to, and why the
    // first was.
    int refused = 0;
    QString firstRefusal;
};

// Appends one row per data line of the CSV file to the view's table, the
// header's columns matched to field names ignoring letter case, every row put
// into list with SendTo on. A value a field refuses leaves the field at its
// default. A row whose Email holds a control character is left out and
// counted in refused. The rows go in as one transaction; a row the engine refuses ends
// the import: the rows before it stay, and its DbError is thrown. A file that
// cannot be read throws CsvFileError. The view is left open or closed as it
// was, and re-read when open.
CsvImportResult ImportCsvFile(const QString& listName, const QString& fileName,
                              data::TableView& view);

class CsvFileError : public std::runtime_error
{
public:
    explicit CsvFileError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};

QString noCommonFieldsText();
QString unreadableCsvText(const QString& fileName, const QString& reason);

// The open-file dialog of "Load More (CSV)" on either page.
FileRequest csvFileRequest(const QString& programFolder, bool exclusions);

} // namespace bv::lists
