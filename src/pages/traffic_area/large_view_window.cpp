#include "pages/traffic_area/large_view_window.h"

#include <QDir>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>

#include "pages/file_dialogs.h"
#include "pages/message_box.h"
#include "traffic/rate_history.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/filtered_line_view.h"
#include "widgets/display_list/line_list_model.h"
#include "widgets/paced_action.h"
#include "widgets/rate_plot.h"

namespace {

// CR LF like the tool's log files, so the saved lines open alike wherever they are read.
bool WriteLines(const QString &path, const QStringList &lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString &line : lines) {
        file.write(line.toUtf8());
        file.write("\r\n", 2);
    }
    // A failed write makes the commit fail, and the file is left as it was.
    return file.commit();
}

}  // namespace

LargeViewWindow::LargeViewWindow(const QString &pageName, CExtentListBox *list, const RateHistory &history,
                                 QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_pageName(pageName)
    , m_list(list)
    , m_history(history)
    , m_filter(new QLineEdit)
    , m_view(new FilteredLineView(list->Lines()))
    , m_plot(new RatePlot)
    , m_extent(new PacedAction([this] { ShowExtent(); }, this))
{
    setObjectName(QStringLiteral("largeViewWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(pageName);
    m_filter->setObjectName(QStringLiteral("largeViewFilter"));
    m_view->setObjectName(QStringLiteral("largeViewList"));
    m_plot->setObjectName(QStringLiteral("ratePlot"));
    m_view->AttachFilterField(m_filter);
    // The page's list measures every line in its font: the same font here makes its widest
    // line this view's horizontal extent too.
    m_view->setFont(list->font());

    auto *saveHint = new QLabel(QStringLiteral("Ctrl+S 保存显示的数据"));
    saveHint->setObjectName(QStringLiteral("largeViewSaveHint"));
    auto *filterRow = new QHBoxLayout;
    filterRow->addWidget(m_filter, 1);
    filterRow->addWidget(saveHint);
    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(m_view);
    splitter->addWidget(m_plot);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(filterRow);
    layout->addWidget(splitter, 1);
    resize(900, 640);

    new QShortcut(QKeySequence::Save, this, this, &LargeViewWindow::OnSave);

    const LineListModel *lines = list->Lines();
    connect(lines, &QAbstractItemModel::rowsInserted, m_extent, &PacedAction::Request);
    connect(lines, &QAbstractItemModel::rowsRemoved, m_extent, &PacedAction::Request);
    connect(lines, &QAbstractItemModel::modelReset, m_extent, &PacedAction::Request);
    connect(&history, &RateHistory::Added, this, &LargeViewWindow::OnRatesAdded);
    ShowExtent();
    OnRatesAdded();
}

QString LargeViewWindow::SuggestedFileName(const QString &pageName)
{
    static const QRegularExpression notNamePart(QStringLiteral("[^a-z0-9]+"));
    QStringList words = pageName.toLower().split(notNamePart, Qt::SkipEmptyParts);
    words.prepend(QStringLiteral("velvane"));
    return words.join(QLatin1Char('-')) + QStringLiteral(".txt");
}

void LargeViewWindow::ShowExtent()
{
    // The widest of all lines, filtered or not: at worst the scroll range reaches a little
    // further than the lines shown.
    m_view->SetHorizontalExtent(m_list->WidestLineWidth());
}

void LargeViewWindow::OnRatesAdded()
{
    m_plot->SetSamples(m_history.Samples());
}

void LargeViewWindow::OnSave()
{
    FileDialogs::SaveRequest request;
    request.owner = this;
    request.caption = QStringLiteral("保存显示的数据");
    request.suggestedName = SuggestedFileName(m_pageName);
    request.filters = {QStringLiteral("文本文件 (*.txt)")};
    const FileDialogs::Answer answer = FileDialogs::AskSaveFile(request);
    if (answer.path.isEmpty())
        return;
    // The lines shown now, not when the dialog opened: the list went on meanwhile.
    if (!WriteLines(answer.path, m_view->ShownTexts()))
        PageMessageBox(this, m_pageName + QStringLiteral("提示"),
                       QStringLiteral("无法写入") + QDir::toNativeSeparators(answer.path) + QStringLiteral("!"),
                       QMessageBox::Ok, QMessageBox::Warning);
}
