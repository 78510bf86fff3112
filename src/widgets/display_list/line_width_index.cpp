#include "widgets/display_list/line_width_index.h"

void LineWidthIndex::Insert(int row, int width)
{
    if (row <= 0)
        m_widths.push_front(width);
    else if (row >= Count())
        m_widths.push_back(width);
    else
        m_widths.insert(m_widths.begin() + row, width);
    if (width > 0)
        ++m_linesByWidth[width];
}

void LineWidthIndex::Forget(int width)
{
    if (width <= 0)
        return;
    const auto found = m_linesByWidth.find(width);
    if (found != m_linesByWidth.end() && --found->second == 0)
        m_linesByWidth.erase(found);
}

void LineWidthIndex::Remove(int first, int last)
{
    if (first < 0 || last >= Count() || first > last)
        return;
    for (int row = first; row <= last; ++row)
        Forget(At(row));
    m_widths.erase(m_widths.begin() + first, m_widths.begin() + last + 1);
}

void LineWidthIndex::Clear()
{
    std::deque<int>().swap(m_widths);
    m_linesByWidth.clear();
}

int LineWidthIndex::Widest() const
{
    return m_linesByWidth.empty() ? 0 : m_linesByWidth.rbegin()->first;
}
