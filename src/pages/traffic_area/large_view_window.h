#pragma once

#include <QString>
#include <QWidget>

class CExtentListBox;
class FilteredLineView;
class PacedAction;
class QLineEdit;
class RateHistory;
class RatePlot;

// A page's display list and rates in a window of its own, as large as the user makes it: the
// same lines as the page's list, live, narrowed by a filter of the window's own, and the
// rates of the last ten minutes below them. Ctrl+S saves the lines it shows.
class LargeViewWindow : public QWidget
{
    Q_OBJECT

public:
    // The page's list and rate history; they must outlive the window (TrafficArea closes its
    // windows when it goes). parent: the page, whose window this is not part of.
    LargeViewWindow(const QString &pageName, CExtentListBox *list, const RateHistory &history, QWidget *parent);

    // "velvane-tcp-server.txt" for "TCP Server".
    static QString SuggestedFileName(const QString &pageName);

    // Ctrl+S: asks where, writes the shown lines top first as UTF-8, one a line, CR LF ends.
    void OnSave();

private:
    void OnRatesAdded();
    void ShowExtent();

    QString m_pageName;
    CExtentListBox *m_list;
    const RateHistory &m_history;
    QLineEdit *m_filter;
    FilteredLineView *m_view;
    RatePlot *m_plot;
    PacedAction *m_extent;
};
