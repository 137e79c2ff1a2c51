#include "nodes/program_text.h"

#include <cstdio>

#include "core/program_table.h"
#include "nodes/connection_list.h"

namespace tessel {

namespace {

constexpr const char* kNotCaptured = "not known (not captured on this host)";

}  // namespace

std::string byteCountText(unsigned long long bytes) {
    if (bytes < 1000) return std::to_string(bytes) + " B";
    const char* units[] = {"kB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    while (value >= 1000.0 && unit < 3) {
        value /= 1000.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string beamProgramLine(const cProgramTable* programs, const STrafficBeam& beam) {
    if (!programs) return std::string();
    if (!programs->live()) return std::string("program: ") + kNotCaptured;
    const FlowEnds ends{6, beam.source, beam.destination, beam.sourcePort, beam.destinationPort};
    return "program: " + ownerText(programs->ownerOf(ends));
}

std::string hostProgramLines(const cProgramTable* programs,
                             std::chrono::steady_clock::time_point now) {
    if (!programs) return std::string();
    if (!programs->live()) return std::string("programs: ") + kNotCaptured;
    std::string text = "Top programs (1 min):";
    const std::vector<ProgramUse> top = programs->busiest(now, 3);
    if (top.empty()) return text + "\nnone seen yet";
    for (const ProgramUse& use : top) {
        const ProgramOwner& o = use.owner;
        const std::string who = o.kind == ProgramOwner::Kind::OtherUser
                                    ? "another user (uid " + std::to_string(o.uid) + ")"
                                    : ownerText(o);
        text += "\n" + who + " " + byteCountText(use.bytes);
    }
    return text;
}

}  // namespace tessel
