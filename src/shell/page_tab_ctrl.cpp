#include "shell/page_tab_ctrl.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

#include "pages/dialog_page.h"

CPageTabCtrl::CPageTabCtrl(QWidget *parent)
    : QWidget(parent)
    , m_tabBar(new QTabBar(this))
{
    m_tabBar->setDrawBase(false);
    m_tabBar->setExpanding(false);
    connect(m_tabBar, &QTabBar::currentChanged, this, &CPageTabCtrl::OnSelectionChanged);
}

bool CPageTabCtrl::AddPage(const QString &caption, CDialogPage *page, unsigned templateId)
{
    if (m_count == kMaxPages)
        return false;
    m_captions[m_count] = caption;
    m_pages[m_count] = page;
    m_templateIds[m_count] = templateId;
    ++m_count;
    return true;
}

CDialogPage *CPageTabCtrl::Page(int index) const
{
    return index >= 0 && index < m_count ? m_pages[index] : nullptr;
}

void CPageTabCtrl::CreatePages()
{
    const QSignalBlocker quiet(m_tabBar);
    for (int i = 0; i < m_count; ++i) {
        m_pages[i]->setParent(this);
        m_pages[i]->OnInitDialog();
        m_tabBar->insertTab(i, m_captions[i]);
    }
    m_current = 0;
    m_tabBar->setCurrentIndex(0);
    m_tabBar->resize(width(), m_tabBar->sizeHint().height());
    for (int i = 0; i < m_count; ++i)
        m_pages[i]->setVisible(i == 0);
    PlacePages();
}

void CPageTabCtrl::PlacePages()
{
    if (m_count == 0)
        return;
    const QRect client = rect();
    const QRect item = m_tabBar->tabRect(0).translated(m_tabBar->pos());
    const QRect area(item.left(), item.bottom() + 1, client.right() - item.left() - 2,
                     client.bottom() - item.bottom() - 3);
    for (int i = 0; i < m_count; ++i) {
        m_pages[i]->setGeometry(area);
        m_pages[i]->raise();
    }
}

int CPageTabCtrl::SetActivePage(int index)
{
    if (index < 0 || index >= m_count)
        return -1;
    const int old = m_current;
    if (index != old)
        m_tabBar->setCurrentIndex(index);  // the selection change shows the page
    return old;
}

void CPageTabCtrl::OnSelectionChanged(int index)
{
    if (index < 0 || index >= m_count || index == m_current)
        return;
    m_pages[m_current]->hide();
    m_current = index;
    m_pages[m_current]->show();
}

void CPageTabCtrl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, m_tabBar->height() - 1, 0, 0);
    frame.tabBarSize = m_tabBar->size();
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

void CPageTabCtrl::resizeEvent(QResizeEvent *)
{
    m_tabBar->resize(width(), m_tabBar->sizeHint().height());
    PlacePages();
}
