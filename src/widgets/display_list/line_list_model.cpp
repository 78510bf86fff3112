#include "widgets/display_list/line_list_model.h"

#include <algorithm>

LineListModel::LineListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int LineListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant LineListModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= Count())
        return {};
    return LineText(index.row());
}

QString LineListModel::LineText(int row) const
{
    const StoredLine &line = m_lines[static_cast<size_t>(row)];
    return DecodeText(line.bytes, line.encoding);
}

int LineListModel::InsertLine(int row, const QByteArray &line, TextEncoding encoding)
{
    if (row == -1)
        row = Count();
    if (row < 0 || row > Count())
        return -1;
    beginInsertRows(QModelIndex(), row, row);
    StoredLine stored{line, encoding};
    if (row == 0)
        m_lines.push_front(std::move(stored));
    else if (row == Count())
        m_lines.push_back(std::move(stored));
    else
        m_lines.insert(m_lines.begin() + row, std::move(stored));
    endInsertRows();
    if (m_maxLines > 0 && Count() > m_maxLines) {
        const bool fromBottom = row == 0 || row < Count() - 1;
        TrimTo(m_maxLines, fromBottom);
        if (!fromBottom)
            row -= 1;
    }
    return row;
}

void LineListModel::SetMaxLines(int maxLines)
{
    m_maxLines = std::max(0, maxLines);
    if (m_maxLines > 0 && Count() > m_maxLines)
        TrimTo(m_maxLines, true);
}

void LineListModel::TrimTo(int maxLines, bool fromBottom)
{
    const int extra = Count() - maxLines;
    if (extra <= 0)
        return;
    if (fromBottom) {
        beginRemoveRows(QModelIndex(), maxLines, Count() - 1);
        m_lines.erase(m_lines.end() - extra, m_lines.end());
    } else {
        beginRemoveRows(QModelIndex(), 0, extra - 1);
        m_lines.erase(m_lines.begin(), m_lines.begin() + extra);
    }
    endRemoveRows();
}

bool LineListModel::RemoveLine(int row)
{
    if (row < 0 || row >= Count())
        return false;
    beginRemoveRows(QModelIndex(), row, row);
    m_lines.erase(m_lines.begin() + row);
    endRemoveRows();
    return true;
}

void LineListModel::Clear()
{
    beginResetModel();
    std::deque<StoredLine>().swap(m_lines);
    endResetModel();
}

void LineListModel::SetLines(std::deque<QByteArray> lines)
{
    if (m_maxLines > 0 && lines.size() > static_cast<size_t>(m_maxLines))
        lines.resize(static_cast<size_t>(m_maxLines));
    beginResetModel();
    m_lines.clear();
    for (QByteArray &line : lines)
        m_lines.push_back({std::move(line), TextEncoding::Gbk});
    endResetModel();
}
