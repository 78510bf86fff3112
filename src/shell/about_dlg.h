#pragma once

#include <QDialog>

// The about box (template 100): the application icon, the product, a line with the year and
// the maker's location, the maker's name and web address, and "确定".
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    static constexpr unsigned kTemplateId = 100;

    explicit CAboutDlg(QWidget *parent = nullptr);
};
