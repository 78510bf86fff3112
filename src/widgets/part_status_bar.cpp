#include "widgets/part_status_bar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>

PartStatusBar::PartStatusBar(QWidget *parent)
    : QWidget(parent)
{
}

void PartStatusBar::SetParts(const QList<int> &rightEdges)
{
    qDeleteAll(m_icons);
    qDeleteAll(m_texts);
    m_icons.clear();
    m_texts.clear();
    m_rightEdges = rightEdges;
    for (int part = 0; part < rightEdges.size(); ++part) {
        auto *icon = new QLabel(this);
        icon->hide();
        auto *text = new QLabel(this);
        text->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        text->setIndent(4);
        m_icons.append(icon);
        m_texts.append(text);
    }
    PlaceParts();
}

void PartStatusBar::SetText(int part, const QString &text)
{
    if (part >= 0 && part < m_texts.size())
        m_texts[part]->setText(text);
}

QString PartStatusBar::Text(int part) const
{
    return part >= 0 && part < m_texts.size() ? m_texts[part]->text() : QString();
}

void PartStatusBar::SetIcon(int part, const QIcon &icon)
{
    if (part < 0 || part >= m_icons.size())
        return;
    m_icons[part]->setPixmap(icon.pixmap(16, 16));
    m_icons[part]->setVisible(!icon.isNull());
    PlaceParts();
}

bool PartStatusBar::HasIcon(int part) const
{
    return part >= 0 && part < m_icons.size() && m_icons[part]->isVisibleTo(this);
}

void PartStatusBar::resizeEvent(QResizeEvent *)
{
    PlaceParts();
}

void PartStatusBar::PlaceParts()
{
    int left = 0;
    for (int part = 0; part < m_texts.size(); ++part) {
        const int edge = m_rightEdges[part];
        const int right = edge < 0 ? width() : edge;
        int textLeft = left;
        if (m_icons[part]->isVisibleTo(this)) {
            m_icons[part]->setGeometry(left + 4, (height() - 16) / 2, 16, 16);
            textLeft = left + 22;
        }
        m_texts[part]->setGeometry(textLeft, 2, std::max(0, right - textLeft - 2), height() - 4);
        left = right;
    }
}
