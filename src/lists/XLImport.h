#pragma once

#include "Workbook.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace bv::data {
class Connection;
}

namespace bv::lists {

// The spreadsheet import behind "Import from Excel": the staging table
// tmpRecipientList (fields A to M), the copy of its rows into RecipientList
// and the import definitions of ExcelImportSettings.

inline QString noneEntry()
{
    return QStringLiteral("(None)");
}
inline QString requiredEntry()
{
    return QStringLiteral("(Required)");
}

// The texts of the column pickers: a letter "A" to "M", "(None)" or
// "(Required)".
struct ColumnChoice
{
    QString email;
    QString salutation;
    QString firstName;
    QString lastName;
};

struct ImportDefinition
{
    QString specName;
    QString list;
    QString dataFolder; // with its trailing separator
    QString excelFile;
    ColumnChoice columns;
};

struct StagingResult
{
    int rows = 0;           // staging rows kept
    QStringList rowErrors;  // one engine message per row that could not be stored
    bool cancelled = false; // the rows read until then are kept
};

// A spreadsheet row stays in the staging table only when one of its fields,
// as stored, holds an "@": header and blank rows go.
bool keepStagingRow(const QStringList& fields);
// A cell's text as a staging field stores it.
QString stagingField(const QString& cell);

// "View Data": replaces the staging rows with the workbook's rows that are
// kept. A row the engine refuses is reported and the next one is read. A
// workbook that cannot be read throws WorkbookError, and the staging table
// keeps the rows it had. progress returns false to stop reading.
StagingResult fillStaging(data::Connection& data, const QString& path,
                          const std::function<bool(int percent)>& progress,
                          const WorkbookLimits& limits = {});

// "Import Data": the refusal text when the choices are incomplete, else empty.
QString importRefusal(const ColumnChoice& columns, const QString& list);
// Appends one recipient of list per staging row, in stored order, SendTo and
// New on; returns how many. A row whose address holds a control character is
// left out, counted in *refused with the first one's reason in *firstRefusal.
// A row the engine refuses ends the copy: the rows before it stay and its
// DbError is thrown.
int importStagingRows(data::Connection& data, const ColumnChoice& columns, const QString& list,
                      int* refused = nullptr, QString* firstRefusal = nullptr);
QString recipientsAddedText(int count, const QString& list);
// The New marks of the last import go.
void clearNewMarks(data::Connection& data);

// Import definitions, named exactly.
QStringList definitionNames(data::Connection& data); // in SpecName order
std::optional<ImportDefinition> findDefinition(data::Connection& data, const QString& name);
// Overwrites the definition of that name, or adds it.
void saveDefinition(data::Connection& data, const ImportDefinition& definition);
void deleteDefinition(data::Connection& data, const QString& name);
// Why a definition cannot be saved without losing part of its file's path
// (the fields are 200 and 70 characters wide), or empty.
QString definitionRefusal(const ImportDefinition& definition);

} // namespace bv::lists
