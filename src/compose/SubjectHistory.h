#pragma once

#include <QString>
#include <QStringList>

namespace bv::compose {

// The subject box's list, kept sorted without regard to letter case, and its
// file "Subjects.txt".
class SubjectHistory
{
public:
    static QString fileName() { return QStringLiteral("Subjects.txt"); }

    const QStringList& subjects() const { return m_subjects; }

    // Replaces the list by the file's lines; a missing file gives an empty
    // list. Returns false with the system's reason when the file is there but
    // cannot be read; the list is then left as it was.
    bool load(const QString& path, QString* error = nullptr);
    // Adds text, an empty one included, unless the list holds it in any letter
    // case. Returns whether it was added.
    bool addIfAbsent(const QString& text);
    // Removes the entry equal to text ignoring case, if there is one.
    bool remove(const QString& text);
    bool contains(const QString& text) const;
    // One subject per line, CR LF after each.
    bool save(const QString& path, QString* error = nullptr) const;

private:
    void insertSorted(const QString& text);

    QStringList m_subjects;
};

} // namespace bv::compose
