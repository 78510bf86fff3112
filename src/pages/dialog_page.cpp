#include "pages/dialog_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "pages/dialog_controls.h"
#include "platform/host_addresses.h"

CDialogPage::CDialogPage(unsigned templateId, QWidget *parent)
    : QWidget(parent)
    , m_templateId(templateId)
{
}

QWidget *CDialogPage::GetDlgItem(int id) const
{
    return FindControl(this, id);
}

void CDialogPage::PlaceWidget(QWidget *control, int id, int x, int y, int width, int height)
{
    control->setParent(this);
    control->setGeometry(DialogUnitsRect(x, y, width, height));
    if (id != 0)
        WithControlId(control, id);
}

QPushButton *CDialogPage::AddButton(int id, const QString &caption, int x, int y, int width, int height)
{
    return Place(new QPushButton(caption), id, x, y, width, height);
}

QCheckBox *CDialogPage::AddCheckBox(int id, const QString &caption, int x, int y, int width, int height)
{
    return Place(new QCheckBox(caption), id, x, y, width, height);
}

QRadioButton *CDialogPage::AddRadioButton(int id, const QString &caption, int x, int y, int width, int height)
{
    return Place(new QRadioButton(caption), id, x, y, width, height);
}

QLineEdit *CDialogPage::AddEdit(int id, int x, int y, int width, int height)
{
    return Place(new QLineEdit, id, x, y, width, height);
}

QLabel *CDialogPage::AddLabel(const QString &text, int x, int y, int width, int height)
{
    return Place(new QLabel(text), 0, x, y, width, height);
}

QLabel *CDialogPage::AddIcon(const QString &resource, int x, int y)
{
    auto *icon = new QLabel;
    icon->setPixmap(QPixmap(resource).scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return Place(icon, 0, x, y, 22, 20);
}

QGroupBox *CDialogPage::AddGroup(const QString &title, int x, int y, int width, int height)
{
    auto *group = Place(new QGroupBox(title), 0, x, y, width, height);
    group->lower();  // a frame behind the controls it surrounds
    return group;
}

void CDialogPage::FillHostBox(QComboBox *box, bool ipv6AndAll)
{
    if (g_pHostEntry) {
        for (const QString &address : g_pHostEntry->addresses)
            box->addItem(address);
        box->model()->sort(0);
        if (ipv6AndAll) {
            box->addItems(g_pHostEntry->ipv6Addresses);
            box->addItem(QStringLiteral("0.0.0.0"));
            if (!g_pHostEntry->ipv6Addresses.isEmpty())
                box->addItem(QStringLiteral("::"));
        }
    }
    box->setCurrentIndex(0);
}
