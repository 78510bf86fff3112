#pragma once

#include "ui/dialog_page.h"

// The UDP server page.
class CUdpServerPage : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 134;

    explicit CUdpServerPage(QWidget *parent = nullptr);
};
