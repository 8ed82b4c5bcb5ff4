// Feeds arbitrary bytes to the report-descriptor parser: it must neither crash nor misbehave
// under the sanitizers, and must always answer with exactly one of a length or an error.
#include "report_descriptor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const quorvane::FeatureLengthResult result =
        quorvane::parseFeatureReportByteLength(std::span(data, size));
    if (result.featureReportByteLength.has_value() == !result.error.empty())
        std::abort();
    return 0;
}
