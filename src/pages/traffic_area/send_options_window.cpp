#include "pages/traffic_area/send_options_window.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QSpinBox>
#include <QVBoxLayout>

#include "pages/traffic_area/send_options_form.h"

SendOptionsWindow::SendOptionsWindow(const QString &pageName, bool withDatagrams, QWidget *page)
    : QWidget(page, Qt::Window)
    , m_form(new SendOptionsForm)
    , m_datagrams(new QGroupBox(QStringLiteral("UDP发送文件")))
    , m_datagramSize(new QSpinBox)
    , m_rate(new QSpinBox)
{
    setObjectName(QStringLiteral("sendOptionsWindow"));
    setWindowTitle(pageName + QStringLiteral(" 发送选项"));
    m_datagramSize->setObjectName(QStringLiteral("datagramSize"));
    m_rate->setObjectName(QStringLiteral("datagramRate"));

    m_datagramSize->setRange(1, kMaxDatagramSize);
    m_datagramSize->setValue(kDefaultDatagramSize);
    m_datagramSize->setSuffix(QStringLiteral(" 字节"));
    m_rate->setRange(0, 1000000);
    m_rate->setSpecialValueText(QStringLiteral("不限"));
    m_rate->setSuffix(QStringLiteral(" 个/秒"));

    auto *datagrams = new QFormLayout(m_datagrams);
    datagrams->addRow(QStringLiteral("数据报大小:"), m_datagramSize);
    datagrams->addRow(QStringLiteral("速率:"), m_rate);
    m_datagrams->setVisible(withDatagrams);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_form);
    layout->addWidget(m_datagrams);
    layout->addStretch();

    connect(m_form, &SendOptionsForm::OptionsChanged, this, &SendOptionsWindow::OptionsChanged);
    connect(m_datagramSize, &QSpinBox::valueChanged, this, &SendOptionsWindow::OptionsChanged);
    connect(m_rate, &QSpinBox::valueChanged, this, &SendOptionsWindow::OptionsChanged);
}

SendOptions SendOptionsWindow::Options() const
{
    return m_form->Options();
}

void SendOptionsWindow::SetOptions(const SendOptions &options)
{
    const QSignalBlocker quiet(this);
    m_form->SetOptions(options);
}

void SendOptionsWindow::SetDatagrams(int size, int perSecond)
{
    const QSignalBlocker quiet(this);
    m_datagramSize->setValue(size);
    m_rate->setValue(perSecond);
}

int SendOptionsWindow::DatagramSize() const
{
    return m_datagramSize->value();
}

int SendOptionsWindow::DatagramsPerSecond() const
{
    return m_rate->value();
}
