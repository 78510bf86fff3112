#pragma once

#include <cstddef>
#include <deque>
#include <map>

// The measured width of every line of a list, in list order, and how many lines have each
// width: the widest line is known at once, however many lines come and go at either end.
class LineWidthIndex
{
public:
    void Insert(int row, int width);
    void Remove(int first, int last);
    void Clear();

    int At(int row) const { return m_widths[static_cast<std::size_t>(row)]; }
    int Count() const { return static_cast<int>(m_widths.size()); }
    // The largest width, 0 when there is none above 0.
    int Widest() const;

private:
    void Forget(int width);

    std::deque<int> m_widths;
    std::map<int, int> m_linesByWidth;  // widths above 0 only
};
