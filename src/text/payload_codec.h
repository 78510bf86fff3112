#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>

// How send-box text becomes the bytes on the wire and received bytes become a display line.
// Everything works on GBK bytes: lengths count bytes, and a double-byte character is never
// split, so neither of its bytes is ever taken for a space or a hex digit.
namespace PayloadCodec {

inline constexpr int kHexBufferSize = 128;  // one hex send carries at most 127 bytes
inline constexpr int kMaxHexBytes = kHexBufferSize - 1;
// With 大数据 a hex send carries as much as one UDP datagram over IPv4 can.
inline constexpr int kLargeHexBytes = 65507;

// BadEscape: a backslash of an as-typed send names no escape (the send options'; its place is
// the payload's failureAt).
enum class HexFailure { None, OddLength, TooLong, BadToken, BadEscape };

// The message box text of a failure; empty for None.
QString FailureMessage(HexFailure failure);

// Removes every space byte (0x20) in place; double-byte characters stay whole.
void PrepareSendText(QByteArray &text);

// Checks odd length, then length / 2 > maxBytes, then each two-character token in turn; the
// first bad token stops. On success bytes holds length / 2 bytes, on failure nothing.
HexFailure EncodeHex(QByteArrayView prepared, QByteArray &bytes, int maxBytes = kMaxHexBytes);

// Spaces removed, then every character must be 0-9, A-F or a-f. The value is the digits read
// in base 16, kept in 8 bits; an empty token gives 0. out is left alone on failure.
bool HexTokenToByte(QByteArrayView token, quint8 &out);

// "%02X " per byte in hex display; otherwise the bytes up to the first NUL or the end.
QByteArray DataText(QByteArrayView block, bool hexDisplay);

// peer + " " + DataText + "\r\n", as GBK bytes: the traffic log takes them unaltered,
// the lists show them decoded.
QByteArray FormatReceived(QByteArrayView block, bool hexDisplay, QByteArrayView peerText);

// The bytes a text-mode send puts on the wire: the prepared text and one NUL byte.
QByteArray TextModePayload(QByteArrayView prepared);

}  // namespace PayloadCodec
