#pragma once

#include <QByteArray>
#include <QString>

// Text on the wire, in the lists and in the log files is GBK (code page 936).
// Characters GBK cannot hold become "?", as the Windows code page does it.
QByteArray ToGbk(QStringView text);

// Bytes that are not valid GBK show as U+FFFD; the bytes themselves are never changed.
QString FromGbk(QByteArrayView bytes);
