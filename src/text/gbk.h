#pragma once

#include "text/text_encoding.h"

// Text on the wire, in the lists and in the log files is GBK unless a page chose otherwise.
inline QByteArray ToGbk(QStringView text)
{
    return EncodeText(text, TextEncoding::Gbk);
}

inline QString FromGbk(QByteArrayView bytes)
{
    return DecodeText(bytes, TextEncoding::Gbk);
}
