// The IPv4 address entry's text rules: ParseIpv4AddressText and Ipv4AddressTextOfFields.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz_check.h"
#include "text/ipv4_address_text.h"

namespace {

QString Dotted(const std::array<uint, 4> &numbers)
{
    return QStringLiteral("%1.%2.%3.%4").arg(numbers[0]).arg(numbers[1]).arg(numbers[2]).arg(numbers[3]);
}

std::array<QString, 4> FieldsOf(const std::array<uint, 4> &numbers)
{
    return {QString::number(numbers[0]), QString::number(numbers[1]), QString::number(numbers[2]),
            QString::number(numbers[3])};
}

// What SetAddressText puts in the fields and AddressText reads back.
void CheckParsed(const QString &text)
{
    const auto numbers = ParseIpv4AddressText(text);
    if (!numbers)
        return;
    for (const uint number : *numbers)
        FUZZ_CHECK(number <= 255);
    const QString shown = Ipv4AddressTextOfFields(FieldsOf(*numbers));
    FUZZ_CHECK(shown == Dotted(*numbers));
    const auto again = ParseIpv4AddressText(shown);  // the text of a parsed address parses alike
    FUZZ_CHECK(again && *again == *numbers);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: {  // any text, as UTF-8
        const std::string bytes = input.ConsumeRemainingBytesAsString();
        CheckParsed(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
        break;
    }
    case 1: {  // any text, as UTF-16 (lone surrogates included)
        const std::string bytes = input.ConsumeRemainingBytesAsString();
        CheckParsed(QString(reinterpret_cast<const QChar *>(bytes.data()), qsizetype(bytes.size() / 2)));
        break;
    }
    default: {
        // Fields as the entry's validator lets them be typed: blank or up to three digits of at
        // most 255, leading zeros allowed. Their address parses back to their numbers, blank
        // fields as 0; four blank fields are no address.
        std::array<QString, 4> fields;
        std::array<uint, 4> numbers{};
        bool blank = true;
        for (int i = 0; i < 4; ++i) {
            if (input.ConsumeBool()) {
                numbers[i] = input.ConsumeIntegralInRange<uint>(0, 255);
                fields[i] = QString::number(numbers[i])
                                .rightJustified(input.ConsumeIntegralInRange<int>(1, 3), QLatin1Char('0'));
                blank = false;
            }
        }
        const QString text = Ipv4AddressTextOfFields(fields);
        if (blank) {
            FUZZ_CHECK(text.isEmpty());
            FUZZ_CHECK(!ParseIpv4AddressText(text));
        } else {
            FUZZ_CHECK(text == Dotted(numbers));
            const auto parsed = ParseIpv4AddressText(text);
            FUZZ_CHECK(parsed && *parsed == numbers);
        }
        CheckParsed(text);
        break;
    }
    }
    return 0;
}
