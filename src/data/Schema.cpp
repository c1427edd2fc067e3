#include "Schema.h"

#include "Database.h"

#include <QRegularExpression>

namespace bv::data {

namespace {

using T = FieldType;

FieldDef chr(const char* name, int width)
{
    return {QString::fromLatin1(name), T::Character, width};
}
FieldDef fld(const char* name, T type)
{
    return {QString::fromLatin1(name), type, 0};
}
FieldDef secret(const char* name, int width)
{
    return {QString::fromLatin1(name), T::Character, width, true};
}

std::vector<IndexDef> ascDesc(std::initializer_list<const char*> fields)
{
    std::vector<IndexDef> out;
    for (const char* f : fields) {
        const QString field = QString::fromLatin1(f);
        out.push_back({field.toUpper(), field, false, false});
        out.push_back({field.toUpper() + QStringLiteral("DESC"), field, true, false});
    }
    return out;
}

std::vector<TableDef> makeTables()
{
    std::vector<TableDef> t;
    t.push_back({QStringLiteral("RecipientList"),
                 {chr("FirstName", 30), chr("LastName", 30), chr("Email", 60), chr("List", 20),
                  chr("Salutation", 10), fld("SendTo", T::Logical), fld("New", T::Logical)},
                 ascDesc({"FirstName", "LastName", "Email", "Salutation", "SendTo"})});
    t.push_back({QStringLiteral("ExclusionList"),
                 {chr("FirstName", 30), chr("LastName", 30), chr("Email", 60), chr("List", 20),
                  chr("Salutation", 10), fld("SendTo", T::Logical)},
                 ascDesc({"FirstName", "LastName", "Email", "Salutation"})});
    t.push_back({QStringLiteral("Lists"), {chr("List", 20)}, {}});
    t.push_back({QStringLiteral("EmailBeingSent"),
                 {fld("EmailNo", T::AutoIncrement), chr("FirstName", 30), chr("LastName", 30),
                  chr("Email", 60), chr("List", 20), fld("Sent", T::Logical), fld("ErrorMsg", T::Memo),
                  fld("Error", T::Logical), chr("Salutation", 10), fld("EmailDate", T::Timestamp)},
                 ascDesc({"FirstName", "LastName", "Email"})});
    t.push_back({QStringLiteral("EmailHistory"),
                 {fld("EmailID", T::AutoIncrement), fld("StartTime", T::Timestamp),
                  fld("EndTime", T::Timestamp), chr("Subject", 50), chr("List", 50), chr("From", 50),
                  fld("ListCount", T::Integer), fld("AttemptCount", T::Integer),
                  chr("Operation", 50), fld("SuccessCount", T::Integer)},
                 {}});
    t.push_back({QStringLiteral("BadEmail"),
                 {chr("EmailMemo", 90), chr("List", 20)},
                 {{QStringLiteral("EMAILMEMO"), QStringLiteral("EmailMemo"), false, false}}});
    t.push_back({QStringLiteral("IncomingEmail"),
                 {fld("Index", T::Integer), fld("EmailMessage", T::Memo)},
                 {{QStringLiteral("INDEX"), QStringLiteral("Index"), false, false}}});
    t.push_back({QStringLiteral("MessageIDs"),
                 {chr("MimeMessageID", 200)},
                 {{QStringLiteral("MIMEMESSAGEID"), QStringLiteral("MimeMessageID"), false, true}}});
    t.push_back({QStringLiteral("PopAccounts"),
                 {chr("EmailAddress", 50), chr("PopServer", 50), fld("Port", T::Integer),
                  chr("Account", 50), secret("Password", 50), fld("Default", T::Logical),
                  fld("AllowPlainPassword", T::Logical)},
                 {{QStringLiteral("EmailAddress"), QStringLiteral("EmailAddress"), false, false}}});
    TableDef tmp{QStringLiteral("tmpRecipientList"), {}, {}};
    for (char c = 'A'; c <= 'M'; ++c) {
        const char name[2] = {c, 0};
        tmp.fields.push_back(chr(name, 60));
    }
    t.push_back(tmp);
    t.push_back({QStringLiteral("ExcelImportSettings"),
                 {chr("SpecName", 50), chr("List", 50), chr("DataFolder", 200), chr("ExcelFile", 70),
                  chr("Salutation", 50), chr("FirstName", 50), chr("LastName", 50),
                  chr("Email", 50)},
                 {{QStringLiteral("SPECNAME"), QStringLiteral("SpecName"), false, false}}});
    return t;
}

QString q(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

QString columnDefinition(const FieldDef& f)
{
    QString c = q(f.name) + QLatin1Char(' ');
    switch (f.type) {
    case T::Character:
        return c + QStringLiteral("VARCHAR(%1)").arg(f.width);
    case T::Logical:
        return c + QStringLiteral("BOOLEAN NOT NULL DEFAULT 0");
    case T::Integer:
        return c + QStringLiteral("INTEGER");
    case T::AutoIncrement:
        return c + QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT");
    case T::Timestamp:
        return c + QStringLiteral("TIMESTAMP");
    case T::Memo:
        return c + QStringLiteral("TEXT");
    }
    return c;
}

// Internal indexes the program's statements lean on: the list of a row is in
// almost every condition, usually together with the address. The statements
// that match addresses ignoring case compare Upper() of both sides; only an
// index on that same expression serves them (upper() and UCase agree: ASCII
// letters only).
QStringList extraIndexes(const TableDef& t)
{
    if (t.name == QLatin1String("RecipientList"))
        return {QStringLiteral("(\"List\")"), QStringLiteral("(upper(\"Email\"), upper(\"List\"))")};
    if (t.name == QLatin1String("ExclusionList"))
        return {QStringLiteral("(\"List\")"), QStringLiteral("(upper(\"Email\"), \"List\")")};
    if (t.name == QLatin1String("Lists"))
        return {QStringLiteral("(\"List\")")};
    if (t.name == QLatin1String("EmailHistory"))
        return {QStringLiteral("(\"StartTime\")")};
    return {};
}

} // namespace

const FieldDef* TableDef::field(const QString& n) const
{
    for (const FieldDef& f : fields)
        if (f.name.compare(n, Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

const IndexDef* TableDef::index(const QString& n) const
{
    for (const IndexDef& i : indexes)
        if (i.name.compare(n, Qt::CaseInsensitive) == 0)
            return &i;
    return nullptr;
}

QStringList TableDef::fieldNames() const
{
    QStringList out;
    for (const FieldDef& f : fields)
        out << f.name;
    return out;
}

const std::vector<TableDef>& tables()
{
    static const std::vector<TableDef> all = makeTables();
    return all;
}

const TableDef* table(const QString& name)
{
    for (const TableDef& t : tables())
        if (t.name.compare(name, Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

bool isTimestampField(const QString& fieldName)
{
    return fieldName.compare(QLatin1String("StartTime"), Qt::CaseInsensitive) == 0 ||
           fieldName.compare(QLatin1String("EndTime"), Qt::CaseInsensitive) == 0 ||
           fieldName.compare(QLatin1String("EmailDate"), Qt::CaseInsensitive) == 0;
}

std::optional<FieldType> fieldTypeByName(const QString& fieldName)
{
    if (fieldName.isEmpty())
        return std::nullopt;
    for (const TableDef& t : tables())
        if (const FieldDef* f = t.field(fieldName))
            return f->type;
    return std::nullopt;
}

bool keepsBlanks(const QString& fieldName)
{
    for (const TableDef& t : tables())
        if (const FieldDef* f = t.field(fieldName); f && f->keepBlanks)
            return true;
    return false;
}

QStringList obsoleteSchemaStatements()
{
    // BadEmail is read whole or through EMAILMEMO; a second index only made
    // every harvest's writes slower.
    return {QStringLiteral("DROP INDEX IF EXISTS \"BadEmail_x1\"")};
}

QString fitInsertTrigger(const TableDef& t)
{
    for (const QString& stmt : createTableStatements(t))
        if (stmt.contains(QLatin1String("_fit_insert\"")))
            return stmt;
    return {};
}

QStringList createTableStatements(const TableDef& t, const QString& schema)
{
    QStringList out;
    const QString sch = q(schema) + QLatin1Char('.');
    QStringList cols;
    for (const FieldDef& f : t.fields)
        cols << columnDefinition(f);
    out << QStringLiteral("CREATE TABLE IF NOT EXISTS %1%2 (%3)")
               .arg(sch, q(t.name), cols.join(QStringLiteral(", ")));

    for (const IndexDef& i : t.indexes) {
        // A descending ordering is the ascending index read backwards; a second
        // copy of it would only double the work of every insert.
        if (i.descending)
            continue;
        out << QStringLiteral("CREATE %1INDEX IF NOT EXISTS %2%3 ON %4 (%5%6)")
                   .arg(i.unique ? QStringLiteral("UNIQUE ") : QString(), sch,
                        q(t.name + QLatin1Char('_') + i.name), q(t.name), q(i.field),
                        i.descending ? QStringLiteral(" DESC") : QString());
    }
    int n = 0;
    for (const QString& cols2 : extraIndexes(t))
        out << QStringLiteral("CREATE INDEX IF NOT EXISTS %1%2 ON %3 %4")
                   .arg(sch, q(QStringLiteral("%1_x%2").arg(t.name).arg(++n)), q(t.name), cols2);

    // Text is cut to its width and loses trailing blanks; timestamps written as
    // mm/dd/yyyy hh:nn:ss are kept as yyyy-mm-dd hh:nn:ss. Whatever statement or
    // view writes the row, the trigger puts it right; the WHEN clause keeps the
    // common case (nothing to mend) cheap.
    QStringList when;
    QStringList sets;
    for (const FieldDef& f : t.fields) {
        const QString c = q(f.name);
        if (f.type == T::Character && f.keepBlanks) {
            when << QStringLiteral("length(NEW.%1) > %2").arg(c).arg(f.width);
            sets << QStringLiteral("%1 = substr(%1, 1, %2)").arg(c).arg(f.width);
        } else if (f.type == T::Character) {
            when << QStringLiteral("length(NEW.%1) > %2 OR NEW.%1 GLOB '* '").arg(c).arg(f.width);
            sets << QStringLiteral("%1 = rtrim(substr(%1, 1, %2), ' ')").arg(c).arg(f.width);
        } else if (f.type == T::Timestamp) {
            const QString slashForm = QStringLiteral(
                "NEW.%1 GLOB '[0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9]*'").arg(c);
            when << slashForm;
            sets << QStringLiteral(
                        "%1 = CASE WHEN %1 GLOB '[0-9][0-9]/[0-9][0-9]/[0-9][0-9][0-9][0-9]*' "
                        "THEN substr(%1, 7, 4) || '-' || substr(%1, 1, 2) || '-' || "
                        "substr(%1, 4, 2) || substr(%1, 11) ELSE %1 END")
                        .arg(c);
        }
    }
    if (!when.isEmpty()) {
        const QString cond = when.join(QStringLiteral(" OR "));
        const QString body = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = NEW.rowid;")
                                 .arg(q(t.name), sets.join(QStringLiteral(", ")));
        out << QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1%2 AFTER INSERT ON %3 WHEN %4 BEGIN %5 END")
                   .arg(sch, q(t.name + QStringLiteral("_fit_insert")), q(t.name), cond, body);
        out << QStringLiteral("CREATE TRIGGER IF NOT EXISTS %1%2 AFTER UPDATE ON %3 WHEN %4 BEGIN %5 END")
                   .arg(sch, q(t.name + QStringLiteral("_fit_update")), q(t.name), cond, body);
    }
    return out;
}

QStringList upgradeTableStatements(const TableDef& t, const QStringList& existingColumns)
{
    if (existingColumns.isEmpty())
        return {};
    const bool inOrder = existingColumns.size() <= qsizetype(t.fields.size()) &&
                         std::equal(existingColumns.cbegin(), existingColumns.cend(),
                                    t.fields.cbegin(), [](const QString& c, const FieldDef& f) {
                                        return c.compare(f.name, Qt::CaseInsensitive) == 0;
                                    });
    if (!inOrder)
        throw DbError(QStringLiteral("The table %1 of the database has the columns %2; this "
                                     "program expects %3 in that order.")
                          .arg(t.name, existingColumns.join(QStringLiteral(", ")),
                               t.fieldNames().join(QStringLiteral(", "))));
    QStringList out;
    for (size_t i = size_t(existingColumns.size()); i < t.fields.size(); ++i)
        out << QStringLiteral("ALTER TABLE %1 ADD COLUMN %2")
                   .arg(q(t.name), columnDefinition(t.fields[i]));
    for (const char* suffix : {"_fit_insert", "_fit_update"})
        out << QStringLiteral("DROP TRIGGER IF EXISTS %1").arg(q(t.name + QLatin1String(suffix)));
    return out;
}

QString sortableTimestamp(const QString& text)
{
    static const QRegularExpression slash(
        QStringLiteral("^(\\d{2})/(\\d{2})/(\\d{4})(.*)$"));
    const auto m = slash.match(text);
    if (!m.hasMatch())
        return text;
    return m.captured(3) + QLatin1Char('-') + m.captured(1) + QLatin1Char('-') + m.captured(2) +
           m.captured(4);
}

} // namespace bv::data
