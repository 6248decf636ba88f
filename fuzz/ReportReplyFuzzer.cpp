#include "ReportReply.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    // Mostly 200, so that the body decides.
    const int status = data.ConsumeBool() ? 200 : data.ConsumeIntegral<int>();
    const std::vector<char> raw = data.ConsumeRemainingBytes<char>();
    const QByteArray body(raw.data(), static_cast<qsizetype>(raw.size()));
    // Acceptance needs status 200 and a body holding a literal true; it never depends on
    // anything but its arguments.
    const bool accepted = ow::reportAccepted(status, body);
    if (accepted && (status != 200 || !body.contains("true")))
        std::abort();
    if (accepted != ow::reportAccepted(status, body))
        std::abort();
    return 0;
}
