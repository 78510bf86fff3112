#pragma once

#include "ui/dialog_page.h"

// The TCP server page.
class CTcpServerPage : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 133;

    explicit CTcpServerPage(QWidget *parent = nullptr);
};
