#pragma once

#include <QString>
#include <QStringList>

namespace bv::data {

class Connection;

// The list registry statements, each on its own query on the program-wide
// connection LocalConnect. Names go into the text as quoted literals.
void LoadListNames(Connection& localConnect, QStringList& names); // appends, never clears
void AddListName(Connection& localConnect, const QString& name);
void DeleteListName(Connection& localConnect, const QString& name);
void RenameListName(Connection& localConnect, const QString& oldName, const QString& newName);

// The filter of the record views while no list is selected.
inline constexpr const char* NoListFilter = "List = 'NoListAtAll'";
// The filter of the record views for one list.
QString listFilter(const QString& listName);

} // namespace bv::data
