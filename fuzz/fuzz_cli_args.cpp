// Random argv for velvane-cli's parser: options or a one-line message, never a crash.
#include <QStringList>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "cli/cli_options.h"
#include "fuzz_check.h"

namespace {

// What would steer the terminal the message goes to (C0, DEL, C1) or end its line in a log
// viewer or an editor (the Unicode line and paragraph separators).
bool NotForOneLine(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Arguments are separated by NUL bytes, as the kernel hands them over.
    QStringList args;
    for (const QByteArray &arg : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0'))
        args << QString::fromUtf8(arg);
    const auto parsed = CliArguments::Parse(args);
    if (const auto *error = std::get_if<CliUsageError>(&parsed)) {
        FUZZ_CHECK(!error->message.isEmpty());
        FUZZ_CHECK(std::none_of(error->message.cbegin(), error->message.cend(), NotForOneLine));
    } else if (const auto *help = std::get_if<CliHelp>(&parsed)) {
        FUZZ_CHECK(help->text.endsWith(u'\n'));
    } else if (const auto *options = std::get_if<CliOptions>(&parsed)) {
        FUZZ_CHECK(options->endpoint.Port() != 0 || options->IsServer());
        FUZZ_CHECK(!(options->echo && options->hasReply));
    }
    return 0;
}
