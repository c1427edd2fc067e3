#pragma once

#include <QString>

struct sqlite3;

namespace bv::data {

// The table a table file holds: its file name without the extension.
QString tableOfFile(const QString& path);

// Reading a table file must read rows and nothing else. Refuses, with
// DbError 'The table file "path" is damaged: reason.', a file attached as
// alias that is not a database, has no plain table of that name (a view or a
// virtual table would compute rows instead), holds views or triggers, gives
// the table computed columns, or gives one of the program's tables other
// columns than its own.
void checkTableFile(sqlite3* db, const QString& alias, const QString& path, const QString& table);

} // namespace bv::data
