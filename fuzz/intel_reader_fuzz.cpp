// Any bytes as the content of an intel file.
#include <cstdint>
#include <vector>

#include "capture/intel_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<char> text(data, data + size);
    std::vector<tessel::TrafficRecord> records = tessel::parseIntelText(text.data(), text.size());
    (void)records;
    return 0;
}
