#pragma once

#include <QString>

namespace bv {
class Dialogs;
}

namespace bv::data {
class Connection;
class TableView;
} // namespace bv::data

namespace bv::lists {

// The surplus copies of every address that occurs more than once in the list
// :lst, all but the row with the smallest ROWID; letter case counts.
QString aqDupsSql(); // lists Email, FirstName, LastName of those rows
QString delDupsSql(); // deletes them

// Runs delDups for one list; returns the rows deleted.
int deleteDuplicateRecipients(data::Connection& data, const QString& list);

QString duplicatesDeletedText(int count);

// "Clear Duplicates" of the Exclusions Menu: after the user agrees, keeps the
// first of each set of exclusions with the same address (in address order)
// and deletes the others. Returns the rows deleted (0 when the user said No).
int RemoveDuplicateExclusions(data::TableView& exclusions, data::TableView& recipients, Dialogs& dialogs);

} // namespace bv::lists
