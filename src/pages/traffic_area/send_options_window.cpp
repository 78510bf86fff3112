#include "pages/traffic_area/send_options_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr Checksum kChecksums[] = {Checksum::None,         Checksum::Sum8,        Checksum::Xor8,
                                   Checksum::Lrc,          Checksum::Crc8Smbus,   Checksum::Crc16Modbus,
                                   Checksum::Crc16Ibm3740, Checksum::Crc16Xmodem, Checksum::Crc32IsoHdlc};
constexpr LineEnding kEndings[] = {LineEnding::None, LineEnding::Cr, LineEnding::Lf, LineEnding::CrLf};

}  // namespace

SendOptionsWindow::SendOptionsWindow(const QString &pageName, bool withDatagrams, QWidget *page)
    : QWidget(page, Qt::Window)
    , m_asTyped(new QCheckBox(QStringLiteral("原样发送 (保留空格，不加结尾的0字节)")))
    , m_escapes(new QCheckBox(QStringLiteral("转义 (\\r \\n \\t \\\\ \\0 \\xHH)")))
    , m_ending(new QComboBox)
    , m_checksum(new QComboBox)
    , m_order(new QComboBox)
    , m_datagrams(new QGroupBox(QStringLiteral("UDP发送文件")))
    , m_datagramSize(new QSpinBox)
    , m_rate(new QSpinBox)
{
    setObjectName(QStringLiteral("sendOptionsWindow"));
    setWindowTitle(pageName + QStringLiteral(" 发送选项"));
    m_asTyped->setObjectName(QStringLiteral("asTyped"));
    m_escapes->setObjectName(QStringLiteral("escapes"));
    m_ending->setObjectName(QStringLiteral("lineEnding"));
    m_checksum->setObjectName(QStringLiteral("checksum"));
    m_order->setObjectName(QStringLiteral("checksumOrder"));
    m_datagramSize->setObjectName(QStringLiteral("datagramSize"));
    m_rate->setObjectName(QStringLiteral("datagramRate"));

    for (const LineEnding ending : kEndings)
        m_ending->addItem(SendFrame::EndingName(ending));
    for (const Checksum checksum : kChecksums)
        m_checksum->addItem(SendFrame::ChecksumName(checksum));
    m_order->addItems({QStringLiteral("默认"), QStringLiteral("低字节在前"), QStringLiteral("高字节在前")});
    m_escapes->setEnabled(false);
    m_order->setEnabled(false);

    m_datagramSize->setRange(1, kMaxDatagramSize);
    m_datagramSize->setValue(kDefaultDatagramSize);
    m_datagramSize->setSuffix(QStringLiteral(" 字节"));
    m_rate->setRange(0, 1000000);
    m_rate->setSpecialValueText(QStringLiteral("不限"));
    m_rate->setSuffix(QStringLiteral(" 个/秒"));

    auto *frame = new QFormLayout;
    frame->addRow(m_asTyped);
    frame->addRow(m_escapes);
    frame->addRow(QStringLiteral("结尾:"), m_ending);
    frame->addRow(QStringLiteral("校验:"), m_checksum);
    frame->addRow(QStringLiteral("字节序:"), m_order);
    auto *datagrams = new QFormLayout(m_datagrams);
    datagrams->addRow(QStringLiteral("数据报大小:"), m_datagramSize);
    datagrams->addRow(QStringLiteral("速率:"), m_rate);
    m_datagrams->setVisible(withDatagrams);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(frame);
    layout->addWidget(m_datagrams);
    layout->addStretch();

    connect(m_asTyped, &QCheckBox::toggled, this, &SendOptionsWindow::OnChanged);
    connect(m_escapes, &QCheckBox::toggled, this, &SendOptionsWindow::OnChanged);
    connect(m_ending, &QComboBox::currentIndexChanged, this, &SendOptionsWindow::OnChanged);
    connect(m_checksum, &QComboBox::currentIndexChanged, this, &SendOptionsWindow::OnChanged);
    connect(m_order, &QComboBox::currentIndexChanged, this, &SendOptionsWindow::OnChanged);
}

void SendOptionsWindow::OnChanged()
{
    // Escapes only mean something in the text as typed; the order only for wide checksums.
    m_escapes->setEnabled(m_asTyped->isChecked());
    m_order->setEnabled(SendFrame::ChecksumWidth(kChecksums[m_checksum->currentIndex()]) > 1);
    emit OptionsChanged();
}

SendOptions SendOptionsWindow::Options() const
{
    SendOptions options;
    options.asTyped = m_asTyped->isChecked();
    options.escapes = options.asTyped && m_escapes->isChecked();
    options.ending = kEndings[m_ending->currentIndex()];
    options.checksum = kChecksums[m_checksum->currentIndex()];
    options.order = SendFrame::ChecksumWidth(options.checksum) > 1 ? ChecksumOrder(m_order->currentIndex())
                                                                   : ChecksumOrder::Usual;
    return options;
}

int SendOptionsWindow::DatagramSize() const
{
    return m_datagramSize->value();
}

int SendOptionsWindow::DatagramsPerSecond() const
{
    return m_rate->value();
}
