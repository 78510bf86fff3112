#pragma once

#include "widgets/display_list/line_list_box.h"
#include "widgets/display_list/line_width_index.h"

// The display list of the traffic pages. It keeps its horizontal extent at least as wide as
// its widest line, so long received lines can be scrolled into view. Each line is measured
// once, when it comes in; the widest line is then known without a scan, so the list can
// keep only its newest lines and let the extent follow the ones that remain. While a filter
// is set, the extent is the widest line shown.
class CExtentListBox : public LineListBox
{
    Q_OBJECT

public:
    // Attribute bits of Dir.
    static constexpr unsigned DDL_READWRITE = 0x0000;
    static constexpr unsigned DDL_HIDDEN = 0x0002;
    static constexpr unsigned DDL_DIRECTORY = 0x0010;
    static constexpr unsigned DDL_EXCLUSIVE = 0x8000;

    explicit CExtentListBox(QWidget *parent = nullptr);

    // Adds the names in the current directory that match pattern (directories as "[name]"
    // with DDL_DIRECTORY); returns the index of the last name added, or LB_ERR.
    virtual int Dir(unsigned attributes, const QString &pattern);
    int AddString(const QByteArray &line) override;
    int InsertString(int index, const QByteArray &line, TextEncoding encoding = TextEncoding::Gbk) override;
    int DeleteString(int index) override;
    void ResetContent() override;

    // The line's width in the list's font (LineMeasure: exact up to kExactBytes, beyond it
    // in proportion to the first kExactBytes) plus the font's average character width.
    int TextWidth(const QByteArray &line) const;
    int WidestLineWidth() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    // The extent of all lines follows the list box rules whether or not a filter hides some.
    void SetExtentOfAllLines(int pixels);
    void GrowExtent(int width);
    void ShowExtent();
    // The width a row counts with toward the widest line: empty lines count as none.
    int LineWidth(int row) const;
    void OnLinesInserted(int first, int last);
    void OnLinesAboutToBeRemoved(int first, int last);
    void MeasureAllLines();
    void OnShownLinesInserted(int first, int last);
    void OnShownLinesAboutToBeRemoved(int first, int last);
    // The widths of the shown lines, taken from those of all lines: nothing is measured twice.
    void CollectShownWidths();

    LineWidthIndex m_widths;
    LineWidthIndex m_shownWidths;
    int m_extentOfAllLines = 0;
};
