#include "Dialect.h"

#include "Schema.h"
#include "TableFile.h"

namespace bv::data {

namespace {

enum class Tok { Space, Word, QuotedIdent, String, Number, Param, Punct };

struct Token
{
    Tok kind;
    QString text;
};

bool isWordStart(QChar c)
{
    return c.isLetter() || c == QLatin1Char('_');
}
bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

std::vector<Token> tokenize(const QString& s)
{
    std::vector<Token> out;
    const qsizetype n = s.size();
    qsizetype i = 0;
    bool lineStart = true;
    while (i < n) {
        const QChar c = s.at(i);
        const qsizetype start = i;
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            ++i;
            out.push_back({Tok::Space, s.mid(start, 1)});
            lineStart = true;
            continue;
        }
        if (c.isSpace()) {
            while (i < n && s.at(i).isSpace() && s.at(i) != QLatin1Char('\n') &&
                   s.at(i) != QLatin1Char('\r'))
                ++i;
            out.push_back({Tok::Space, s.mid(start, i - start)});
            continue;
        }
        const bool atLineStart = lineStart;
        lineStart = false;
        // A line beginning with "//" is a comment of the dialect.
        if (atLineStart && c == QLatin1Char('/') && i + 1 < n && s.at(i + 1) == QLatin1Char('/')) {
            while (i < n && s.at(i) != QLatin1Char('\n') && s.at(i) != QLatin1Char('\r'))
                ++i;
            out.push_back({Tok::Space, QStringLiteral(" ")});
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < n && s.at(i + 1) == QLatin1Char('-')) {
            while (i < n && s.at(i) != QLatin1Char('\n') && s.at(i) != QLatin1Char('\r'))
                ++i;
            out.push_back({Tok::Space, QStringLiteral(" ")});
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && s.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = s.indexOf(QLatin1String("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            out.push_back({Tok::Space, QStringLiteral(" ")});
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            ++i;
            QString body;
            while (i < n) {
                if (s.at(i) == c) {
                    if (i + 1 < n && s.at(i + 1) == c) {
                        body += c;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                body += s.at(i++);
            }
            out.push_back({c == QLatin1Char('\'') ? Tok::String : Tok::QuotedIdent, body});
            continue;
        }
        if (c == QLatin1Char('[')) {
            const qsizetype end = s.indexOf(QLatin1Char(']'), i + 1);
            i = end < 0 ? n : end + 1;
            out.push_back({Tok::QuotedIdent, s.mid(start + 1, i - start - 2)});
            continue;
        }
        if (c == QLatin1Char(':') && i + 1 < n && isWordStart(s.at(i + 1))) {
            ++i;
            while (i < n && isWordChar(s.at(i)))
                ++i;
            out.push_back({Tok::Param, s.mid(start, i - start)});
            continue;
        }
        if (isWordStart(c)) {
            while (i < n && isWordChar(s.at(i)))
                ++i;
            out.push_back({Tok::Word, s.mid(start, i - start)});
            continue;
        }
        if (c.isDigit() || (c == QLatin1Char('.') && i + 1 < n && s.at(i + 1).isDigit())) {
            while (i < n && (s.at(i).isLetterOrNumber() || s.at(i) == QLatin1Char('.')))
                ++i;
            out.push_back({Tok::Number, s.mid(start, i - start)});
            continue;
        }
        static const char* const twoChar[] = {"<>", "<=", ">=", "!=", "==", "||"};
        bool matched = false;
        for (const char* op : twoChar) {
            if (i + 1 < n && s.at(i) == QLatin1Char(op[0]) && s.at(i + 1) == QLatin1Char(op[1])) {
                out.push_back({Tok::Punct, s.mid(i, 2)});
                i += 2;
                matched = true;
                break;
            }
        }
        if (!matched)
            out.push_back({Tok::Punct, s.mid(i++, 1)});
    }
    return out;
}

bool isWord(const Token& t, const char* w)
{
    return t.kind == Tok::Word && t.text.compare(QLatin1String(w), Qt::CaseInsensitive) == 0;
}
bool isPunct(const Token& t, const char* p)
{
    return t.kind == Tok::Punct && t.text == QLatin1String(p);
}
bool isComparison(const Token& t)
{
    return t.kind == Tok::Punct &&
           (t.text == QLatin1String("=") || t.text == QLatin1String("<>") ||
            t.text == QLatin1String("!=") || t.text == QLatin1String("<") ||
            t.text == QLatin1String(">") || t.text == QLatin1String("<=") ||
            t.text == QLatin1String(">=") || t.text == QLatin1String("=="));
}

QString quoteIdent(const QString& name)
{
    QString body = name;
    body.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + body + QLatin1Char('"');
}
QString quoteString(const QString& value)
{
    QString body = value;
    body.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + body + QLatin1Char('\'');
}

bool looksLikeTableFile(const QString& ident)
{
    return ident.contains(QLatin1Char('/')) || ident.contains(QLatin1Char('\\')) ||
           ident.endsWith(QLatin1String(".adt"), Qt::CaseInsensitive);
}

class Rewriter
{
public:
    explicit Rewriter(std::vector<Token> tokens) : m_t(std::move(tokens)) {}

    QString run(RewrittenSql* info)
    {
        m_info = info;
        size_t end = m_t.size();
        // A trailing ";" stays outside any LIMIT we add.
        size_t tail = end;
        while (tail > 0 && (m_t[tail - 1].kind == Tok::Space || isPunct(m_t[tail - 1], ";")))
            --tail;
        QString out = range(0, tail);
        for (size_t i = tail; i < end; ++i)
            out += emitToken(i);
        return out;
    }

private:
    size_t nextSolid(size_t i, size_t end) const
    {
        while (i < end && m_t[i].kind == Tok::Space)
            ++i;
        return i;
    }
    // Index of the previous non-space token before i, or npos.
    size_t prevSolid(size_t i) const
    {
        while (i > 0) {
            --i;
            if (m_t[i].kind != Tok::Space)
                return i;
        }
        return size_t(-1);
    }
    size_t matchParen(size_t open, size_t end) const
    {
        int depth = 0;
        for (size_t i = open; i < end; ++i) {
            if (isPunct(m_t[i], "("))
                ++depth;
            else if (isPunct(m_t[i], ")") && --depth == 0)
                return i;
        }
        return end;
    }

    // The column a literal or parameter at i is compared with (or assigned
    // to): "StartTime = '...'", "'...' = h.StartTime". Empty when the other
    // side is no bare column.
    QString comparedColumn(size_t i, size_t end) const
    {
        const size_t before = prevSolid(i);
        if (before != size_t(-1) && isComparison(m_t[before])) {
            const size_t col = prevSolid(before);
            if (col != size_t(-1) && (m_t[col].kind == Tok::Word || m_t[col].kind == Tok::QuotedIdent))
                return m_t[col].text;
            return {};
        }
        const size_t after = nextSolid(i + 1, end);
        if (after < end && isComparison(m_t[after])) {
            size_t col = nextSolid(after + 1, end);
            // Skip a qualifier: "h.StartTime".
            if (col + 2 < end && isPunct(m_t[col + 1], "."))
                col += 2;
            if (col < end && (m_t[col].kind == Tok::Word || m_t[col].kind == Tok::QuotedIdent))
                return m_t[col].text;
        }
        return {};
    }

    bool comparedLiteral(size_t i, size_t end) const
    {
        const size_t before = prevSolid(i);
        if (before != size_t(-1) && isComparison(m_t[before]))
            return true;
        const size_t after = nextSolid(i + 1, end);
        return after < end && isComparison(m_t[after]);
    }

    QString emitToken(size_t i)
    {
        const Token& t = m_t[i];
        switch (t.kind) {
        case Tok::String: {
            QString v = t.text;
            if (comparedLiteral(i, m_t.size())) {
                const QString column = comparedColumn(i, m_t.size());
                const auto type = fieldTypeByName(column);
                // "=" ignores trailing blanks, and fixed-width text is stored
                // without them; a memo or a password keeps its text as written.
                if (type != FieldType::Memo && !keepsBlanks(column))
                    while (v.endsWith(QLatin1Char(' ')))
                        v.chop(1);
                if (type == FieldType::Timestamp)
                    v = sortableTimestamp(v);
            }
            return quoteString(v);
        }
        case Tok::Param:
            if (comparedLiteral(i, m_t.size())) {
                // The same for a value bound at run time, where it is text.
                const QString column = comparedColumn(i, m_t.size());
                const auto type = fieldTypeByName(column);
                if ((type == FieldType::Character || !type) && !keepsBlanks(column)
                    && column.compare(QLatin1String("rowid"), Qt::CaseInsensitive) != 0)
                    return QStringLiteral("rtrim(") + t.text + QStringLiteral(", ' ')");
            }
            return t.text;
        case Tok::QuotedIdent:
            if (looksLikeTableFile(t.text) && m_info) {
                AttachedFile f;
                f.alias = QStringLiteral("adt%1").arg(m_info->files.size());
                f.path = t.text;
                f.table = tableOfFile(t.text);
                m_info->files.push_back(f);
                return f.alias + QLatin1Char('.') + quoteIdent(f.table);
            }
            noteTable(t.text);
            return quoteIdent(t.text);
        case Tok::Word:
            if (isWord(t, "Index") || isWord(t, "Default"))
                return quoteIdent(t.text);
            // The built-in upper() changes the same letters as UCase, and only
            // an expression written with it can use the upper-case indexes.
            if (isWord(t, "UCase")) {
                const size_t open = nextSolid(i + 1, m_t.size());
                if (open < m_t.size() && isPunct(m_t[open], "("))
                    return QStringLiteral("upper");
            }
            noteTable(t.text);
            return t.text;
        default:
            return t.text;
        }
    }

    void noteTable(const QString& name)
    {
        if (!m_info)
            return;
        if (const TableDef* def = table(name))
            if (!m_info->tables.contains(def->name))
                m_info->tables << def->name;
    }

    // Rewrites tokens [begin, end): one nesting level, recursing into parentheses.
    QString range(size_t begin, size_t end)
    {
        QString out;
        QString limit;
        size_t skipFrom = size_t(-1);
        size_t skipTo = 0;
        for (size_t i = begin; i < end; ++i) {
            if (skipFrom <= i && i <= skipTo)
                continue;
            const Token& t = m_t[i];
            if (isWord(t, "POSITION")) {
                const size_t open = nextSolid(i + 1, end);
                if (open < end && isPunct(m_t[open], "(")) {
                    const size_t close = matchParen(open, end);
                    size_t in = close;
                    int depth = 0;
                    for (size_t k = open + 1; k < close; ++k) {
                        if (isPunct(m_t[k], "("))
                            ++depth;
                        else if (isPunct(m_t[k], ")"))
                            --depth;
                        else if (depth == 0 && isWord(m_t[k], "IN")) {
                            in = k;
                            break;
                        }
                    }
                    if (in < close) {
                        out += QStringLiteral("instr((") + range(in + 1, close) +
                               QStringLiteral("), (") + range(open + 1, in) + QStringLiteral("))");
                        i = close;
                        continue;
                    }
                }
            }
            if (isWord(t, "SELECT")) {
                size_t k = nextSolid(i + 1, end);
                if (k < end && (isWord(m_t[k], "DISTINCT") || isWord(m_t[k], "ALL")))
                    k = nextSolid(k + 1, end);
                if (k < end && isWord(m_t[k], "TOP")) {
                    const size_t num = nextSolid(k + 1, end);
                    if (num < end && m_t[num].kind == Tok::Number) {
                        limit = m_t[num].text;
                        skipFrom = k;
                        skipTo = num;
                    }
                }
            }
            if (isPunct(t, "(")) {
                const size_t close = matchParen(i, end);
                out += QLatin1Char('(') + range(i + 1, close);
                if (close < end)
                    out += QLatin1Char(')');
                i = close;
                continue;
            }
            out += emitToken(i);
        }
        if (!limit.isEmpty())
            out += QStringLiteral(" LIMIT ") + limit;
        return out;
    }

    std::vector<Token> m_t;
    RewrittenSql* m_info = nullptr;
};

} // namespace

RewrittenSql rewriteStatement(const QString& sql)
{
    RewrittenSql result;
    Rewriter r(tokenize(sql));
    result.sql = r.run(&result);
    return result;
}

QString rewriteExpression(const QString& expression)
{
    Rewriter r(tokenize(expression));
    return r.run(nullptr);
}

} // namespace bv::data
