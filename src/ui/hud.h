#pragma once
#include <irrlicht.h>

#include <cstdint>
#include <string>

namespace tessel {

class cConnectionList;
class cNodeManager;
class cProgramTable;
class cRegistry;
struct SUiState;

// Fader, toolbar, logo, font, information panel, message list (into ui.messages) and GUI
// colours, for the window size in ui.flags. Main thread.
void buildHud(irr::IrrlichtDevice* device, cRegistry& registry, SUiState& ui);
// Main loop, first frame: the picture rises out of black over 3500 ms.
void startHudFade();
// Main loop, every frame while the window is active: shows the text of the node or beam under
// the cursor (with the programs of `programs`, when given), and hides the panel 31 frames after
// the last hit. The find field's current match keeps its panel open while nothing is under the
// cursor.
void updateInfoPanel(irr::IrrlichtDevice* device, const SUiState& ui, const cNodeManager& nodes,
                     const cConnectionList& connections, const cProgramTable* programs = nullptr);
// Opens the panel of the node with this pick identifier at once, as the cursor over its cube
// does; nothing when no node carries it.
void showNodeInfo(const SUiState& ui, const cNodeManager& nodes, int pickId);
// The panel's text while it is open, its lines that hold text joined by " / "; "" while it
// is hidden.
std::string infoPanelText();
// The pick identifier of the node cube whose text the information panel shows, 0 while it shows
// none (or a beam's).
int infoPanelNodePickId();

// Main loop, every frame: while some records of the last intel passes were only counted (more
// than the scene draws), one line says how many are shown, as "showing 2,000 of 9,800 packets/s".
void updateImpactLine(irr::u32 nowMs);
// "2,000": a count with thousands separated by commas.
std::string groupedNumber(long long value);
// Main loop, every frame while replaying: the capture's name, its clock, how far through the file
// the replay is and its speed, as "demo.pcap  2026-12-08 10:00:03  42%  x2".
void updateReplayLine();
// Main loop, every frame while replaying a file, after the GUI: the timeline above the replay
// line, the capture's span (as far as it is indexed) with its traffic per slice and where the
// replay stands.
void drawReplayTimeline(irr::video::IVideoDriver* driver);
// Where the timeline's span is at window point `at`, from 0 to 1; false off the timeline or
// while there is none.
bool replayTimelineFraction(irr::core::position2d<irr::s32> at, double* fraction);
// Asks the replay to go to `targetUs` and says so in the message list, or why it cannot.
void seekReplayTo(const SUiState& ui, std::int64_t targetUs);
// The same, `deltaUs` from where the replay stands.
void seekReplayBy(const SUiState& ui, std::int64_t deltaUs);
// A replay speed as the HUD and the messages write it: "2", "0.5", "0.25".
std::string speedText(double speed);

// The one GUI colour: 105/155/106, opaque only when `transparency` is exactly "0".
irr::video::SColor guiTintFor(const std::string& transparency);

// Engine identifiers of the HUD's texts (the toolbar buttons are 101 to 107).
constexpr irr::s32 kInfoTextId = 111;
constexpr irr::s32 kInfoBoxId = 112;
constexpr irr::s32 kReplayLineId = 113;

}  // namespace tessel
