#pragma once

#include "ui/dialog_page.h"

// The TCP/UDP client page.
class CClientPage : public CDialogPage
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 149;

    explicit CClientPage(QWidget *parent = nullptr);
};
