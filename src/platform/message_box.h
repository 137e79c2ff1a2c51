#pragma once
#include <string>

namespace tessel {

// A modal message with an OK button, owned by no window. The text always goes to standard error
// too. With TESSEL_DIALOGS=stderr (tests, scripts) nothing is shown and nothing waits for a click;
// without an X server the text only goes to standard error. Main thread only.
void showMessageBox(const std::string& text);

}  // namespace tessel
