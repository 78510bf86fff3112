#pragma once

#include "pages/dialog_page.h"

class CWebBrowser2;

// The maker's web page: browser 1051 filling the page.
class CDlg_Html_Quorvale : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 150;

    explicit CDlg_Html_Quorvale(QWidget *parent = nullptr);

    void OnInitDialog() override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    CWebBrowser2 *m_browser = nullptr;
};
