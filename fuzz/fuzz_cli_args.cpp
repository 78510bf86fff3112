// Random argv for velvane-cli's parser: options or a one-line message, never a crash.
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <variant>

#include "cli/cli_options.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Arguments are separated by NUL bytes, as the kernel hands them over.
    QStringList args;
    for (const QByteArray &arg : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0'))
        args << QString::fromUtf8(arg);
    const auto parsed = CliArguments::Parse(args);
    if (const auto *error = std::get_if<CliUsageError>(&parsed)) {
        FUZZ_CHECK(!error->message.isEmpty());
        FUZZ_CHECK(!error->message.contains(u'\n'));
    } else if (const auto *options = std::get_if<CliOptions>(&parsed)) {
        FUZZ_CHECK(options->endpoint.Port() != 0 || options->IsServer());
        FUZZ_CHECK(!(options->echo && options->hasReply));
    }
    return 0;
}
