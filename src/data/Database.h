#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

struct sqlite3;

namespace bv::data {

// An engine failure; message() is the engine's own text.
class DbError : public std::runtime_error
{
public:
    explicit DbError(const QString& message, int code = 0);
    QString message() const { return m_message; }
    int code() const { return m_code; }

private:
    QString m_message;
    int m_code;
};

// Named parameters of a statement (":lst", ":eml"); names without the colon,
// matched ignoring letter case. One name may stand several times in a text.
using Params = QList<QPair<QString, QVariant>>;

// The engine's completion percentage of a long statement: 0 to 100, never
// going back, 100 at the end.
using ProgressFn = std::function<void(int percent)>;

// Rows of a select, read whole.
struct ResultSet
{
    QStringList columns;
    std::vector<QVariantList> rows;

    int size() const { return int(rows.size()); }
    bool isEmpty() const { return rows.empty(); }
    // Column position by name, ignoring letter case; -1 when absent.
    int columnIndex(const QString& name) const;
    QVariant value(int row, const QString& column) const;
};

class Statement;
class WorkLimit;

// One connection to the program's database. Statements on one connection are
// serialised by its lock, so any thread may use it.
class Connection
{
public:
    explicit Connection(QString name = QString());
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens the database in folder (the program folder), creating any of the
    // eleven tables that are missing. Throws DbError with the engine's text.
    void open(const QString& folder);
    void close();
    bool isOpen() const;

    QString name() const { return m_name; }
    QString folder() const { return m_folder; }
    QString databasePath() const;

    // Runs a statement that changes the tables; returns the rows changed.
    int execute(const QString& sql, const Params& params = {}, const ProgressFn& progress = {});
    // Runs a select and reads all its rows.
    ResultSet select(const QString& sql, const Params& params = {}, const ProgressFn& progress = {});
    // First column of the first row, or an invalid value when there is none.
    QVariant scalar(const QString& sql, const Params& params = {});

    // Runs fn for every row of a select without keeping the rows; fn returns
    // false to stop early.
    void forEachRow(const QString& sql, const Params& params,
                    const std::function<bool(const QStringList& columns, const QVariantList& row)>& fn);

    // The first column of every row of a select, as integers, without the
    // cost of a value per cell (row ids of a million-row view).
    std::vector<qint64> selectIntegers(const QString& sql, const Params& params = {});

    // Writes a copy of one table, every row, into a table file of its own at
    // filePath (replacing it); a statement can then name that file in double
    // quotes in place of the table.
    void copyTableToFile(const QString& table, const QString& filePath);
    // The same for several tables at once, all read from one snapshot, so the
    // copies agree with each other while other connections keep writing.
    // Each pair is a table and its file.
    void copyTablesToFiles(const QList<QPair<QString, QString>>& tableFiles);

    // How long a statement waits for a table another connection or program
    // is writing before it fails with the engine's "database is locked".
    static constexpr int DefaultBusyTimeoutMs = 10000;
    void setBusyTimeout(int ms);
    int busyTimeout() const;

    // Row id of the last row this connection inserted; hold mutex() across the
    // insert and this call when other threads share the connection.
    qint64 lastInsertRowid() const;

    std::recursive_mutex& mutex() const { return m_mutex; }
    // The limit in force on this connection's statements, if any.
    WorkLimit* workLimit() const { return m_workLimit; }
    sqlite3* handle() const { return m_db; }

    // The database file's name inside the program folder.
    static QString databaseFileName();

private:
    friend class Statement;
    friend class Transaction;
    friend class WorkLimit;
    std::shared_ptr<Statement> prepare(const QString& sql);
    // Table files attached for the length of a transaction: SQLite cannot
    // detach a file that an open transaction has read, so statements inside
    // one use these attachments instead of their own.
    void pinTableFile(const QString& path);
    void unpinTableFiles();
    QString pinnedAlias(const QString& path) const;

    QString m_name;
    QString m_folder;
    sqlite3* m_db = nullptr;
    mutable std::recursive_mutex m_mutex;
    int m_busyTimeoutMs = DefaultBusyTimeoutMs;
    WorkLimit* m_workLimit = nullptr;
    struct Cache;
    std::unique_ptr<Cache> m_cache;
};

// One explicit transaction on a connection (BEGIN IMMEDIATE), for the few
// operations that must leave either all of their work or none of it. Holds the
// connection's lock throughout, so no other thread's statement lands inside
// it; rolls back unless commit() was called. Statements inside may name the
// given table files in place of tables; they stay attached until the end.
class Transaction
{
public:
    explicit Transaction(Connection& connection, const QStringList& tableFiles = {});
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

    // Bulk writes whose values already fit the table's fields: the trigger
    // that would cut and trim each inserted row is left out until commit.
    void insertFittedRows(const QString& table);

private:
    Connection& m_connection;
    std::unique_lock<std::recursive_mutex> m_lock;
    bool m_open = false;
    QStringList m_restoreTriggers;
};

// Bounds the engine's work while it lives, for work whose size outside input
// decides: once the statements run on the connection have taken `steps`
// virtual-machine steps between them, the one running fails with the
// engine's "interrupted" and exceeded() tells why. Holds the connection's
// lock throughout.
class WorkLimit
{
public:
    WorkLimit(Connection& connection, qint64 steps);
    ~WorkLimit();
    WorkLimit(const WorkLimit&) = delete;
    WorkLimit& operator=(const WorkLimit&) = delete;

    bool exceeded() const { return m_exceeded; }
    // Counts steps taken; false once the limit is passed.
    bool spend(qint64 steps);

private:
    Connection& m_connection;
    std::unique_lock<std::recursive_mutex> m_lock;
    WorkLimit* m_outer;
    qint64 m_remaining;
    bool m_exceeded = false;
};

// A statement object of the windows: its text is set once and it may be run
// many times with new parameter values.
class Query
{
public:
    explicit Query(Connection& connection);
    ~Query();

    void setSql(const QString& sql);
    QString sql() const { return m_sql; }
    void setParam(const QString& name, const QVariant& value);
    void clearParams();
    void setProgress(ProgressFn progress) { m_progress = std::move(progress); }

    // Select: runs the text and keeps its rows, positioned on the first.
    void open();
    void close();
    bool isOpen() const { return m_open; }
    bool eof() const;
    void first();
    void next();
    int recordCount() const { return m_rows.size(); }
    QVariant value(const QString& field) const;
    QVariant value(int column) const;
    const ResultSet& rows() const { return m_rows; }

    // Any other statement: returns the rows changed.
    int execSql();

private:
    Connection& m_connection;
    QString m_sql;
    Params m_params;
    ProgressFn m_progress;
    ResultSet m_rows;
    int m_pos = 0;
    bool m_open = false;
};

// Puts a text into statement text as a string literal: between single quotes,
// every single quote inside doubled.
QString quoted(const QString& value);

} // namespace bv::data
