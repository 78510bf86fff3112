#pragma once

#include <QString>

#include <array>
#include <optional>

// The text rules of the IPv4 address entry, apart from its widgets.

// The four numbers of "a.b.c.d": exactly four parts, each a decimal number of at most 255
// (as QString::toUInt reads it); nothing for any other text.
std::optional<std::array<uint, 4>> ParseIpv4AddressText(const QString &dotted);

// The address of four field texts: "" when every field is blank, else "a.b.c.d" with each
// field read as a number and a blank (or unreadable) field read as 0.
QString Ipv4AddressTextOfFields(const std::array<QString, 4> &fields);
