#include "core/IniFile.h"

#include "core/TextFile.h"

#include <QFileInfo>
#include <QMap>

namespace bv {

namespace {

const QLatin1String kTextBegin("_TextBegin");
const QLatin1String kTextEnd("_TextEnd");

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

std::optional<qint64> toNumber(const QString& text)
{
    bool ok = false;
    const qint64 n = text.trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return n;
}

} // namespace

IniFile IniFile::fromLines(QStringList lines)
{
    IniFile ini;
    ini.m_lines = std::move(lines);
    const qint64 count = ini.m_lines.size();

    // Raw ranges learned so far: first line -> last line.
    QMap<qint64, qint64> raw;
    struct Pending
    {
        std::optional<qint64> begin, end;
    };
    QMap<QString, Pending> pending; // by upper-cased section name

    Section* current = nullptr;
    for (qint64 i = 0; i < count; ++i) {
        const auto skip = raw.constFind(i);
        if (skip != raw.constEnd() && skip.value() >= i) {
            i = qMin(skip.value(), count - 1);
            continue;
        }

        const QString& line = ini.m_lines.at(i);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
            continue;

        if (trimmed.startsWith(QLatin1Char('['))) {
            const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
            if (close < 0)
                continue;
            const QString name = trimmed.mid(1, close - 1).trimmed();
            current = ini.section(name);
            if (!current) {
                ini.m_sections.append({name, {}});
                current = &ini.m_sections.last();
            }
            continue;
        }

        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!current || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.isEmpty())
            continue;
        bool known = false;
        for (const Entry& e : std::as_const(current->entries))
            if (sameName(e.key, key)) {
                known = true;
                break;
            }
        if (known)
            continue;
        const QString value = line.mid(eq + 1);
        current->entries.append({key, value});

        // A section's own _TextBegin/_TextEnd pair marks the raw lines ahead.
        const bool isBegin = sameName(key, current->name + kTextBegin);
        if (isBegin || sameName(key, current->name + kTextEnd)) {
            Pending& p = pending[current->name.toUpper()];
            (isBegin ? p.begin : p.end) = toNumber(value);
            if (p.begin && p.end && *p.begin > i && *p.end >= *p.begin && !raw.contains(*p.begin))
                raw.insert(*p.begin, *p.end);
        }
    }
    return ini;
}

bool IniFile::load(const QString& path, IniFile& out, QString* error)
{
    if (!QFileInfo::exists(path)) {
        out = IniFile();
        return true;
    }
    QStringList lines;
    if (!readTextLines(path, lines, error))
        return false;
    out = fromLines(std::move(lines));
    return true;
}

const IniFile::Section* IniFile::section(const QString& name) const
{
    for (const Section& s : m_sections)
        if (sameName(s.name, name))
            return &s;
    return nullptr;
}

IniFile::Section* IniFile::section(const QString& name)
{
    for (Section& s : m_sections)
        if (sameName(s.name, name))
            return &s;
    return nullptr;
}

std::optional<QString> IniFile::value(const QString& sectionName, const QString& key) const
{
    const Section* s = section(sectionName);
    if (!s)
        return std::nullopt;
    for (const Entry& e : s->entries)
        if (sameName(e.key, key))
            return e.value;
    return std::nullopt;
}

QString IniFile::value(const QString& sectionName, const QString& key, const QString& fallback) const
{
    return value(sectionName, key).value_or(fallback);
}

qint64 IniFile::number(const QString& sectionName, const QString& key, qint64 fallback) const
{
    const auto v = value(sectionName, key);
    if (!v)
        return fallback;
    return toNumber(*v).value_or(fallback);
}

void IniFile::setValue(const QString& sectionName, const QString& key, const QString& value)
{
    Section* s = section(sectionName);
    if (!s) {
        m_sections.append({sectionName, {}});
        s = &m_sections.last();
    }
    for (Entry& e : s->entries)
        if (sameName(e.key, key)) {
            e.value = value;
            return;
        }
    s->entries.append({key, value});
}

QStringList IniFile::lineRange(qint64 first, qint64 last) const
{
    QStringList out;
    if (first < 0 || last < first || first >= m_lines.size())
        return out;
    const qint64 end = qMin<qint64>(last, m_lines.size() - 1);
    out.reserve(end - first + 1);
    for (qint64 i = first; i <= end; ++i)
        out.append(m_lines.at(i));
    return out;
}

QStringList IniFile::toLines() const
{
    QStringList out;
    for (const Section& s : m_sections) {
        out.append(QLatin1Char('[') + s.name + QLatin1Char(']'));
        for (const Entry& e : s.entries)
            out.append(e.key + QLatin1Char('=') + e.value);
    }
    return out;
}

} // namespace bv
