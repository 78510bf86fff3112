#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <memory>

#include "pages/log/log_page.h"
#include "platform/host_addresses.h"
#include "support/box_answerer.h"
#include "support/test_environment.h"
#include "widgets/display_list/line_list_box.h"

// The host entry the pages see in tests: 127.0.0.1 only.
inline HostEntry *LoopbackHost()
{
    static HostEntry host{QStringLiteral("localhost"), {QStringLiteral("127.0.0.1")}, {}};
    return &host;
}

// One page per test, in its own current directory, with its own system log list and a box
// answerer; its controls found by their dialog ids and used as a user does.
template <typename Page>
class PageFixtureBase
{
public:
    explicit PageFixtureBase(HostEntry *host)
    {
        ResetProcessGlobals();
        g_pHostEntry = host;
        SetSystemLogList(&log);
        page = std::make_unique<Page>();
        page->OnInitDialog();
        page->show();
    }
    ~PageFixtureBase()
    {
        page.reset();
        SetSystemLogList(nullptr);
        g_pHostEntry = nullptr;
    }

    template <typename Control = QWidget>
    Control *Item(int id) const
    {
        auto *control = qobject_cast<Control *>(page->GetDlgItem(id));
        if (!control)
            qFatal("control %d missing", id);
        return control;
    }
    bool Ticked(int id) const { return Item<QAbstractButton>(id)->isChecked(); }
    bool Enabled(int id) const { return Item(id)->isEnabled(); }
    QString Text(int id) const { return Item<QLineEdit>(id)->text(); }
    void Click(int id) { QTest::mouseClick(Item<QAbstractButton>(id), Qt::LeftButton); }
    // Clicks the row of a list box, as a user selects it.
    void SelectRow(LineListBox *list, int row)
    {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(row, 0)).center());
    }

    ScopedTemporaryCurrentDir dir;
    LineListBox log;
    BoxAnswerer boxes{QMessageBox::No};
    std::unique_ptr<Page> page;
};
