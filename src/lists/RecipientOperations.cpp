#include "RecipientOperations.h"

#include "data/Database.h"
#include "data/TableView.h"
#include "lists/ValidateEmail.h"

#include <QDir>
#include <QSaveFile>

#include <stdexcept>

namespace bv::lists {

namespace {

void writeFields(data::TableView& view, const RecordFields& f, const QString& list, bool exclusions)
{
    view.setValue(QStringLiteral("Email"), f.email);
    view.setValue(QStringLiteral("LastName"), f.lastName);
    view.setValue(QStringLiteral("FirstName"), f.firstName);
    view.setValue(QStringLiteral("Salutation"), f.salutation);
    view.setValue(QStringLiteral("SendTo"), exclusions ? true : f.sendTo);
    view.setValue(QStringLiteral("List"), list);
}

// Sets the values of the row being appended or edited and posts it; on any
// failure the view leaves edit mode with nothing written.
template <typename Set> void writeRow(data::TableView& view, Set&& set)
{
    try {
        set();
        view.post();
    } catch (...) {
        view.cancel();
        throw;
    }
}

void refuseUnusableAddress(const QString& email)
{
    const QString why = addressRefusal(email);
    if (!why.isEmpty())
        throw std::runtime_error(why.toStdString());
}

} // namespace

RecordFields currentFields(const data::TableView& view)
{
    RecordFields f;
    f.email = view.value(QStringLiteral("Email")).toString();
    f.lastName = view.value(QStringLiteral("LastName")).toString();
    f.firstName = view.value(QStringLiteral("FirstName")).toString();
    f.salutation = view.value(QStringLiteral("Salutation")).toString();
    f.sendTo = view.value(QStringLiteral("SendTo")).toBool();
    return f;
}

void appendRecord(data::TableView& view, const RecordFields& fields, const QString& list, bool exclusions)
{
    refuseUnusableAddress(fields.email);
    view.append();
    writeRow(view, [&] { writeFields(view, fields, list, exclusions); });
}

void updateRecord(data::TableView& view, const RecordFields& fields, const QString& list, bool exclusions)
{
    if (view.isEmpty()) {
        appendRecord(view, fields, list, exclusions);
        return;
    }
    refuseUnusableAddress(fields.email);
    view.edit();
    writeRow(view, [&] { writeFields(view, fields, list, exclusions); });
}

bool moveCurrentRecord(data::TableView& from, data::TableView& to)
{
    if (from.isEmpty() || from.eof())
        return false;
    static const char* const fields[] = {"Email", "FirstName", "LastName", "List", "SendTo", "Salutation"};
    QVariantList values;
    for (const char* f : fields)
        values << from.value(QLatin1String(f));
    to.append();
    writeRow(to, [&] {
        for (int i = 0; i < int(std::size(fields)); ++i)
            to.setValue(QLatin1String(fields[i]), values.at(i));
    });
    // Written first, deleted second: a failure in between leaves the row on
    // both sides, never on neither.
    from.deleteRecord();
    return true;
}

void setSendTo(data::Connection& data, const QString& list, bool on)
{
    data.execute(QStringLiteral("update RecipientList set SendTo = %1 where List = %2")
                     .arg(on ? QStringLiteral("True") : QStringLiteral("False"), data::quoted(list)));
}

int clearView(data::TableView& view)
{
    int deleted = 0;
    view.disableControls();
    try {
        for (view.first(); !view.eof(); ++deleted)
            view.deleteRecord();
    } catch (...) {
        view.enableControls();
        throw;
    }
    view.enableControls();
    return deleted;
}

int removeExcludedRecipients(data::Connection& data, const QString& list)
{
    // One statement, served by the index on the upper-cased address.
    return data.execute(
        QStringLiteral("delete from RecipientList where List = %1 and Upper(Email) in "
                       "(select Upper(Email) from ExclusionList where List = %1)")
            .arg(data::quoted(list)));
}

QString recipientsRemovedText(int count)
{
    return QString::number(count) + QStringLiteral(" Recipient(s) Removed.");
}

QStringList exportedFields()
{
    return {QStringLiteral("FirstName"), QStringLiteral("LastName"), QStringLiteral("Email"),
            QStringLiteral("Salutation"), QStringLiteral("SendTo")};
}

QString csvField(const QString& value)
{
    QString out = value;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

void exportListToCsv(data::TableView& view, const QString& path)
{
    // Unbuffered, as every writer of the program: a short write on a full
    // disk shows in write()'s count instead of passing unnoticed at commit.
    QSaveFile file(path);
    const auto fail = [&] {
        file.cancelWriting();
        return std::runtime_error(QStringLiteral("Unable to write to %1: %2")
                                      .arg(QDir::toNativeSeparators(path), file.errorString())
                                      .toStdString());
    };
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw fail();
    const QStringList fields = exportedFields();
    QByteArray block;
    bool header = false;
    auto flush = [&] {
        if (file.write(block) != block.size())
            throw fail();
        block.clear();
    };
    try {
        view.forEachRow(fields, [&](const QVariantList& row) {
            if (!header) {
                QStringList names;
                for (const QString& f : fields)
                    names << csvField(f);
                block += names.join(QLatin1Char(',')).toUtf8() + "\r\n";
                header = true;
            }
            QStringList cells;
            for (int i = 0; i < fields.size(); ++i) {
                const QVariant& v = row.at(i);
                cells << csvField(i == fields.size() - 1
                                      ? (v.toBool() ? QStringLiteral("True") : QStringLiteral("False"))
                                      : v.toString());
            }
            block += cells.join(QLatin1Char(',')).toUtf8() + "\r\n";
            if (block.size() > (1 << 20))
                flush();
            return true;
        });
        flush();
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!file.commit())
        throw fail();
}

} // namespace bv::lists
