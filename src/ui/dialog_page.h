#pragma once

#include <QWidget>

class QPushButton;

// A page of the main window's tab control, built from a numbered dialog template.
// Its controls are found by their dialog id; Enter inside the page presses its default button.
class CDialogPage : public QWidget
{
    Q_OBJECT

public:
    CDialogPage(unsigned templateId, QWidget *parent = nullptr);

    unsigned TemplateId() const { return m_templateId; }
    QWidget *GetDlgItem(int id) const;

    // Builds the page's controls and sets their start state; run once, by the tab control.
    virtual void OnInitDialog() {}

    // The button Enter presses while the focus is on this page, or null.
    QPushButton *DefaultButton() const { return m_defaultButton; }

protected:
    void SetDefaultButton(QPushButton *button) { m_defaultButton = button; }

private:
    unsigned m_templateId;
    QPushButton *m_defaultButton = nullptr;
};
