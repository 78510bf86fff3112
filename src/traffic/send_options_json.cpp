#include "traffic/send_options_json.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<LineEnding, const char *>, 4> kEndings{
    {{LineEnding::None, "none"}, {LineEnding::Cr, "cr"}, {LineEnding::Lf, "lf"}, {LineEnding::CrLf, "crlf"}}};
constexpr std::array<std::pair<Checksum, const char *>, 9> kChecksums{{{Checksum::None, "none"},
                                                                       {Checksum::Sum8, "sum8"},
                                                                       {Checksum::Xor8, "xor8"},
                                                                       {Checksum::Lrc, "lrc"},
                                                                       {Checksum::Crc8Smbus, "crc8-smbus"},
                                                                       {Checksum::Crc16Modbus, "crc16-modbus"},
                                                                       {Checksum::Crc16Ibm3740, "crc16-ibm3740"},
                                                                       {Checksum::Crc16Xmodem, "crc16-xmodem"},
                                                                       {Checksum::Crc32IsoHdlc, "crc32-iso-hdlc"}}};
constexpr std::array<std::pair<ChecksumOrder, const char *>, 3> kOrders{
    {{ChecksumOrder::Usual, "usual"}, {ChecksumOrder::LowFirst, "low"}, {ChecksumOrder::HighFirst, "high"}}};

template <typename Enum, std::size_t N>
QString NameOf(const std::array<std::pair<Enum, const char *>, N> &names, Enum value)
{
    for (const auto &[known, name] : names)
        if (known == value)
            return QString::fromLatin1(name);
    return QString::fromLatin1(names.front().second);
}

// The value named by key, if present; false for a wrong type or an unknown name.
template <typename Enum, std::size_t N>
bool ReadName(const QJsonObject &object, const char *key, const std::array<std::pair<Enum, const char *>, N> &names,
              Enum &value)
{
    const QJsonValue found = object.value(QLatin1String(key));
    if (found.isUndefined())
        return true;
    for (const auto &[known, name] : names)
        if (found.toString() == QLatin1String(name)) {
            value = known;
            return true;
        }
    return false;
}

bool ReadBool(const QJsonObject &object, const char *key, bool &value)
{
    const QJsonValue found = object.value(QLatin1String(key));
    if (found.isUndefined())
        return true;
    if (!found.isBool())
        return false;
    value = found.toBool();
    return true;
}

}  // namespace

QJsonObject SendOptionsToJson(const SendOptions &options)
{
    return {{QStringLiteral("asTyped"), options.asTyped},
            {QStringLiteral("escapes"), options.escapes},
            {QStringLiteral("ending"), NameOf(kEndings, options.ending)},
            {QStringLiteral("checksum"), NameOf(kChecksums, options.checksum)},
            {QStringLiteral("order"), NameOf(kOrders, options.order)}};
}

bool SendOptionsFromJson(const QJsonValue &value, SendOptions &options)
{
    if (!value.isObject())
        return false;
    const QJsonObject object = value.toObject();
    SendOptions read;
    if (!ReadBool(object, "asTyped", read.asTyped) || !ReadBool(object, "escapes", read.escapes)
        || !ReadName(object, "ending", kEndings, read.ending)
        || !ReadName(object, "checksum", kChecksums, read.checksum) || !ReadName(object, "order", kOrders, read.order))
        return false;
    options = read;
    return true;
}
