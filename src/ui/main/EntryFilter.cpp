#include "EntryFilter.h"

#include "store/EntryModel.h"
#include "store/Windows1252.h"

EntryFilter::EntryFilter(EntryModel& entries, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_entries(entries)
{
    setSourceModel(&entries);
}

void EntryFilter::setFindText(const QString& text)
{
    if (text == m_findText)
        return;
    m_findText = text;
    invalidateRowsFilter();
}

bool EntryFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (m_findText.isEmpty())
        return true;
    const Entry& e = m_entries.entry(sourceRow);
    const auto holds = [this](QByteArrayView field) {
        return Windows1252::toUnicode(field).contains(m_findText, Qt::CaseInsensitive);
    };
    // A hidden user name stays hidden: finding by it would tell it letter by letter.
    return holds(e.title()) || holds(e.url()) ||
           (!m_entries.userNamesHidden() && holds(e.userName()));
}
