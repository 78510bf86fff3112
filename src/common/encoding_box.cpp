#include "common/encoding_box.h"

EncodingBox::EncodingBox(QWidget *parent)
    : QComboBox(parent)
{
    for (const TextEncoding encoding : kTextEncodings)
        addItem(TextEncodingName(encoding), static_cast<int>(encoding));
    setCurrentIndex(0);
}

TextEncoding EncodingBox::Encoding() const
{
    return currentIndex() < 0 ? TextEncoding::Gbk : static_cast<TextEncoding>(currentData().toInt());
}
