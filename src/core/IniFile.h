#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace bv {

// An INI text as the program's settings files hold it. Section and key names
// compare without regard to letter case; the first occurrence of a key wins.
//
// A section S holding the keys S_TextBegin and S_TextEnd names a range of raw
// text lines further down the file. Those lines are skipped while parsing, so
// that a body line that looks like a section header or a key cannot take the
// place of a real one.
class IniFile
{
public:
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        QList<Entry> entries;
        // Entry position by case-folded key, so that a long section reads in
        // linear time.
        QHash<QString, qsizetype> keys;
    };

    IniFile() = default;
    static IniFile fromLines(QStringList lines);

    // A missing file reads as an empty one. Returns false with the system's
    // reason in *error when the file exists but cannot be read.
    static bool load(const QString& path, IniFile& out, QString* error = nullptr);

    std::optional<QString> value(const QString& section, const QString& key) const;
    QString value(const QString& section, const QString& key, const QString& fallback) const;
    // The value as a whole decimal number, or fallback when absent or not one.
    qint64 number(const QString& section, const QString& key, qint64 fallback) const;

    // Replaces the first occurrence of the key, or appends it; a new section
    // goes to the end.
    void setValue(const QString& section, const QString& key, const QString& value);

    // The file's lines as read, for text ranges addressed by line number.
    const QStringList& lines() const { return m_lines; }
    // Lines first..last (counted from 0) that exist in the file; empty when
    // either number is negative or last is before first.
    QStringList lineRange(qint64 first, qint64 last) const;

    const QList<Section>& sections() const { return m_sections; }
    // Sections and keys written back as lines, without the raw ranges.
    QStringList toLines() const;

private:
    const Section* section(const QString& name) const;
    Section* section(const QString& name);
    Section& addSection(const QString& name);
    static const Entry* entry(const Section& s, const QString& key);

    QStringList m_lines;
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex; // by case-folded name
};

} // namespace bv
