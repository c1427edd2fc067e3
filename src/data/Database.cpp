#include "Database.h"

#include "Dialect.h"
#include "Schema.h"
#include "TableFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <list>

namespace bv::data {

namespace {

// Raised whenever the schema gains something, so that existing databases get it
// at their next open (every statement of the schema is "if not exists").
constexpr int SchemaVersion = 4;
constexpr int ProgressOpcodes = 1000;
constexpr size_t CacheCapacity = 64;

QString engineText(sqlite3* db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

[[noreturn]] void fail(sqlite3* db, int rc)
{
    throw DbError(db ? engineText(db) : QString::fromUtf8(sqlite3_errstr(rc)), rc);
}

// UCase: upper case for the ASCII letters only, as the dialect defines it.
void ucaseFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const unsigned char* in = sqlite3_value_text(argv[0]);
    const int n = sqlite3_value_bytes(argv[0]);
    QByteArray out(reinterpret_cast<const char*>(in), n);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    sqlite3_result_text(ctx, out.constData(), int(out.size()), SQLITE_TRANSIENT);
}

// The columns of a table in stored order; none when it does not exist.
QStringList columnsOf(sqlite3* db, const QString& table)
{
    sqlite3_stmt* s = nullptr;
    const QByteArray sql = QStringLiteral("PRAGMA table_info(%1)").arg(quoted(table)).toUtf8();
    if (sqlite3_prepare_v2(db, sql.constData(), -1, &s, nullptr) != SQLITE_OK)
        fail(db, sqlite3_errcode(db));
    QStringList columns;
    while (sqlite3_step(s) == SQLITE_ROW)
        columns << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
    sqlite3_finalize(s);
    return columns;
}

struct ProgressState
{
    const ProgressFn* fn = nullptr;
    WorkLimit* limit = nullptr;
    double expected = 1;
    qint64 ticks = 0;
    int last = -1;

