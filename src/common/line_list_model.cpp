#include "common/line_list_model.h"

#include "platform/gbk.h"

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
    return FromGbk(Line(index.row()));
}

int LineListModel::InsertLine(int row, const QByteArray &line)
{
    if (row == -1)
        row = Count();
    if (row < 0 || row > Count())
        return -1;
    beginInsertRows(QModelIndex(), row, row);
    if (row == 0)
        m_lines.push_front(line);
    else if (row == Count())
        m_lines.push_back(line);
    else
        m_lines.insert(m_lines.begin() + row, line);
    endInsertRows();
    return row;
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
    std::deque<QByteArray>().swap(m_lines);
    endResetModel();
}

void LineListModel::SetLines(std::deque<QByteArray> lines)
{
    beginResetModel();
    m_lines.swap(lines);
    endResetModel();
}
