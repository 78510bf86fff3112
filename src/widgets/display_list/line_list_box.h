#pragma once

#include "widgets/display_list/filtered_line_view.h"

#include <deque>

#include "text/text_encoding.h"

// A list box of text lines with the classic list box calls, over lines of its own. Lines are
// bytes; the model shows them decoded. Positions follow the list box rules: -1 means the end.
// A filter text narrows what is shown, never what is kept: every call but the view's speaks
// of all lines.
class LineListBox : public FilteredLineView
{
    Q_OBJECT

public:
    static constexpr int LB_ERR = -1;
    static constexpr int LB_ERRSPACE = -2;

    // How many lines the display lists and the system log keep: the newest ones. The log
    // files keep everything; a list that grew without end would end in the out-of-memory
    // killer under a flood left running.
    static constexpr int kKeptLines = 100000;
    // And at most this many bytes of lines (their sizes as stored): 100,000 display lines of
    // 64 KiB blocks in hex would be almost 20 GB.
    static constexpr qint64 kKeptBytes = qint64(256) * 1024 * 1024;

    explicit LineListBox(QWidget *parent = nullptr);

    // At most maxLines lines (0: no bound); inserting at the top beyond it drops the bottom line.
    void SetMaxLines(int maxLines);
    int MaxLines() const;
    // At most maxBytes bytes of lines (0: no bound); every list starts with kKeptBytes.
    void SetMaxBytes(qint64 maxBytes);
    qint64 MaxBytes() const;

    virtual int AddString(const QByteArray &line);
    // The line is shown decoded from encoding; GBK is the lists' own.
    virtual int InsertString(int index, const QByteArray &line, TextEncoding encoding = TextEncoding::Gbk);
    virtual int DeleteString(int index);
    virtual void ResetContent();

    // Empties the list and fills it with lines, as one change.
    void ResetLines(std::deque<QByteArray> lines);

    int GetCount() const;
    QByteArray GetText(int index) const;
    int GetCurSel() const;
    void SetCurSel(int index);
};