    void report(int p)
    {
        if (fn && p > last) {
            last = p;
            (*fn)(p);
        }
    }
};

int progressCallback(void* ctx)
{
    auto* st = static_cast<ProgressState*>(ctx);
    if (st->limit && !st->limit->spend(ProgressOpcodes))
        return 1;
    ++st->ticks;
    const double done = double(st->ticks) * ProgressOpcodes / st->expected;
    // The estimate may be short: approach 99 without ever reaching the end early.
    st->report(int(99.0 * (1.0 - std::exp(-1.5 * done))));
    return 0;
}

} // namespace

DbError::DbError(const QString& message, int code)
    : std::runtime_error(message.toStdString()), m_message(message), m_code(code)
{
}

int ResultSet::columnIndex(const QString& name) const
{
    for (int i = 0; i < columns.size(); ++i)
        if (columns.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QVariant ResultSet::value(int row, const QString& column) const
{
    const int c = columnIndex(column);
    if (c < 0 || row < 0 || row >= size())
        return {};
    return rows[size_t(row)].value(c);
}

QString quoted(const QString& value)
{
    QString body = value;
    body.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + body + QLatin1Char('\'');
}

// A prepared statement with its rewritten text; used under the connection lock.
class Statement
{
public:
    Statement(Connection& c, const QString& sql) : m_conn(c)
    {
        m_rewritten = rewriteStatement(sql);
        usePinnedFiles();
    }
    ~Statement()
    {
        if (m_stmt)
            sqlite3_finalize(m_stmt);
    }

    bool hasFiles() const { return !m_rewritten.files.empty() || m_pinned; }

    // Files the connection holds attached for a transaction are read through
    // that attachment; only the others are attached for this statement.
    void usePinnedFiles()
    {
        auto& files = m_rewritten.files;
        for (auto it = files.begin(); it != files.end();) {
            const QString alias = m_conn.pinnedAlias(it->path);
            if (alias.isEmpty()) {
                ++it;
                continue;
            }
            QString table = it->table;
            table = QStringLiteral(".\"") + table.replace(QLatin1Char('"'), QLatin1String("\"\"")) +
                    QLatin1Char('"');
            m_rewritten.sql.replace(it->alias + table, alias + table);
            it = files.erase(it);
            m_pinned = true;
        }
    }

    void prepare()
    {
        const QByteArray text = m_rewritten.sql.toUtf8();
        const int rc = sqlite3_prepare_v3(m_conn.handle(), text.constData(), int(text.size()),
                                          SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
        if (rc != SQLITE_OK)
            fail(m_conn.handle(), rc);
        if (!m_stmt)
            throw DbError(QStringLiteral("The statement is empty."));
    }

    void bind(const Params& params)
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        const int count = sqlite3_bind_parameter_count(m_stmt);
        for (int i = 1; i <= count; ++i) {
            const char* raw = sqlite3_bind_parameter_name(m_stmt, i);
            if (!raw)
                continue;
            const QString name = QString::fromUtf8(raw + 1);
            const QVariant* value = nullptr;
            for (const auto& p : params)
                if (p.first.compare(name, Qt::CaseInsensitive) == 0)
                    value = &p.second;
            if (!value) {
                sqlite3_bind_null(m_stmt, i);
                continue;
            }
            bindValue(i, *value);
        }
    }

    void bindValue(int i, const QVariant& v)
    {
        if (v.isNull()) {
            sqlite3_bind_null(m_stmt, i);
            return;
        }
        switch (v.typeId()) {
        case QMetaType::Bool:
            sqlite3_bind_int(m_stmt, i, v.toBool() ? 1 : 0);
            return;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
            sqlite3_bind_int64(m_stmt, i, v.toLongLong());
            return;
        case QMetaType::Double:
            sqlite3_bind_double(m_stmt, i, v.toDouble());
            return;
        case QMetaType::QDateTime: {
            const QByteArray t =
                v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
            sqlite3_bind_text(m_stmt, i, t.constData(), int(t.size()), SQLITE_TRANSIENT);
            return;
        }
        case QMetaType::QByteArray: {
            const QByteArray b = v.toByteArray();
            sqlite3_bind_blob(m_stmt, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
            return;
        }
        default: {
            // Bound as given: a memo keeps its trailing blanks; fixed-width
            // text loses them when stored, and comparisons drop them.
            const QByteArray t = v.toString().toUtf8();
            sqlite3_bind_text(m_stmt, i, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        }
        }
    }

    QStringList columns() const
    {
        QStringList out;
        const int n = sqlite3_column_count(m_stmt);
        for (int c = 0; c < n; ++c)
            out << QString::fromUtf8(sqlite3_column_name(m_stmt, c));
        return out;
    }

    QVariantList row() const
    {
        const int n = sqlite3_column_count(m_stmt);
        QVariantList out;
        out.reserve(n);
        for (int c = 0; c < n; ++c)
            out.append(columnValue(c));
        return out;
    }

    QVariant columnValue(int c) const
    {
        switch (sqlite3_column_type(m_stmt, c)) {
        case SQLITE_NULL:
            return {};
        case SQLITE_INTEGER: {
            const qint64 v = sqlite3_column_int64(m_stmt, c);
            const char* decl = sqlite3_column_decltype(m_stmt, c);
            if (decl && qstricmp(decl, "BOOLEAN") == 0)
                return QVariant(v != 0);
            if (v >= INT_MIN && v <= INT_MAX)
                return QVariant(int(v));
            return QVariant(v);
        }
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(m_stmt, c));
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, c)),
                              sqlite3_column_bytes(m_stmt, c));
        default:
            return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, c)),
                                     sqlite3_column_bytes(m_stmt, c));
        }
    }

    // Steps once; true when a row is ready.
    bool step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        const DbError error(engineText(m_conn.handle()), rc);
        sqlite3_reset(m_stmt);
        throw error;
    }

    void reset() { sqlite3_reset(m_stmt); }
    qint64 int64At(int column) const { return sqlite3_column_int64(m_stmt, column); }

    double expectedWork() const
    {
        double rows = 0;
        for (const QString& t : m_rewritten.tables) {
            sqlite3_stmt* s = nullptr;
            const QByteArray q = QStringLiteral("SELECT max(rowid) FROM \"%1\"").arg(t).toUtf8();
            if (sqlite3_prepare_v2(m_conn.handle(), q.constData(), -1, &s, nullptr) == SQLITE_OK &&
                sqlite3_step(s) == SQLITE_ROW)
                rows += double(sqlite3_column_int64(s, 0));
            sqlite3_finalize(s);
        }
        return qMax(20000.0, rows * 60.0);
    }

    const RewrittenSql& rewritten() const { return m_rewritten; }

    bool inUse = false;

private:
    Connection& m_conn;
    RewrittenSql m_rewritten;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_pinned = false;
};

