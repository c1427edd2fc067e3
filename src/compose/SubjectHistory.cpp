#include "SubjectHistory.h"

#include "core/TextFile.h"

#include <QFileInfo>

#include <algorithm>

namespace bv::compose {

namespace {

bool lessIgnoringCase(const QString& a, const QString& b)
{
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

} // namespace

bool SubjectHistory::load(const QString& path, QString* error)
{
    if (!QFileInfo::exists(path)) {
        m_subjects.clear();
        return true;
    }
    QStringList lines;
    if (!readTextLines(path, lines, error))
        return false;
    std::stable_sort(lines.begin(), lines.end(), lessIgnoringCase);
    m_subjects = lines;
    return true;
}

bool SubjectHistory::contains(const QString& text) const
{
    return m_subjects.contains(text, Qt::CaseInsensitive);
}

void SubjectHistory::insertSorted(const QString& text)
{
    const auto at = std::upper_bound(m_subjects.begin(), m_subjects.end(), text, lessIgnoringCase);
    m_subjects.insert(at, text);
}

bool SubjectHistory::addIfAbsent(const QString& text)
{
    if (contains(text))
        return false;
    insertSorted(text);
    return true;
}

bool SubjectHistory::remove(const QString& text)
{
    for (qsizetype i = 0; i < m_subjects.size(); ++i)
        if (m_subjects[i].compare(text, Qt::CaseInsensitive) == 0) {
            m_subjects.removeAt(i);
            return true;
        }
    return false;
}

bool SubjectHistory::save(const QString& path, QString* error) const
{
    return writeTextLines(path, m_subjects, error);
}

} // namespace bv::compose
