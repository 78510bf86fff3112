#pragma once

#include <QDialog>

class QTextBrowser;

// The short user guide bundled with the program, in a modal dialog over the main window
// (which runs modally itself, so a free window would get no input).
class CHelpDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CHelpDlg(QWidget *parent = nullptr);

    QTextBrowser *Text() const { return m_text; }

private:
    QTextBrowser *m_text;
};