struct Connection::Cache
{
    std::list<std::pair<QString, std::shared_ptr<Statement>>> lru;
    QHash<QString, std::list<std::pair<QString, std::shared_ptr<Statement>>>::iterator> index;
    QHash<QString, QString> pinned; // table file -> schema alias

    void clear()
    {
        index.clear();
        lru.clear();
    }
};

namespace {

// Runs one statement: attaches the table files it names, binds, calls body,
// and detaches again, all under the connection lock.
class Run
{
public:
    Run(Connection& c, const Params& params, const ProgressFn& progress,
        std::shared_ptr<Statement> stmt)
        : m_conn(c), m_lock(c.mutex()), m_stmt(std::move(stmt)), m_progress(progress)
    {
        try {
            for (const AttachedFile& f : m_stmt->rewritten().files) {
                if (!QFileInfo::exists(f.path))
                    throw DbError(
                        QStringLiteral("The table file \"%1\" does not exist.").arg(f.path));
                exec(QStringLiteral("ATTACH DATABASE %1 AS %2").arg(quoted(f.path), f.alias));
                m_attached << f.alias;
                checkTableFile(c.handle(), f.alias, f.path, f.table);
            }
            if (m_stmt->hasFiles())
                m_stmt->prepare();
            m_stmt->inUse = true;
            m_stmt->bind(params);
            m_state.limit = c.workLimit();
            if (m_progress) {
                m_state.fn = &m_progress;
                m_state.expected = m_stmt->expectedWork();
                m_state.report(0);
            }
            if (m_progress || m_state.limit)
                sqlite3_progress_handler(c.handle(), ProgressOpcodes, progressCallback, &m_state);
        } catch (...) {
            cleanup();
            throw;
        }
    }
    ~Run() { cleanup(); }
    void finished()
    {
        if (m_progress)
            m_state.report(100);
    }
    Statement& stmt() { return *m_stmt; }

private:
    void cleanup()
    {
        if (m_progress || m_state.limit)
            sqlite3_progress_handler(m_conn.handle(), 0, nullptr, nullptr);
        if (m_stmt) {
            m_stmt->reset();
            m_stmt->inUse = false;
            if (m_stmt->hasFiles())
                m_stmt.reset(); // finalised before its files are detached
        }
        for (const QString& alias : std::as_const(m_attached))
            sqlite3_exec(m_conn.handle(),
                         QStringLiteral("DETACH DATABASE %1").arg(alias).toUtf8().constData(),
                         nullptr, nullptr, nullptr);
        m_attached.clear();
    }

    void exec(const QString& sql)
    {
        char* err = nullptr;
        if (sqlite3_exec(m_conn.handle(), sql.toUtf8().constData(), nullptr, nullptr, &err) !=
            SQLITE_OK) {
            const QString text = QString::fromUtf8(err);
            sqlite3_free(err);
            throw DbError(text);
        }
    }

    Connection& m_conn;
    std::lock_guard<std::recursive_mutex> m_lock;
    std::shared_ptr<Statement> m_stmt;
    ProgressFn m_progress;
    ProgressState m_state;
    QStringList m_attached;
};

} // namespace

namespace {

void execOrThrow(sqlite3* db, const QString& sql)
{
    char* err = nullptr;
    if (sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
        const QString text = err ? QString::fromUtf8(err) : engineText(db);
        sqlite3_free(err);
        throw DbError(text);
    }
}

QString pinKey(const QString& path)
{
    return QDir::cleanPath(path);
}

} // namespace

Connection::Connection(QString name) : m_name(std::move(name)), m_cache(std::make_unique<Cache>())
{
}

Connection::~Connection()
{
    close();
}

QString Connection::databaseFileName()
{
    return QStringLiteral("Brevicast.db");
}

QString Connection::databasePath() const
{
    return QDir(m_folder).filePath(databaseFileName());
}

bool Connection::isOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_db != nullptr;
}

