// Rewrites the crafted capture files of this folder from the table in
// tests/support/odd_captures.cpp. From the top of the source tree (one command line):
//   g++ -std=c++17 -Itests tests/captures/make_captures.cpp tests/support/odd_captures.cpp
//       tests/support/capture_frames.cpp -lpcap -o /tmp/make_captures
//   /tmp/make_captures tests/captures
// The real-client files (real_*.pcap) come from tcpdump instead: run the capture tests as root
// with TESSEL_KEEP_REAL_CAPTURES=<this folder>. Update TESTLIST when a file changes.
#include <cstdio>
#include <string>

#include "support/odd_captures.h"

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "tests/captures";
    int failed = 0;
    for (const tessel::test::CraftedCapture& c : tessel::test::craftedCaptures()) {
        const std::string path = folder + "/" + c.file;
        if (!tessel::test::writeCaptureFile(path, c)) {
            std::fprintf(stderr, "make_captures: cannot write %s\n", path.c_str());
            ++failed;
            continue;
        }
        std::printf("%s: %zu frames\n", path.c_str(), c.frames.size());
    }
    return failed ? 1 : 0;
}
