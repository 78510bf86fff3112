#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

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

    void SetDefaultButton(QPushButton *button) { m_defaultButton = button; }

    // Controls placed in dialog units, carrying their dialog id (0: none).
    QPushButton *AddButton(int id, const QString &caption, int x, int y, int width, int height);
    QCheckBox *AddCheckBox(int id, const QString &caption, int x, int y, int width, int height);
    QRadioButton *AddRadioButton(int id, const QString &caption, int x, int y, int width, int height);
    QLineEdit *AddEdit(int id, int x, int y, int width, int height);
    QLabel *AddLabel(const QString &text, int x, int y, int width, int height);
    QLabel *AddIcon(const QString &resource, int x, int y);
    QGroupBox *AddGroup(const QString &title, int x, int y, int width, int height);
    template <typename Control>
    Control *Place(Control *control, int id, int x, int y, int width, int height);

    // The host's IPv4 addresses in the box, sorted as the box sorts, the first selected.
    // The host's IPv4 addresses, sorted; with ipv6AndAll also its IPv6 addresses, then 0.0.0.0
    // and (where the host has IPv6) ::, the addresses of every interface.
    static void FillHostBox(QComboBox *box, bool ipv6AndAll = false);

private:
    void PlaceWidget(QWidget *control, int id, int x, int y, int width, int height);

    unsigned m_templateId;
    QPushButton *m_defaultButton = nullptr;
};

template <typename Control>
Control *CDialogPage::Place(Control *control, int id, int x, int y, int width, int height)
{
    PlaceWidget(control, id, x, y, width, height);
    return control;
}
