#include "core/frame_limit.h"

#include "core/text_number.h"

namespace tessel {

int frameLimitFrom(const std::string& text) {
    const int fps = atoiText(text);
    return fps >= 1 && fps <= 1000 ? fps : 0;
}

}  // namespace tessel
