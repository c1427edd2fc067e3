#include "TableFile.h"

#include "Database.h"
#include "Schema.h"

#include <QStringList>

#include <optional>

#include <sqlite3.h>

namespace bv::data {

namespace {

QString column(sqlite3_stmt* s, int c)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, c)),
                             sqlite3_column_bytes(s, c));
}

// Runs a query on the attached file, handing each row to fn; the engine's
// text when it fails.
template <typename Fn>
std::optional<QString> eachRow(sqlite3* db, const QString& sql, const QStringList& args, Fn fn)
{
    sqlite3_stmt* s = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &s, nullptr) != SQLITE_OK)
        return QString::fromUtf8(sqlite3_errmsg(db));
    for (int i = 0; i < args.size(); ++i) {
        const QByteArray a = args.at(i).toUtf8();
        sqlite3_bind_text(s, i + 1, a.constData(), int(a.size()), SQLITE_TRANSIENT);
    }
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        fn(s);
    std::optional<QString> error;
    if (rc != SQLITE_DONE)
        error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(s);
    return error;
}

std::optional<QString> problem(sqlite3* db, const QString& alias, const QString& table)
{
    // The table itself first, then whatever else the file would bring.
    QString kind;   // of the object named like the table
    QString create; // its statement
    QString view, trigger;
    const auto failed = eachRow(
        db, QStringLiteral("SELECT type, name, sql FROM \"%1\".sqlite_master").arg(alias), {},
        [&](sqlite3_stmt* s) {
            const QString type = column(s, 0);
            const QString name = column(s, 1);
            if (name.compare(table, Qt::CaseInsensitive) == 0 && kind.isEmpty()) {
                kind = type;
                create = column(s, 2).trimmed();
            } else if (type == QLatin1String("view") && view.isEmpty()) {
                view = name;
            } else if (type == QLatin1String("trigger") && trigger.isEmpty()) {
                trigger = name;
            }
        });
    if (failed)
        return failed;
    if (kind == QLatin1String("view"))
        return QStringLiteral("%1 is a view, not a table").arg(table);
    if (kind != QLatin1String("table"))
        return QStringLiteral("it holds no table %1").arg(table);
    if (create.startsWith(QLatin1String("CREATE VIRTUAL"), Qt::CaseInsensitive))
        return QStringLiteral("%1 is a virtual table").arg(table);

    QStringList names;
    bool computed = false;
    const auto unreadable = eachRow(
        db, QStringLiteral("SELECT name, hidden FROM pragma_table_xinfo(?1, ?2)"), {table, alias},
        [&](sqlite3_stmt* s) {
            names << column(s, 0);
            computed = computed || sqlite3_column_int(s, 1) != 0;
        });
    if (unreadable)
        return unreadable;
    if (computed)
        return QStringLiteral("%1 has computed columns").arg(table);
    if (const TableDef* def = bv::data::table(table)) {
        const QStringList expected = def->fieldNames();
        bool same = names.size() == expected.size();
        for (qsizetype i = 0; same && i < names.size(); ++i)
            same = names.at(i).compare(expected.at(i), Qt::CaseInsensitive) == 0;
        if (!same)
            return QStringLiteral("the columns of %1 are %2 instead of %3")
                .arg(table, names.join(QStringLiteral(", ")), expected.join(QStringLiteral(", ")));
    }
    if (!view.isEmpty())
        return QStringLiteral("%1 is a view").arg(view);
    if (!trigger.isEmpty())
        return QStringLiteral("it holds the trigger %1").arg(trigger);
    return std::nullopt;
}

} // namespace

QString tableOfFile(const QString& path)
{
    // The program's paths may come with any of the three separators.
    qsizetype cut = -1;
    for (QChar sep : {QLatin1Char('/'), QLatin1Char('\\'), QLatin1Char(':')})
        cut = qMax(cut, path.lastIndexOf(sep));
    const QString name = path.mid(cut + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

void checkTableFile(sqlite3* db, const QString& alias, const QString& path, const QString& table)
{
    if (const auto why = problem(db, alias, table))
        throw DbError(QStringLiteral("The table file \"%1\" is damaged: %2.").arg(path, *why));
}

} // namespace bv::data
