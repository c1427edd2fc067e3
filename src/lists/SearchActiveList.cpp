#include "SearchActiveList.h"

#include "core/Dialogs.h"
#include "data/Schema.h"
#include "data/TableView.h"

#include <QSet>

namespace bv::lists {

namespace {

const char* const MatchFields[] = {"Salutation", "FirstName", "LastName", "Email"};

// The field and direction of a view's sort order; nothing for stored order.
std::optional<std::pair<QString, bool>> sortOrder(const data::TableView& view)
{
    const QString name = view.indexName();
    if (name.isEmpty())
        return std::nullopt;
    if (const data::IndexDef* index = view.definition().index(name))
        return std::pair{index->field, index->descending};
    if (const data::FieldDef* field = view.definition().field(name))
        return std::pair{field->name, false};
    return std::nullopt;
}

} // namespace

QString engineUpper(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return out;
}

SearchActiveList::SearchActiveList(data::Connection& data, data::TableView& tbRecipients,
                                   data::TableView& tbExclusions, Dialogs& dialogs)
    : m_data(data),
      m_views{{QStringLiteral("tbRecipients"), &tbRecipients}, {QStringLiteral("tbExclusions"), &tbExclusions}},
      m_dialogs(dialogs)
{
}

void SearchActiveList::forget()
{
    m_query.reset();
    m_nextEnabled = false;
}

QString SearchActiveList::buildQuery(const SearchRequest& request)
{
    QList<int> searched;
    for (int i = 0; i < 2; ++i)
        if (request.table == QLatin1String("Both") ||
            request.table.compare(m_views[i].view->tableName(), Qt::CaseInsensitive) == 0)
            searched << i;
    const QString wanted = QString(request.field).remove(QLatin1Char(' ')).toUpper();
    QStringList parts;
    for (int i : std::as_const(searched)) {
        const data::TableView& view = *m_views[i].view;
        QStringList conditions;
        for (const data::FieldDef& f : view.definition().fields) {
            if (f.type != data::FieldType::Character || f.name == QLatin1String("List"))
                continue;
            if (wanted == QLatin1String("ALL") || wanted == f.name.toUpper())
                conditions << QStringLiteral("POSITION(") + data::quoted(engineUpper(request.text)) +
                                  QStringLiteral(" IN Upper(") + f.name + QStringLiteral(")) > 0");
        }
        parts << QStringLiteral("Select '") + m_views[i].name +
                     QStringLiteral("' as \"TableNm\", Salutation, FirstName, LastName, Email From ") +
                     view.tableName() + QStringLiteral(" where List = ") + data::quoted(request.list) +
                     QStringLiteral(" and (\n") + conditions.join(QStringLiteral("\nor\n")) + QStringLiteral("\n) ");
    }
    QString sql = parts.join(QStringLiteral("\n UNION ALL \n"));
    if (searched.isEmpty())
        return sql;
    const auto order = sortOrder(*m_views[searched.first()].view);
    if (searched.size() == 2) {
        data::TableView& exclusions = *m_views[1].view;
        const QString name = m_views[0].view->indexName();
        // The exclusions have no SENDTO index; they keep their own order then.
        if (name.isEmpty() || exclusions.definition().index(name) || exclusions.definition().field(name))
            exclusions.setIndexName(name);
        // A union can only be ordered by a column it returns.
        if (order && !std::any_of(std::begin(MatchFields), std::end(MatchFields), [&](const char* f) {
                return order->first.compare(QLatin1String(f), Qt::CaseInsensitive) == 0;
            }))
            return sql;
    }
    if (order)
        sql += QStringLiteral("\n Order By ") + order->first + (order->second ? QStringLiteral(" DESC") : QString());
    return sql;
}

bool SearchActiveList::moveTo(data::TableView& view, const QString& list, const data::Query& match)
{
    QString sql = QStringLiteral("select rowid from %1 where List = :list").arg(view.tableName());
    data::Params params{{QStringLiteral("list"), list}};
    for (const char* f : MatchFields) {
        const QString field = QString::fromLatin1(f);
        sql += QStringLiteral(" and coalesce(Upper(%1), '') = coalesce(Upper(:%1), '')").arg(field);
        params.append({field, match.value(field)});
    }
    QSet<qint64> rows;
    for (const QVariantList& row : m_data.select(sql, params).rows)
        rows.insert(row.value(0).toLongLong());
    for (int i = 0, n = view.snapshotSize(); i < n; ++i)
        if (rows.contains(view.rowidAt(i)))
            return view.moveTo(i);
    return false;
}

int SearchActiveList::press(Button button, const SearchRequest& request)
{
    if (button == Button::Find)
        m_query.reset();
    try {
        if (!m_query) {
            const QString sql = buildQuery(request);
            m_query.emplace(m_data);
            m_query->setSql(sql);
            m_query->open();
            m_queryList = request.list;
        }
        if (m_query->eof()) {
            m_dialogs.message(QStringLiteral("No Match Found"));
            forget();
            return -1;
        }
        int page = 0;
        while (page < 1 && m_views[page].name != m_query->value(QStringLiteral("TableNm")).toString())
            ++page;
        moveTo(*m_views[page].view, m_queryList, *m_query);
        m_query->next();
        m_nextEnabled = true;
        return page;
    } catch (const data::DbError& e) {
        forget();
        m_dialogs.showError(e.message());
        return -1;
    }
}

} // namespace bv::lists
