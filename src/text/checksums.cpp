#include "text/checksums.h"

#include <array>

namespace Checksums {

namespace {

// A CRC by its catalogue parameters. Every CRC here either reflects both input and output
// or neither, so one flag stands for both.
struct CrcModel
{
    int width;
    quint32 poly;
    quint32 init;
    bool reflected;
    quint32 xorOut;

    constexpr quint32 Mask() const { return width == 32 ? 0xFFFFFFFFu : (1u << width) - 1; }
};

constexpr quint32 Reflect(quint32 value, int width)
{
    quint32 reflected = 0;
    for (int bit = 0; bit < width; ++bit)
        if (value & (1u << bit))
            reflected |= 1u << (width - 1 - bit);
    return reflected;
}

// The register after shifting each possible byte through it, eight bits at a time.
constexpr std::array<quint32, 256> MakeTable(CrcModel model)
{
    std::array<quint32, 256> table{};
    const quint32 topBit = 1u << (model.width - 1);
    const quint32 reflectedPoly = Reflect(model.poly, model.width);
    for (quint32 byte = 0; byte < 256; ++byte) {
        quint32 crc = model.reflected ? byte : byte << (model.width - 8);
        for (int bit = 0; bit < 8; ++bit) {
            if (model.reflected)
                crc = (crc & 1) ? (crc >> 1) ^ reflectedPoly : crc >> 1;
            else
                crc = (crc & topBit) ? (crc << 1) ^ model.poly : crc << 1;
        }
        table[byte] = crc & model.Mask();
    }
    return table;
}

template <CrcModel model>
quint32 Crc(QByteArrayView bytes)
{
    static constexpr std::array<quint32, 256> kTable = MakeTable(model);
    // A reflected register is kept reflected throughout, so its init is reflected once here.
    quint32 crc = model.reflected ? Reflect(model.init, model.width) : model.init;
    for (const char c : bytes) {
        const auto byte = static_cast<quint8>(c);
        if (model.reflected)
            crc = (crc >> 8) ^ kTable[(crc ^ byte) & 0xFF];
        else
            crc = ((crc << 8) ^ kTable[((crc >> (model.width - 8)) ^ byte) & 0xFF]) & model.Mask();
    }
    return (crc ^ model.xorOut) & model.Mask();
}

constexpr CrcModel kCrc8Smbus{8, 0x07, 0x00, false, 0x00};
constexpr CrcModel kCrc16Modbus{16, 0x8005, 0xFFFF, true, 0x0000};
constexpr CrcModel kCrc16Ibm3740{16, 0x1021, 0xFFFF, false, 0x0000};
constexpr CrcModel kCrc16Xmodem{16, 0x1021, 0x0000, false, 0x0000};
constexpr CrcModel kCrc32IsoHdlc{32, 0x04C11DB7, 0xFFFFFFFF, true, 0xFFFFFFFF};

}  // namespace

quint8 Sum8(QByteArrayView bytes)
{
    quint8 sum = 0;
    for (const char c : bytes)
        sum += static_cast<quint8>(c);
    return sum;
}

quint8 Xor8(QByteArrayView bytes)
{
    quint8 value = 0;
    for (const char c : bytes)
        value ^= static_cast<quint8>(c);
    return value;
}

quint8 Lrc(QByteArrayView bytes)
{
    return static_cast<quint8>(-Sum8(bytes));
}

quint8 Crc8Smbus(QByteArrayView bytes)
{
    return static_cast<quint8>(Crc<kCrc8Smbus>(bytes));
}

quint16 Crc16Modbus(QByteArrayView bytes)
{
    return static_cast<quint16>(Crc<kCrc16Modbus>(bytes));
}

quint16 Crc16Ibm3740(QByteArrayView bytes)
{
    return static_cast<quint16>(Crc<kCrc16Ibm3740>(bytes));
}

quint16 Crc16Xmodem(QByteArrayView bytes)
{
    return static_cast<quint16>(Crc<kCrc16Xmodem>(bytes));
}

quint32 Crc32IsoHdlc(QByteArrayView bytes)
{
    return Crc<kCrc32IsoHdlc>(bytes);
}

}  // namespace Checksums
