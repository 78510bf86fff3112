#pragma once

#include "ui/dialog_page.h"

// The maker's web page.
class CDlg_Html_Quorvale : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 150;

    explicit CDlg_Html_Quorvale(QWidget *parent = nullptr);
};
