#pragma once

namespace tessel {

// Starts one host-name resolution pass on a new detached thread (main loop, every 26 frames).
void startResolverThread();
// One pass over the node list; a second pass while one runs returns at once.
void resolvePendingNames();

}  // namespace tessel
