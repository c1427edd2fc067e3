#include "XLImport.h"

#include "BulkAppend.h"
#include "ValidateEmail.h"
#include "data/Database.h"

namespace bv::lists {

namespace {

constexpr int StagingWidth = 60;

QStringList stagingFields()
{
    QStringList fields;
    for (char c = 'A'; c < 'A' + WorkbookColumns; ++c)
        fields << QString(QLatin1Char(c));
    return fields;
}

// The staging field a picker names, as a position; -1 for "(None)".
int columnIndex(const QString& pick)
{
    if (pick.size() != 1)
        return -1;
    const int i = pick.at(0).toUpper().unicode() - 'A';
    return i >= 0 && i < WorkbookColumns ? i : -1;
}

const QString definitionColumns =
    QStringLiteral("SpecName, List, DataFolder, ExcelFile, Salutation, FirstName, LastName, Email");

} // namespace

QString stagingField(const QString& cell)
{
    QString s = cell.left(StagingWidth);
    while (s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

bool keepStagingRow(const QStringList& fields)
{
    for (const QString& f : fields)
        if (f.contains(QLatin1Char('@')))
            return true;
    return false;
}

StagingResult fillStaging(data::Connection& data, const QString& path,
                          const std::function<bool(int percent)>& progress,
                          const WorkbookLimits& limits)
{
    StagingResult result;
    // One transaction: a workbook that turns out unreadable half-way leaves
    // the staging rows of the last reading as they were.
    BulkAppend rows(data, QStringLiteral("tmpRecipientList"), stagingFields(), true);
    data.execute(QStringLiteral("delete from tmpRecipientList"));
    QVariantList values;
    const bool complete = readWorkbook(
        path,
        [&](const QStringList& cells, int percent) {
            values.clear();
            QStringList fields;
            for (const QString& c : cells)
                fields << stagingField(c);
            if (keepStagingRow(fields)) {
                for (const QString& f : std::as_const(fields))
                    values << f;
                try {
                    rows.append(values);
                } catch (const data::DbError& e) {
                    result.rowErrors << e.message();
                }
            }
            return progress(percent);
        },
        limits);
    rows.commit();
    result.rows = rows.count();
    result.cancelled = !complete;
    return result;
}

QString importRefusal(const ColumnChoice& columns, const QString& list)
{
    if (columns.email.compare(requiredEntry(), Qt::CaseInsensitive) == 0 ||
        columnIndex(columns.email) < 0)
        return QStringLiteral(
            "You must define the Input translation.  The minimum requirement is to "
            "specify which field at the top is the email address.");
    if (list.compare(requiredEntry(), Qt::CaseInsensitive) == 0 || list.isEmpty())
        return QStringLiteral("You must choose the list these recipients will be added to.");
    return {};
}

int importStagingRows(data::Connection& data, const ColumnChoice& columns, const QString& list,
                      int* refused, QString* firstRefusal)
{
    int left = 0;
    const int email = columnIndex(columns.email);
    const int salutation = columnIndex(columns.salutation);
    const int lastName = columnIndex(columns.lastName);
    const int firstName = columnIndex(columns.firstName);
    BulkAppend rows(data, QStringLiteral("RecipientList"),
                    {QStringLiteral("Email"), QStringLiteral("Salutation"),
                     QStringLiteral("LastName"), QStringLiteral("FirstName"),
                     QStringLiteral("SendTo"), QStringLiteral("New"), QStringLiteral("List")},
                    false);
    const auto field = [](const QVariantList& row, int i) {
        return i < 0 ? QVariant() : row.at(i);
    };
    try {
        data.forEachRow(QStringLiteral("select %1 from tmpRecipientList order by rowid")
                            .arg(stagingFields().join(QLatin1Char(','))),
                        {}, [&](const QStringList&, const QVariantList& row) {
                            const QString why = addressRefusal(field(row, email).toString());
                            if (!why.isEmpty()) {
                                if (left++ == 0 && firstRefusal)
                                    *firstRefusal = why;
                                return true;
                            }
                            rows.append({field(row, email), field(row, salutation),
                                         field(row, lastName), field(row, firstName), true, true,
                                         list});
                            return true;
                        });
    } catch (const data::DbError&) {
        commitBeforeFailure(rows);
        throw;
    }
    rows.commit();
    if (refused)
        *refused = left;
    return rows.count();
}

QString recipientsAddedText(int count, const QString& list)
{
    return QString::number(count) + QStringLiteral(" Recipients added to the ") + list +
           QStringLiteral(" list.");
}

void clearNewMarks(data::Connection& data)
{
    data.execute(QStringLiteral("update RecipientList set New = False"));
}

QStringList definitionNames(data::Connection& data)
{
    QStringList names;
    const data::ResultSet rs =
        data.select(QStringLiteral("select SpecName from ExcelImportSettings order by SpecName"));
    for (const QVariantList& row : rs.rows)
        names << row.at(0).toString();
    return names;
}

std::optional<ImportDefinition> findDefinition(data::Connection& data, const QString& name)
{
    const data::ResultSet rs = data.select(
        QStringLiteral("select top 1 %1 from ExcelImportSettings where SpecName = :name")
            .arg(definitionColumns),
        {{QStringLiteral("name"), name}});
    if (rs.isEmpty())
        return std::nullopt;
    const QVariantList& r = rs.rows.front();
    return ImportDefinition{
        r.at(0).toString(),
        r.at(1).toString(),
        r.at(2).toString(),
        r.at(3).toString(),
        {r.at(7).toString(), r.at(4).toString(), r.at(5).toString(), r.at(6).toString()}};
}

void saveDefinition(data::Connection& data, const ImportDefinition& d)
{
    const data::Params params{
        {QStringLiteral("name"), d.specName},          {QStringLiteral("list"), d.list},
        {QStringLiteral("folder"), d.dataFolder},      {QStringLiteral("file"), d.excelFile},
        {QStringLiteral("sal"), d.columns.salutation}, {QStringLiteral("fn"), d.columns.firstName},
        {QStringLiteral("ln"), d.columns.lastName},    {QStringLiteral("eml"), d.columns.email}};
    const int changed = data.execute(
        QStringLiteral(
            "update ExcelImportSettings set List = :list, DataFolder = :folder, ExcelFile = :file, "
            "Salutation = :sal, FirstName = :fn, LastName = :ln, Email = :eml where SpecName = "
            ":name"),
        params);
    if (changed == 0)
        data.execute(QStringLiteral("insert into ExcelImportSettings (%1) values "
                                    "(:name, :list, :folder, :file, :sal, :fn, :ln, :eml)")
                         .arg(definitionColumns),
                     params);
}

void deleteDefinition(data::Connection& data, const QString& name)
{
    data.execute(QStringLiteral("delete from ExcelImportSettings where SpecName = :name"),
                 {{QStringLiteral("name"), name}});
}

QString definitionRefusal(const ImportDefinition& d)
{
    if (d.specName.size() > 50)
        return QStringLiteral("A definition's name can be at most 50 characters long.");
    if (d.dataFolder.size() > 200 || d.excelFile.size() > 70)
        return QStringLiteral(
            "The path of this spreadsheet is too long to be saved in a definition "
            "(at most 200 characters for its folder and 70 for its file name).");
    return {};
}

} // namespace bv::lists
