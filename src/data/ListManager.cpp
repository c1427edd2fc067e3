#include "ListManager.h"

#include "Database.h"

namespace bv::data {

void LoadListNames(Connection& localConnect, QStringList& names)
{
    Query q(localConnect);
    q.setSql(QStringLiteral("Select List From Lists"));
    q.open();
    for (; !q.eof(); q.next())
        names.append(q.value(0).toString());
}

void AddListName(Connection& localConnect, const QString& name)
{
    Query q(localConnect);
    q.setSql(QStringLiteral("Insert Into Lists (List) values (") + quoted(name) + QLatin1Char(')'));
    q.execSql();
}

void DeleteListName(Connection& localConnect, const QString& name)
{
    Query q(localConnect);
    q.setSql(QStringLiteral("Delete From Lists where List = ") + quoted(name));
    q.execSql();
}

void RenameListName(Connection& localConnect, const QString& oldName, const QString& newName)
{
    Query q(localConnect);
    q.setSql(QStringLiteral("Update Lists set List = ") + quoted(newName) +
             QStringLiteral(" where List = ") + quoted(oldName));
    q.execSql();
}

QString listFilter(const QString& listName)
{
    return QStringLiteral("List = ") + quoted(listName);
}

} // namespace bv::data
