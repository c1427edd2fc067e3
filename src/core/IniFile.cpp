#include "core/IniFile.h"

#include "core/TextFile.h"

#include <QFileInfo>

namespace bv {

namespace {

const QLatin1String kTextBegin("_TextBegin");
const QLatin1String kTextEnd("_TextEnd");

// Names compare without regard to letter case; hashed by their folded form.
QString folded(const QString& name)
{
    return name.toCaseFolded();
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
    QHash<qint64, qint64> raw;
    struct Pending
    {
        std::optional<qint64> begin, end;
    };
    QHash<QString, Pending> pending; // by folded section name

    qsizetype current = -1;
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
            current = ini.m_sectionIndex.value(folded(name), -1);
            if (current < 0) {
                ini.addSection(name);
                current = ini.m_sections.size() - 1;
            }
            continue;
        }

        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (current < 0 || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.isEmpty())
            continue;
        Section& section = ini.m_sections[current];
        const QString foldedKey = folded(key);
        if (section.keys.contains(foldedKey))
            continue;
        const QString value = line.mid(eq + 1);
        section.keys.insert(foldedKey, section.entries.size());
        section.entries.append({key, value});

        // A section's own _TextBegin/_TextEnd pair marks the raw lines ahead.
        const QString foldedName = folded(section.name);
        const bool isBegin = foldedKey == foldedName + folded(kTextBegin);
        if (isBegin || foldedKey == foldedName + folded(kTextEnd)) {
            Pending& p = pending[foldedName];
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
    const qsizetype i = m_sectionIndex.value(folded(name), -1);
    return i < 0 ? nullptr : &m_sections.at(i);
}

IniFile::Section* IniFile::section(const QString& name)
{
    const qsizetype i = m_sectionIndex.value(folded(name), -1);
    return i < 0 ? nullptr : &m_sections[i];
}

IniFile::Section& IniFile::addSection(const QString& name)
{
    m_sectionIndex.insert(folded(name), m_sections.size());
    m_sections.append({name, {}, {}});
    return m_sections.last();
}

const IniFile::Entry* IniFile::entry(const Section& s, const QString& key)
{
    const qsizetype i = s.keys.value(folded(key), -1);
    return i < 0 ? nullptr : &s.entries.at(i);
}

std::optional<QString> IniFile::value(const QString& sectionName, const QString& key) const
{
    const Section* s = section(sectionName);
    const Entry* e = s ? entry(*s, key) : nullptr;
    if (!e)
        return std::nullopt;
    return e->value;
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
    if (!s)
        s = &addSection(sectionName);
    const QString foldedKey = folded(key);
    const qsizetype i = s->keys.value(foldedKey, -1);
    if (i >= 0) {
        s->entries[i].value = value;
        return;
    }
    s->keys.insert(foldedKey, s->entries.size());
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
