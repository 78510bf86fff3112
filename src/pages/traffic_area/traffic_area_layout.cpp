#include "pages/traffic_area/traffic_area_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "pages/dialog_controls.h"
#include "pages/dialog_page.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/encoding_box.h"

TrafficAreaControls BuildTrafficArea(CDialogPage *page, const TrafficAreaIds &ids, const QString &logFileName)
{
    TrafficAreaControls c{};
    page->AddLabel(QStringLiteral("数据发送区:"), 8, 76, 50, 10);
    c.sendBox = page->AddEdit(ids.sendBox, 8, 87, 240, 13);
    c.send = page->AddButton(ids.send, QStringLiteral("发  送"), 254, 86, 45, 15);
    c.timedSend = page->AddCheckBox(ids.timedSend, QStringLiteral("定时发送"), 8, 104, 46, 10);
    c.interval = page->AddEdit(ids.interval, 56, 103, 36, 12);
    AcceptDigitsOnly(c.interval);
    c.interval->setText(QStringLiteral("1000"));
    page->AddLabel(QStringLiteral("ms"), 94, 105, 12, 10);
    c.hexSend = page->AddCheckBox(ids.hexSend, QStringLiteral("16进制发送"), 110, 104, 56, 10);
    if (ids.autoReply != 0) {
        c.autoReply = page->AddCheckBox(ids.autoReply, QStringLiteral("自动回复"), 8, 119, 46, 10);
        c.replyData = page->AddRadioButton(ids.replyData, QStringLiteral("数据回复"), 56, 119, 46, 10);
        c.replyEcho = page->AddRadioButton(ids.replyEcho, QStringLiteral("透明回复"), 104, 119, 46, 10);
    }
    page->AddLabel(QStringLiteral("TX:"), 156, 120, 14, 10);
    c.tx = page->AddEdit(ids.tx, 170, 118, 54, 12);
    page->AddLabel(QStringLiteral("RX:"), 228, 120, 14, 10);
    c.rx = page->AddEdit(ids.rx, 242, 118, 54, 12);
    for (QLineEdit *count : {c.tx, c.rx}) {
        count->setReadOnly(true);
        count->setAlignment(Qt::AlignCenter);
    }
    c.clearCounters = page->AddButton(ids.clearCounters, QStringLiteral("计数清零"), 300, 117, 46, 14);

    page->AddLabel(QStringLiteral("数据显示区:"), 4, 139, 50, 10);
    c.hexDisplay = page->AddCheckBox(ids.hexDisplay, QStringLiteral("16进制显示"), 58, 138, 56, 10);
    if (ids.clearData != 0)
        c.clearData = page->AddButton(ids.clearData, QStringLiteral("清空数据"), 118, 136, 46, 14);
    page->AddLabel(QStringLiteral("/*收发数据保存在当前目录下的") + logFileName + QStringLiteral("中*/"), 170, 139, 183,
                   10);
    c.dataList = page->Place(new CExtentListBox, ids.dataList, 2, 152, 351, 86);

    page->AddLabel(QStringLiteral("编码:"), kRightColumnX, 11, 40, 10);
    c.encoding = page->Place(new EncodingBox, ids.encoding, kRightColumnX, 22, kRightColumnWidth, 13);
    c.txRate = page->Place(new QLabel, ids.txRate, kRightColumnX, 104, kRightColumnWidth, 10);
    c.rxRate = page->Place(new QLabel, ids.rxRate, kRightColumnX, 120, kRightColumnWidth, 10);
    c.filter = page->AddEdit(ids.filter, kRightColumnX, 137, kRightColumnWidth, 12);
    c.dataList->AttachFilterField(c.filter);

    // The column's free rows: options of the display at the top, windows and files below.
    c.timestamps = page->AddCheckBox(0, QStringLiteral("时间戳"), kRightColumnX, 38, kRightColumnWidth, 10);
    c.timestamps->setObjectName(QStringLiteral("timestamps"));
    c.pause = page->AddCheckBox(0, QStringLiteral("暂停"), kRightColumnX, 51, 30, 10);
    c.pause->setObjectName(QStringLiteral("pause"));
    c.waiting = page->AddLabel(QString(), kRightColumnX + 30, 51, kRightColumnWidth - 30, 10);
    c.waiting->setObjectName(QStringLiteral("pauseWaiting"));
    c.waiting->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    c.largeData = page->AddCheckBox(0, QStringLiteral("大数据"), kRightColumnX, 64, kRightColumnWidth, 10);
    c.largeData->setObjectName(QStringLiteral("largeData"));
    c.largeData->setToolTip(QStringLiteral("整块接收: UDP数据报最大65507字节, TCP每次读取最多64KB; 16进制发送最多65507字节"));
    c.largeView = page->AddButton(0, QStringLiteral("放大"), kRightColumnX, 152, kRightColumnWidth, 14);
    c.largeView->setObjectName(QStringLiteral("largeView"));
    c.capture = page->AddButton(0, QStringLiteral("捕获…"), kRightColumnX, 169, kRightColumnWidth, 14);
    c.capture->setObjectName(QStringLiteral("capture"));
    c.sendOptions = page->AddButton(0, QStringLiteral("发送选项…"), kRightColumnX, 77, kRightColumnWidth, 12);
    c.sendOptions->setObjectName(QStringLiteral("sendOptions"));
    c.commands = page->AddButton(0, QStringLiteral("命令…"), kRightColumnX, 90, kRightColumnWidth, 12);
    c.commands->setObjectName(QStringLiteral("commands"));
    c.sendFile = page->AddButton(0, QStringLiteral("发送文件…"), kRightColumnX, 186, kRightColumnWidth, 14);
    c.sendFile->setObjectName(QStringLiteral("sendFile"));
    c.strip = page->AddLabel(QString(), 2, 240, 411, 10);
    c.strip->setObjectName(QStringLiteral("sendStrip"));
    c.strip->hide();

    page->SetDefaultButton(c.send);
    return c;
}
