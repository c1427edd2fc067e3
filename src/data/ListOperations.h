#pragma once

#include <QString>

class QComboBox;

namespace bv {
class Dialogs;
}

namespace bv::data {

class Connection;
class TableView;
class TfrmGetListName;

// New, Rename, Duplicate and Delete of the Lists menu, working on the list
// that is current in the window's picker and on its two record views.
class ListOperations
{
public:
    struct Parts
    {
        Connection& data;         // the window's data connection
        Connection& localConnect; // the registry's connection
        QComboBox& cbCurrentList;
        TableView& recipients;
        TableView& exclusions;
        TfrmGetListName& prompt;
        Dialogs& dialogs;
    };

    explicit ListOperations(Parts parts) : m(parts) {}

    void CreateList();
    void RenameList();
    void DuplicateList();
    void DeleteList();

    // Both record views show the named list.
    void applyListSelection(const QString& name);
    // Both record views show nothing.
    void applyNoList();
    // Clears and refills the picker from the registry; nothing selected.
    void refillPicker();

private:
    bool exists(const QString& name) const;
    bool isBlank(const QString& name) const { return name.trimmed().isEmpty(); }
    // Refuses, with its message, a blank name or one the picker already holds.
    bool acceptable(const QString& name);
    QString askName(const QString& caption, const QString& start);
    void selectAndApply(const QString& name);
    void reopenViews();

    Parts m;
};

} // namespace bv::data
