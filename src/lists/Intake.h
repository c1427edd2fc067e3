#pragma once

#include "core/Dialogs.h"
#include "data/Database.h"

#include <QList>
#include <QString>

#include <functional>

namespace bv::lists {

// The intake of harvested addresses: BadEmail's rows into the recipient
// lists, or the recipients they name into the exclusion lists. BadEmail rows
// are named by ROWID, in grid order. Engine failures throw bv::data::DbError;
// the rows written before it stay.

// The open-file dialog of the two mailbox windows.
FileRequest mailboxFileRequest(const QString& programFolder);

// The BadEmail address of each row, blanks trimmed; a row that is gone
// gives nothing.
QStringList badEmailAddresses(data::Connection& connection, const QList<qint64>& rows);

struct AddResult
{
    int added = 0;
    // Addresses that the recipient's Email field could not hold whole: cut,
    // they would be other addresses, so they are left out.
    int tooLong = 0;
};

// Appends one recipient of list (SendTo on, names and salutation empty) for
// each row with an address, in the order given; no test for addresses the
// list already holds.
AddResult AddSelected(data::Connection& connection, const QString& list, const QList<qint64>& rows);
// The same for every row of BadEmail, in one statement.
AddResult AddAll(data::Connection& connection, const QString& list, const data::ProgressFn& progress = {});
QString addAllStatement();

struct ExcludeCounts
{
    int newExclusions = 0;
    int removedRecipients = 0;
};

// For each row's address: the first recipient, of any list, with that address
// (ignoring letter case, in address order) goes into the exclusions of its own
// list unless some list already excludes the address, and leaves the list.
ExcludeCounts ExcludeSelected(data::Connection& connection, const QList<qint64>& rows);
struct ExcludeSelectedStatements
{
    QString first;    // the first recipient of the address (:eml), in address order
    QString excluded; // whether any list excludes the address (:eml)
    QString copy, remove; // of that recipient (:r)
};
ExcludeSelectedStatements excludeSelectedStatements();

// The same for every address of BadEmail, in two statements; progress gets
// the position out of 200: the copy's percentage, then 100 + the removal's.
void ExcludeAll(data::Connection& connection, const std::function<void(int position)>& progress = {});
struct ExcludeAllStatements
{
    QString copy, remove;
};
ExcludeAllStatements excludeAllStatements();

// Deletes the given BadEmail rows; returns how many were still there.
int ClearBadEmails(data::Connection& connection, const QList<qint64>& rows);

// The windows' texts.
QString recipientsInAllListsText(int count); // count + " Recipients Addresses in All Lists."
QString newAddressesAddedMessage(int count); // count + " New Email Addresses Added."
QString addAllQuestion(const QString& list);
QString addedAllMessage(int count); // count + " Email Addresses added successfully."
QString tooLongMessage(int count);
QString excludedSelectedMessage(const ExcludeCounts& counts);
QString excludeAllQuestion();
QString excludedAllMessage();
QString clearSelectedQuestion(int count); // "Clear The " + count + " Selected Emails?"
QString clearedMessage(int count);        // count + " Emails cleared and will not be Excluded."
QString selectListFirstText();
QString unreadableFileMessage(const QString& path, const QString& reason);

} // namespace bv::lists