void Connection::open(const QString& folder)
{
    std::lock_guard lock(m_mutex);
    close();
    m_folder = folder;
    const QByteArray path = QDir::toNativeSeparators(databasePath()).toUtf8();
    // The database holds the POP passwords: a new file is the user's alone,
    // and SQLite gives its journal files the same permissions.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    // One made before that, or by hand, is narrowed (when it is the user's).
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const QByteArray file = path + suffix;
        struct stat st{};
        if (::stat(file.constData(), &st) == 0 && (st.st_mode & 077) && st.st_uid == ::geteuid())
            ::chmod(file.constData(), st.st_mode & 0700);
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.constData(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        const QString text = db ? engineText(db) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        throw DbError(text, rc);
    }
    sqlite3_extended_result_codes(db, 0);
    sqlite3_busy_timeout(db, DefaultBusyTimeoutMs);
    auto run = [db](const char* sql) {
        char* err = nullptr;
        const int code = sqlite3_exec(db, sql, nullptr, nullptr, &err);
        if (code != SQLITE_OK) {
            const QString text =
                err ? QString::fromUtf8(err) : QString::fromUtf8(sqlite3_errstr(code));
            sqlite3_free(err);
            throw DbError(text, code);
        }
    };
    try {
        // Reading the header first: a file that is not a database fails here,
        // before anything is written.
        run("SELECT count(*) FROM sqlite_master");
        // Only a new file takes the setting, and asking for it on an existing
        // one needs the write lock that another program may be holding.
        sqlite3_stmt* pages = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA page_count", -1, &pages, nullptr);
        const bool fresh = sqlite3_step(pages) == SQLITE_ROW && sqlite3_column_int64(pages, 0) == 0;
        sqlite3_finalize(pages);
        if (fresh)
            run("PRAGMA auto_vacuum = INCREMENTAL");
        run("PRAGMA journal_mode = WAL");
        run("PRAGMA synchronous = NORMAL");
        // Fewer, larger checkpoints: each one waits for the disk.
        run("PRAGMA wal_autocheckpoint = 8192");
        run("PRAGMA temp_store = MEMORY");
        run("PRAGMA cache_size = -65536");
        run("PRAGMA recursive_triggers = OFF");
        sqlite3_create_function_v2(db, "UCase", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                   ucaseFunction, nullptr, nullptr, nullptr);
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
        const int version = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : 0;
        sqlite3_finalize(s);
        if (version != SchemaVersion) {
            run("BEGIN IMMEDIATE");
            try {
                for (const QString& stmt : obsoleteSchemaStatements())
                    run(stmt.toUtf8().constData());
                for (const TableDef& t : tables())
                    for (const QString& stmt : upgradeTableStatements(t, columnsOf(db, t.name)))
                        run(stmt.toUtf8().constData());
                for (const TableDef& t : tables())
                    for (const QString& stmt : createTableStatements(t))
                        run(stmt.toUtf8().constData());
                run(QStringLiteral("PRAGMA user_version = %1")
                        .arg(SchemaVersion)
                        .toUtf8()
                        .constData());
                run("COMMIT");
            } catch (...) {
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        }
    } catch (...) {
        sqlite3_close_v2(db);
        throw;
    }
    m_db = db;
}

void Connection::copyTableToFile(const QString& tableName, const QString& filePath)
{
    copyTablesToFiles({{tableName, filePath}});
}

void Connection::setBusyTimeout(int ms)
{
    std::lock_guard lock(m_mutex);
    m_busyTimeoutMs = ms;
    if (m_db)
        sqlite3_busy_timeout(m_db, ms);
}

int Connection::busyTimeout() const
{
    std::lock_guard lock(m_mutex);
    return m_busyTimeoutMs;
}

void Connection::copyTablesToFiles(const QList<QPair<QString, QString>>& tableFiles)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    std::vector<const TableDef*> defs;
    for (const auto& tableFile : tableFiles) {
        const TableDef* def = table(tableFile.first);
        if (!def)
            throw DbError(QStringLiteral("Table \"%1\" not found.").arg(tableFile.first));
        defs.push_back(def);
    }
    // Each copy is built beside its target and renamed over it only when all
    // are complete, so a failed backup never spoils a good one.
    QStringList temps;
    QStringList aliases;
    auto detachAll = [&] {
        for (const QString& alias : std::as_const(aliases))
            sqlite3_exec(m_db, QStringLiteral("DETACH DATABASE %1").arg(alias).toUtf8().constData(),
                         nullptr, nullptr, nullptr);
        aliases.clear();
    };
    auto removeTemps = [&] {
        for (const QString& temp : std::as_const(temps))
            QFile::remove(temp);
    };
    try {
        for (qsizetype i = 0; i < tableFiles.size(); ++i) {
            temps << tableFiles.at(i).second + QStringLiteral(".part");
            QFile::remove(temps.last());
            const QString alias = QStringLiteral("bkcopy%1").arg(i);
            execOrThrow(
                m_db, QStringLiteral("ATTACH DATABASE %1 AS %2").arg(quoted(temps.last()), alias));
            aliases << alias;
        }
        // One read snapshot of the main file for all copies.
        execOrThrow(m_db, QStringLiteral("BEGIN"));
        try {
            for (size_t i = 0; i < defs.size(); ++i) {
                // Only the table: the file is read whole by a restore, and
                // indexes and triggers would just slow the copy.
                const QStringList create =
                    createTableStatements(*defs[i], aliases.at(qsizetype(i)));
                execOrThrow(m_db, create.first());
                execOrThrow(m_db, QStringLiteral("INSERT INTO %1.\"%2\" SELECT * FROM main.\"%2\"")
                                      .arg(aliases.at(qsizetype(i)), defs[i]->name));
            }
            execOrThrow(m_db, QStringLiteral("COMMIT"));
        } catch (...) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        detachAll();
        for (qsizetype i = 0; i < tableFiles.size(); ++i) {
            const QString& target = tableFiles.at(i).second;
            QFile::remove(target);
            if (!QFile::rename(temps.at(i), target))
                throw DbError(QStringLiteral("Cannot write the table file \"%1\".").arg(target));
        }
    } catch (...) {
        detachAll();
        removeTemps();
        throw;
    }
}

