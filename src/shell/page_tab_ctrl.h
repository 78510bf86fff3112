#pragma once

#include <QString>
#include <QWidget>

#include <array>

class CDialogPage;
class QTabBar;

// The tab control that owns the placement of the main window's pages: one tab per page,
// the page of the selected tab shown, every other page hidden.
class CPageTabCtrl : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxPages = 16;

    explicit CPageTabCtrl(QWidget *parent = nullptr);

    bool AddPage(const QString &caption, CDialogPage *page, unsigned templateId);
    void CreatePages();
    void PlacePages();
    int SetActivePage(int index);

    int PageCount() const { return m_count; }
    int CurrentPage() const { return m_current; }
    CDialogPage *Page(int index) const;
    QTabBar *TabBar() const { return m_tabBar; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Whatever moved the selection (mouse, keyboard, menu), the page follows the tab.
    void OnSelectionChanged(int index);

    QTabBar *m_tabBar;
    std::array<QString, kMaxPages> m_captions;
    std::array<unsigned, kMaxPages> m_templateIds{};
    std::array<CDialogPage *, kMaxPages> m_pages{};
    int m_count = 0;
    int m_current = 0;
};
