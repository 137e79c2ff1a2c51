#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/scene_context.h"

namespace tessel {

// One recorded packet: the content of one intel file.
struct TrafficRecord {
    int tcp = 0;
    int udp = 0;
    int icmp = 0;
    std::string src;
    std::string dst;
    std::uint16_t srcport = 0;
    std::uint16_t dstport = 0;
    std::uint16_t size = 0;  // IP total length with its two bytes swapped
};

// One "anode" element as read back: numbers are whatever atoi-style conversion gives, so they
// are plain ints (a hand-edited file may hold anything).
struct IntelAnode {
    std::string src;
    std::string dst;
    int srcport = 0;
    int dstport = 0;
    int size = 0;
    int tcp = 0;
    int udp = 0;
    int icmp = 0;
};

// The folder of the queue, relative to the working directory.
extern const char* const intelFolder;

// The four lines of one file, line ends included.
std::string intelFileContent(const TrafficRecord& record);

// Capture thread: writes one file "intel/anode.<draw><draw>.xml". The content is written under
// a dot-name in the same folder and linked into place without replacing an existing file, so a
// reader never sees half a record and two records never overwrite each other (on a name clash
// two new numbers are drawn). Failures are silent: the record is lost.
void writeIntelFile(const TrafficRecord& record);

// Every "anode" element of an XML text, in document order (any thread; used by fuzzing).
std::vector<IntelAnode> parseIntelText(const char* data, std::size_t length);
// Same for a file read with the engine's XML reader; empty when it cannot be read.
std::vector<IntelAnode> readIntelFile(const std::string& path);

// One pass over `folder`: each regular file whose name does not start with "." is read; its
// records go to `sink` in file order and the file is deleted when it held at least one.
// Gives false when the folder cannot be listed. Any thread (touches only the folder).
bool consumeIntelFolder(const std::string& folder,
                        const std::function<void(const IntelAnode&)>& sink);

// Main thread, every 26 frames: every waiting file becomes particle impacts and is deleted.
// A missing folder shows "Failed to open 'intel' folder. Failing..." and ends the process (0).
void loadIntelFiles(SSceneContext& context);

}  // namespace tessel