void Connection::pinTableFile(const QString& path)
{
    if (!m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    if (m_cache->pinned.contains(pinKey(path)))
        return;
    if (!QFileInfo(path).isFile())
        throw DbError(QStringLiteral("The table file \"%1\" does not exist.").arg(path));
    const QString alias = QStringLiteral("pin%1").arg(m_cache->pinned.size());
    execOrThrow(m_db, QStringLiteral("ATTACH DATABASE %1 AS %2").arg(quoted(path), alias));
    try {
        // A file that is not a database, or not a plain table, fails here,
        // before any work is done.
        checkTableFile(m_db, alias, path, tableOfFile(path));
    } catch (...) {
        sqlite3_exec(m_db, QStringLiteral("DETACH DATABASE %1").arg(alias).toUtf8().constData(),
                     nullptr, nullptr, nullptr);
        throw;
    }
    m_cache->pinned.insert(pinKey(path), alias);
}

void Connection::unpinTableFiles()
{
    if (m_db)
        for (const QString& alias : std::as_const(m_cache->pinned))
            sqlite3_exec(m_db, QStringLiteral("DETACH DATABASE %1").arg(alias).toUtf8().constData(),
                         nullptr, nullptr, nullptr);
    m_cache->pinned.clear();
}

QString Connection::pinnedAlias(const QString& path) const
{
    return m_cache->pinned.value(pinKey(path));
}

Transaction::Transaction(Connection& connection, const QStringList& tableFiles)
    : m_connection(connection), m_lock(connection.mutex())
{
    if (!connection.m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    try {
        for (const QString& file : tableFiles)
            connection.pinTableFile(file);
        execOrThrow(connection.m_db, QStringLiteral("BEGIN IMMEDIATE"));
        m_open = true;
    } catch (...) {
        connection.unpinTableFiles();
        throw;
    }
}

Transaction::~Transaction()
{
    // A failed statement may already have ended the transaction.
    if (m_open && m_connection.m_db && !sqlite3_get_autocommit(m_connection.m_db))
        sqlite3_exec(m_connection.m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_connection.unpinTableFiles();
}

void Transaction::insertFittedRows(const QString& tableName)
{
    const TableDef* def = table(tableName);
    if (!m_open || !def)
        throw DbError(QStringLiteral("No transaction is open on table %1.").arg(tableName));
    const QString trigger = fitInsertTrigger(*def);
    if (trigger.isEmpty() || m_restoreTriggers.contains(trigger))
        return;
    // Dropped inside the transaction: a rollback or a killed process brings
    // it back with everything else.
    execOrThrow(m_connection.m_db,
                QStringLiteral("DROP TRIGGER IF EXISTS \"%1_fit_insert\"").arg(def->name));
    m_restoreTriggers << trigger;
}

void Transaction::commit()
{
    if (!m_open || !m_connection.m_db)
        throw DbError(QStringLiteral("No transaction is open."));
    for (const QString& trigger : std::as_const(m_restoreTriggers))
        execOrThrow(m_connection.m_db, trigger);
    m_restoreTriggers.clear();
    execOrThrow(m_connection.m_db, QStringLiteral("COMMIT"));
    m_open = false;
}

WorkLimit::WorkLimit(Connection& connection, qint64 steps)
    : m_connection(connection), m_lock(connection.mutex()), m_outer(connection.m_workLimit),
      m_remaining(steps)
{
    connection.m_workLimit = this;
}

WorkLimit::~WorkLimit()
{
    m_connection.m_workLimit = m_outer;
}

bool WorkLimit::spend(qint64 steps)
{
    m_remaining -= steps;
    if (m_remaining < 0)
        m_exceeded = true;
    // An enclosing limit counts the same steps.
    const bool outerOk = !m_outer || m_outer->spend(steps);
    return !m_exceeded && outerOk;
}

qint64 Connection::lastInsertRowid() const
{
    std::lock_guard lock(m_mutex);
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

void Connection::close()
{
    std::lock_guard lock(m_mutex);
    m_cache->clear();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

std::shared_ptr<Statement> Connection::prepare(const QString& sql)
{
    // Statements naming table files are prepared afresh after their files are attached.
    auto it = m_cache->index.find(sql);
    if (it != m_cache->index.end()) {
        auto node = it.value();
        if (!node->second->inUse) {
            m_cache->lru.splice(m_cache->lru.begin(), m_cache->lru, node);
            return node->second;
        }
    }
    auto stmt = std::make_shared<Statement>(*this, sql);
    if (stmt->hasFiles())
        return stmt;
    stmt->prepare();
    if (it == m_cache->index.end()) {
        m_cache->lru.emplace_front(sql, stmt);
        m_cache->index.insert(sql, m_cache->lru.begin());
        if (m_cache->lru.size() > CacheCapacity) {
            m_cache->index.remove(m_cache->lru.back().first);
            m_cache->lru.pop_back();
        }
    }
    return stmt;
}

int Connection::execute(const QString& sql, const Params& params, const ProgressFn& progress)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    Run run(*this, params, progress, prepare(sql));
    while (run.stmt().step()) {
    }
    run.finished();
    return sqlite3_changes(m_db);
}

ResultSet Connection::select(const QString& sql, const Params& params, const ProgressFn& progress)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    Run run(*this, params, progress, prepare(sql));
    ResultSet rs;
    rs.columns = run.stmt().columns();
    while (run.stmt().step())
        rs.rows.push_back(run.stmt().row());
    run.finished();
    return rs;
}

QVariant Connection::scalar(const QString& sql, const Params& params)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    Run run(*this, params, {}, prepare(sql));
    if (!run.stmt().step())
        return {};
    return run.stmt().columnValue(0);
}

void Connection::forEachRow(const QString& sql, const Params& params,
                            const std::function<bool(const QStringList&, const QVariantList&)>& fn)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    Run run(*this, params, {}, prepare(sql));
    const QStringList cols = run.stmt().columns();
    while (run.stmt().step())
        if (!fn(cols, run.stmt().row()))
            break;
}

std::vector<qint64> Connection::selectIntegers(const QString& sql, const Params& params)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        throw DbError(QStringLiteral("The database connection is not open."));
    Run run(*this, params, {}, prepare(sql));
    std::vector<qint64> out;
    while (run.stmt().step())
        out.push_back(run.stmt().int64At(0));
    return out;
}

