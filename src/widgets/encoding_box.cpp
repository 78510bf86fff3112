#include "widgets/encoding_box.h"

#include <algorithm>

EncodingBox::EncodingBox(QWidget *parent)
    : QComboBox(parent)
{
    for (const TextEncoding encoding : kTextEncodings)
        addItem(TextEncodingName(encoding));
    setCurrentIndex(0);
}

TextEncoding EncodingBox::Encoding() const
{
    // Asked for every received block: the items are kTextEncodings in order, so the index
    // says it without a QVariant.
    const int index = currentIndex();
    return index < 0 ? TextEncoding::Gbk : kTextEncodings[static_cast<std::size_t>(index)];
}

void EncodingBox::SetEncoding(TextEncoding encoding)
{
    const auto found = std::find(kTextEncodings.begin(), kTextEncodings.end(), encoding);
    setCurrentIndex(found == kTextEncodings.end() ? 0 : static_cast<int>(found - kTextEncodings.begin()));
}
