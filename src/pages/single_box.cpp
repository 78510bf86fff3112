#include "pages/single_box.h"

#include "pages/message_box.h"

template <typename ShowBox>
bool SingleBox::ShowOnce(ShowBox show)
{
    if (m_open)
        return false;
    m_open = true;
    show();
    m_open = false;
    return true;
}

bool SingleBox::Show(const QString &text)
{
    return ShowOnce([&] { AppMessageBox(text); });
}

bool SingleBox::ShowPlain(QWidget *owner, const QString &text)
{
    return ShowOnce([&] { PageMessageBox(owner, kAppDisplayName, text); });
}
