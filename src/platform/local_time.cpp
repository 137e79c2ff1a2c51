#include "platform/local_time.h"

#include <locale.h>

#include <vector>

namespace tessel {

std::string formatLocalTimeC(const char* format, std::time_t when, std::size_t capacity) {
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) return std::string();
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    std::vector<char> buffer(capacity > 0 ? capacity : 1);
    std::size_t n = cLocale ? strftime_l(buffer.data(), buffer.size(), format, &local, cLocale)
                            : std::strftime(buffer.data(), buffer.size(), format, &local);
    if (n == 0) return std::string();
    return std::string(buffer.data(), n);
}

}  // namespace tessel
