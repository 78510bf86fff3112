#pragma once

#include "ui/dialog_page.h"

class LineListBox;

// The system log page: list 1049, newest line first.
class CLogPage : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 144;

    explicit CLogPage(QWidget *parent = nullptr);
    ~CLogPage() override;

    void OnInitDialog() override;
    LineListBox *List() const { return m_list; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    LineListBox *m_list = nullptr;
};
