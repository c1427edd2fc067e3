#include "ListOperations.h"

#include "Database.h"
#include "GetListName.h"
#include "ListManager.h"
#include "TableView.h"
#include "core/Dialogs.h"

#include <QComboBox>

namespace bv::data {

namespace {

QString withoutTrailingBlanks(QString s)
{
    while (s.endsWith(QLatin1Char(' ')))
        s.chop(1);
    return s;
}

} // namespace

bool ListOperations::exists(const QString& name) const
{
    // Stored names lose their trailing blanks, so "abc " would land on "abc".
    const QString wanted = withoutTrailingBlanks(name);
    for (int i = 0; i < m.cbCurrentList.count(); ++i)
        if (withoutTrailingBlanks(m.cbCurrentList.itemText(i)).compare(wanted, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool ListOperations::acceptable(const QString& name)
{
    if (isBlank(name)) {
        m.dialogs.message(QStringLiteral("The new list name cannot be blank."));
        return false;
    }
    if (exists(name)) {
        m.dialogs.message(QStringLiteral("This list name already exists."));
        return false;
    }
    return true;
}

QString ListOperations::askName(const QString& caption, const QString& start)
{
    m.prompt.setWindowTitle(caption);
    m.prompt.setListName(start);
    m.dialogs.execModal(m.prompt);
    return m.prompt.listName();
}

void ListOperations::refillPicker()
{
    QStringList names;
    LoadListNames(m.localConnect, names);
    m.cbCurrentList.clear();
    m.cbCurrentList.addItems(names);
    m.cbCurrentList.setCurrentIndex(-1);
}

void ListOperations::applyListSelection(const QString& name)
{
    for (TableView* v : {&m.recipients, &m.exclusions}) {
        v->setFilter(listFilter(name));
        v->setFiltered(true);
    }
}

void ListOperations::applyNoList()
{
    for (TableView* v : {&m.recipients, &m.exclusions}) {
        v->setFilter(QString::fromLatin1(NoListFilter));
        v->setFiltered(true);
    }
}

void ListOperations::selectAndApply(const QString& name)
{
    refillPicker();
    const QString stored = withoutTrailingBlanks(name);
    for (int i = 0; i < m.cbCurrentList.count(); ++i)
        if (m.cbCurrentList.itemText(i) == stored) {
            m.cbCurrentList.setCurrentIndex(i);
            break;
        }
    applyListSelection(m.cbCurrentList.currentText());
}

void ListOperations::reopenViews()
{
    for (TableView* v : {&m.recipients, &m.exclusions}) {
        v->close();
        v->open();
    }
}

void ListOperations::CreateList()
{
    const QString name = askName(QStringLiteral("New List Name"), QString());
    if (!acceptable(name))
        return;
    AddListName(m.localConnect, name);
    selectAndApply(name);
}

void ListOperations::RenameList()
{
    const QString current = m.cbCurrentList.currentIndex() < 0 ? QString() : m.cbCurrentList.currentText();
    if (m.cbCurrentList.currentIndex() < 0) {
        m.dialogs.message(QStringLiteral("No List selected."));
        return;
    }
    const QString name = askName(QStringLiteral("Rename"), current);
    if (name == current) {
        m.dialogs.message(QStringLiteral("This list name didn't change."));
        return;
    }
    if (!acceptable(name))
        return;
    m.data.execute(QStringLiteral("update RecipientList set List = ") + quoted(name) +
                   QStringLiteral(" where List = ") + quoted(current));
    m.data.execute(QStringLiteral("update ExclusionList set List = ") + quoted(name) +
                   QStringLiteral(" where List = ") + quoted(current));
    RenameListName(m.localConnect, current, name);
    selectAndApply(name);
}

void ListOperations::DuplicateList()
{
    if (m.cbCurrentList.currentIndex() < 0) {
        m.dialogs.message(QStringLiteral("No List selected."));
        return;
    }
    const QString current = m.cbCurrentList.currentText();
    if (m.dialogs.ask(QStringLiteral("Duplicate Current List?"), Buttons::YesNoCancel) != Answer::Yes)
        return;
    const QString name = askName(QStringLiteral("Duplicate"), current);
    if (!acceptable(name))
        return;
    m.data.execute(QStringLiteral("INSERT INTO RecipientList (Salutation,SendTo,FirstName,LastName,Email,List) "
                                  "SELECT Salutation,SendTo,FirstName,LastName,Email,") +
                   quoted(name) + QStringLiteral(" as \"List\" FROM RECIPIENTLIST where List = ") +
                   quoted(current));
    m.data.execute(QStringLiteral("INSERT INTO ExclusionList (Salutation,SendTo,FirstName,LastName,Email,List) "
                                  "SELECT Salutation,SendTo,FirstName,LastName,Email,") +
                   quoted(name) + QStringLiteral(" as \"List\" FROM ExclusionList where List = ") +
                   quoted(current));
    AddListName(m.localConnect, name);
    selectAndApply(name);
}

void ListOperations::DeleteList()
{
    if (m.cbCurrentList.currentIndex() < 0) {
        m.dialogs.message(QStringLiteral("No List selected."));
    } else if (m.dialogs.ask(QStringLiteral("Do you really want to DELETE this list and remove all its "
                                            "Recipients and Exclusions?"),
                             Buttons::YesNoCancel) == Answer::Yes) {
        const QString name = m.cbCurrentList.currentText();
        m.data.execute(QStringLiteral("delete from RecipientList where List = ") + quoted(name));
        m.data.execute(QStringLiteral("delete from ExclusionList where List = ") + quoted(name));
        DeleteListName(m.localConnect, name);
        refillPicker();
        if (m.cbCurrentList.count() > 0) {
            m.cbCurrentList.setCurrentIndex(0);
            applyListSelection(m.cbCurrentList.currentText());
        } else {
            applyNoList();
        }
    }
    reopenViews();
}

} // namespace bv::data
