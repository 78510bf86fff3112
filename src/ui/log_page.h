#pragma once

#include "ui/dialog_page.h"

class LineListBox;
class QLineEdit;

// The system log page: list 1049, newest line first, under its filter field.
class CLogPage : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 144;
    static constexpr int kFilterId = 1131;

    explicit CLogPage(QWidget *parent = nullptr);
    ~CLogPage() override;

    void OnInitDialog() override;
    LineListBox *List() const { return m_list; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void PlaceControls();

    LineListBox *m_list = nullptr;
    QLineEdit *m_filter = nullptr;
};
