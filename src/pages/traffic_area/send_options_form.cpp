#include "pages/traffic_area/send_options_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>

#include <algorithm>
#include <iterator>

namespace {

constexpr Checksum kChecksums[] = {Checksum::None,         Checksum::Sum8,        Checksum::Xor8,
                                   Checksum::Lrc,          Checksum::Crc8Smbus,   Checksum::Crc16Modbus,
                                   Checksum::Crc16Ibm3740, Checksum::Crc16Xmodem, Checksum::Crc32IsoHdlc};
constexpr LineEnding kEndings[] = {LineEnding::None, LineEnding::Cr, LineEnding::Lf, LineEnding::CrLf};

template <typename T, std::size_t N>
int IndexOf(const T (&values)[N], T value)
{
    const auto found = std::find(std::begin(values), std::end(values), value);
    return found == std::end(values) ? 0 : static_cast<int>(found - std::begin(values));
}

}  // namespace

SendOptionsForm::SendOptionsForm(QWidget *parent)
    : QWidget(parent)
    , m_asTyped(new QCheckBox(QStringLiteral("原样发送 (保留空格，不加结尾的0字节)")))
    , m_escapes(new QCheckBox(QStringLiteral("转义 (\\r \\n \\t \\\\ \\0 \\xHH)")))
    , m_ending(new QComboBox)
    , m_checksum(new QComboBox)
    , m_order(new QComboBox)
{
    m_asTyped->setObjectName(QStringLiteral("asTyped"));
    m_escapes->setObjectName(QStringLiteral("escapes"));
    m_ending->setObjectName(QStringLiteral("lineEnding"));
    m_checksum->setObjectName(QStringLiteral("checksum"));
    m_order->setObjectName(QStringLiteral("checksumOrder"));

    for (const LineEnding ending : kEndings)
        m_ending->addItem(SendFrame::EndingName(ending));
    for (const Checksum checksum : kChecksums)
        m_checksum->addItem(SendFrame::ChecksumName(checksum));
    m_order->addItems({QStringLiteral("默认"), QStringLiteral("低字节在前"), QStringLiteral("高字节在前")});
    m_escapes->setEnabled(false);
    m_order->setEnabled(false);

    auto *layout = new QFormLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addRow(m_asTyped);
    layout->addRow(m_escapes);
    layout->addRow(QStringLiteral("结尾:"), m_ending);
    layout->addRow(QStringLiteral("校验:"), m_checksum);
    layout->addRow(QStringLiteral("字节序:"), m_order);

    connect(m_asTyped, &QCheckBox::toggled, this, &SendOptionsForm::OnChanged);
    connect(m_escapes, &QCheckBox::toggled, this, &SendOptionsForm::OnChanged);
    connect(m_ending, &QComboBox::currentIndexChanged, this, &SendOptionsForm::OnChanged);
    connect(m_checksum, &QComboBox::currentIndexChanged, this, &SendOptionsForm::OnChanged);
    connect(m_order, &QComboBox::currentIndexChanged, this, &SendOptionsForm::OnChanged);
}

void SendOptionsForm::OnChanged()
{
    // Escapes only mean something in the text as typed; the order only for wide checksums.
    m_escapes->setEnabled(m_asTyped->isChecked());
    m_order->setEnabled(SendFrame::ChecksumWidth(kChecksums[m_checksum->currentIndex()]) > 1);
    emit OptionsChanged();
}

SendOptions SendOptionsForm::Options() const
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

void SendOptionsForm::SetOptions(const SendOptions &options)
{
    m_asTyped->setChecked(options.asTyped);
    m_escapes->setChecked(options.escapes);
    m_ending->setCurrentIndex(IndexOf(kEndings, options.ending));
    m_checksum->setCurrentIndex(IndexOf(kChecksums, options.checksum));
    m_order->setCurrentIndex(static_cast<int>(options.order));
    OnChanged();
}
