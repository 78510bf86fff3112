#pragma once

#include <QWidget>

#include "text/send_frame.h"

class QCheckBox;
class QComboBox;

// The controls of a send's options (原样发送, 转义, 结尾, 校验, 字节序): the page's options window
// and the command editor show the same ones.
class SendOptionsForm : public QWidget
{
    Q_OBJECT

public:
    explicit SendOptionsForm(QWidget *parent = nullptr);

    SendOptions Options() const;
    void SetOptions(const SendOptions &options);

signals:
    void OptionsChanged();

private:
    void OnChanged();

    QCheckBox *m_asTyped;
    QCheckBox *m_escapes;
    QComboBox *m_ending;
    QComboBox *m_checksum;
    QComboBox *m_order;
};
