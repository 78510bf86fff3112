#pragma once

#include <QByteArrayView>
#include <QtGlobal>

// The checksums a send can carry, each as its catalogue defines it (parameters in the .cpp).
namespace Checksums {

quint8 Sum8(QByteArrayView bytes);
quint8 Xor8(QByteArrayView bytes);
// The two's complement of Sum8: the byte sum including it is zero.
quint8 Lrc(QByteArrayView bytes);
quint8 Crc8Smbus(QByteArrayView bytes);
quint16 Crc16Modbus(QByteArrayView bytes);
quint16 Crc16Ibm3740(QByteArrayView bytes);
quint16 Crc16Xmodem(QByteArrayView bytes);
quint32 Crc32IsoHdlc(QByteArrayView bytes);

}  // namespace Checksums
