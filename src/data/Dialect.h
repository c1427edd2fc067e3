#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace bv::data {

// A table file named in a statement in place of a table ("...\RecipientList.adt").
struct AttachedFile
{
    QString alias; // schema name the statement now uses
    QString path;  // the file as written
    QString table; // the table inside it: the file name without its extension
};

struct RewrittenSql
{
    QString sql;
    std::vector<AttachedFile> files;
    QStringList tables; // names of the program's tables the text mentions
};

// Turns a statement of the program's dialect into one SQLite accepts:
// "select top n", POSITION(a IN b), comment lines beginning with "//", table
// files in double quotes, the bare column names Index and Default, timestamps
// compared in the mm/dd/yyyy form, trailing blanks of literals and parameters
// compared with text (never with a memo).
RewrittenSql rewriteStatement(const QString& sql);

// The same for a filter expression of a table view.
QString rewriteExpression(const QString& expression);

} // namespace bv::data
