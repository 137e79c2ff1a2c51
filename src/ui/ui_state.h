#pragma once
#include <memory>
#include <string>

#include "core/process_flags.h"
#include "ui/camera_tour.h"
#include "ui/fading_text_list.h"
#include "ui/find_field.h"
#include "ui/host_labels.h"

namespace tessel {

class HandOffChannel;
class cLog;
class cNodeManager;

// What the HUD, the event receiver, the camera tour and the render loop share for the run: the
// user's switches, the message list, the tour, the find field. Owned by the run (runTessel), handed
// down by reference; main thread only.
struct SUiState {
    ProcessFlags flags;
    std::unique_ptr<CFadingTextList> messages;  // made by buildHud
    cCameraTour tour;
    cFindField find;
    LabelMode labelMode = LabelMode::Busiest;  // which hosts carry a label (key N)
    cLog* log = nullptr;                       // the event log (key F, key W, engine log text)
    HandOffChannel* channel = nullptr;         // its trace switch is the logging toggle
    const cNodeManager* nodes = nullptr;       // what the find field looks through

    // Posts to the message list once it exists.
    void post(const std::string& text) const {
        if (messages) messages->addMessage(text);
    }
};

}  // namespace tessel
