#pragma once
#include <irrlicht.h>

#include <string>
#include <vector>

namespace tessel {

class cNodeManager;

// The find field: a line of text at the top of the window that names hosts (as matchingNodes
// reads it), their addresses in node list order and the one the camera last flew to. Part of the
// run's UI state (SUiState); the event receiver feeds it keys. Main thread only.
class cFindField {
  public:
    virtual ~cFindField() = default;

    // Shows the field (made on first use in `gui`), empty, with no match.
    void open(irr::gui::IGUIEnvironment* gui, irr::s32 windowWidth);
    void close();
    // Adds a character, or takes the last one away; the matches are looked for again.
    void type(char c, const cNodeManager& nodes);
    void erase(const cNodeManager& nodes);
    // Looks for the matches again and makes the first one current. False when there is none.
    bool first(const cNodeManager& nodes);
    // Makes the next match current (`step` 1) or the previous one (-1), round the list. False
    // when there is none.
    bool step(int step);

    bool isOpen() const { return open_; }
    const std::string& text() const { return text_; }
    int matchCount() const { return static_cast<int>(matches_.size()); }
    // The address of the current match; empty when none is current.
    std::string currentAddress() const;
    // The pick identifier of the current match, whose information panel stays open while the
    // field does; 0 for none. Typing and closing let go of it.
    void pinPanel(int pickId) { panelPickId_ = pickId; }
    int panelPickId() const { return open_ ? panelPickId_ : 0; }

  private:
    void search(const cNodeManager& nodes);
    void show();

    bool open_ = false;
    std::string text_;
    std::vector<std::string> matches_;  // addresses: indices move when a node is pruned
    int current_ = -1;
    int panelPickId_ = 0;
    irr::gui::IGUIStaticText* line_ = nullptr;  // owned by the GUI
};

// "3 matches", "1 match", "no match".
std::string matchCountText(int count);

}  // namespace tessel
