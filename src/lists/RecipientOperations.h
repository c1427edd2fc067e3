#pragma once

#include <QString>
#include <QStringList>

namespace bv::data {
class Connection;
class TableView;
} // namespace bv::data

namespace bv::lists {

// What the edit boxes of one page of the recipient list window hold.
struct RecordFields
{
    QString email;
    QString lastName;
    QString firstName;
    QString salutation;
    bool sendTo = true;
};

// The fields of the view's current row (SendTo false on an empty view).
RecordFields currentFields(const data::TableView& view);

// Appends a row of the list with the fields; on the exclusions the send flag
// is always on. The new row becomes current.
void appendRecord(data::TableView& view, const RecordFields& fields, const QString& list, bool exclusions);
// Writes the fields into the current row; on an empty view the row is added.
void updateRecord(data::TableView& view, const RecordFields& fields, const QString& list, bool exclusions);

// "Exclude" / "Include": the current row of from, all six fields, becomes a
// row of to and leaves from. False when from is empty.
bool moveCurrentRecord(data::TableView& from, data::TableView& to);

// "Send To All" / "Send To None" of one list.
void setSendTo(data::Connection& data, const QString& list, bool on);

// "Clear List": deletes every row the view shows; returns how many.
int clearView(data::TableView& view);

// "Remove Exclusions": deletes every recipient of the list whose address one
// of the list's exclusions holds, ignoring letter case; returns how many.
int removeExcludedRecipients(data::Connection& data, const QString& list);
QString recipientsRemovedText(int count);

// The fields "Export List (CSV)" writes, in order.
QStringList exportedFields();
// Writes the view's rows, in its order, as CSV (a header of quoted field
// names, then one line per row, values quoted with any inner quote
// doubled); an empty view gives an empty file. Throws std::runtime_error
// with the reason when the file cannot be written; an older file then stays.
void exportListToCsv(data::TableView& view, const QString& path);

// The CSV form of one value: between double quotes, inner quotes doubled.
QString csvField(const QString& value);

} // namespace bv::lists