Query::Query(Connection& connection) : m_connection(connection) {}

Query::~Query() = default;

void Query::setSql(const QString& sql)
{
    close();
    m_sql = sql;
}

void Query::setParam(const QString& name, const QVariant& value)
{
    for (auto& p : m_params)
        if (p.first.compare(name, Qt::CaseInsensitive) == 0) {
            p.second = value;
            return;
        }
    m_params.append({name, value});
}

void Query::clearParams()
{
    m_params.clear();
}

void Query::open()
{
    close();
    m_rows = m_connection.select(m_sql, m_params, m_progress);
    m_pos = 0;
    m_open = true;
}

void Query::close()
{
    m_rows = ResultSet();
    m_pos = 0;
    m_open = false;
}

bool Query::eof() const
{
    return !m_open || m_pos >= m_rows.size();
}

void Query::first()
{
    m_pos = 0;
}

void Query::next()
{
    if (m_pos < m_rows.size())
        ++m_pos;
}

QVariant Query::value(const QString& field) const
{
    return m_rows.value(m_pos, field);
}

QVariant Query::value(int column) const
{
    if (eof())
        return {};
    return m_rows.rows[size_t(m_pos)].value(column);
}

int Query::execSql()
{
    return m_connection.execute(m_sql, m_params, m_progress);
}

} // namespace bv::data
