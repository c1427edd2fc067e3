#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace bv::data {

enum class FieldType { Character, Logical, Integer, AutoIncrement, Timestamp, Memo };

struct FieldDef
{
    QString name;
    FieldType type;
    int width = 0; // characters, for Character fields
    // Cut to its width but kept with its trailing blanks (a password).
    bool keepBlanks = false;
};

struct IndexDef
{
    QString name;  // as the program names it: "EMAIL", "EMAILDESC"
    QString field;
    bool descending = false;
    bool unique = false;
};

struct TableDef
{
    QString name;
    std::vector<FieldDef> fields; // stored order
    std::vector<IndexDef> indexes;

    const FieldDef* field(const QString& name) const; // ignoring letter case
    const IndexDef* index(const QString& name) const; // ignoring letter case
    QStringList fieldNames() const;
};

// The eleven tables of the program.
const std::vector<TableDef>& tables();
const TableDef* table(const QString& name); // ignoring letter case

// Names of the timestamp fields of any table (StartTime, EndTime, EmailDate).
bool isTimestampField(const QString& fieldName);
// The type of a field of that name in any of the tables (names are not reused
// with another type); none for other names.
std::optional<FieldType> fieldTypeByName(const QString& fieldName);
// A field of that name keeps its trailing blanks (see FieldDef::keepBlanks).
bool keepsBlanks(const QString& fieldName);

// Statements that create one table with its indexes and the triggers that cut
// text to its width and keep timestamps in their sortable form. schema is the
// database alias the table goes into ("main", or an attached file's alias).
// Run when an older database is brought up to date, before the statements
// above: what newer schemas no longer have.
QStringList obsoleteSchemaStatements();
// The statement that creates the trigger fitting inserted rows to the
// table's fields; empty for a table without one.
QString fitInsertTrigger(const TableDef& table);
QStringList createTableStatements(const TableDef& table, const QString& schema = QStringLiteral("main"));

// Statements that bring an existing table of an older database up to its
// definition, run before createTableStatements: the fields it lacks are
// added, and its fitting triggers dropped so that they are made anew for the
// fields of today. Fields are only ever appended to a definition, because
// rows are read and copied by position; a table whose columns are not the
// first fields of its definition, in order, raises DbError. existingColumns
// empty: the table is not there yet and nothing needs doing.
QStringList upgradeTableStatements(const TableDef& table, const QStringList& existingColumns);

// The sortable form 'yyyy-mm-dd hh:nn:ss' of a timestamp written either as
// 'mm/dd/yyyy hh:nn:ss' or already sortable; other text comes back unchanged.
QString sortableTimestamp(const QString& text);

} // namespace bv::data
