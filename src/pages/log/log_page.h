#pragma once

#include "pages/control_ids.h"
#include "pages/dialog_page.h"

class LineListBox;
class QLineEdit;

// The list the system log's lines go to: the log page's, or one a test or a benchmark keeps.
extern LineListBox *g_pSystemLogList;
// Makes list the system log's list (null: none): every line of SystemLog::Append goes there.
void SetSystemLogList(LineListBox *list);

// The system log page: list 1049, newest line first, under its filter field.
class CLogPage : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 144;
    static constexpr int kFilterId = LogPageIds::kFilter;

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
