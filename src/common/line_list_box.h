#pragma once

#include "common/line_list_view.h"

#include <deque>

class LineListModel;

// A list box of text lines with the classic list box calls. Lines are GBK bytes; the
// model shows them decoded. Positions follow the list box rules: -1 means the end.
class LineListBox : public LineListView
{
    Q_OBJECT

public:
    static constexpr int LB_ERR = -1;
    static constexpr int LB_ERRSPACE = -2;

    explicit LineListBox(QWidget *parent = nullptr);

    virtual int AddString(const QByteArray &line);
    virtual int InsertString(int index, const QByteArray &line);
    virtual int DeleteString(int index);
    virtual void ResetContent();

    // Empties the list and fills it with lines, as one change.
    void ResetLines(std::deque<QByteArray> lines);

    int GetCount() const;
    QByteArray GetText(int index) const;
    int GetCurSel() const { return CurrentSelection(); }
    void SetCurSel(int index) { SetCurrentSelection(index); }

    LineListModel *Lines() const { return m_lines; }

private:
    LineListModel *m_lines;
};
