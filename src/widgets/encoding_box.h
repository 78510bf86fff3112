#pragma once

#include <QComboBox>

#include "text/text_encoding.h"

// A traffic page's "编码" drop-down: the encoding its send box and its display lines speak.
// GBK, the tool's own, is chosen at first.
class EncodingBox : public QComboBox
{
    Q_OBJECT

public:
    explicit EncodingBox(QWidget *parent = nullptr);

    TextEncoding Encoding() const;
    void SetEncoding(TextEncoding encoding);
};
