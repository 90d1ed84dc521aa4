#pragma once

namespace app {

// The program-wide settings of the window program, made once the QApplication exists: its name,
// the icon of its windows, and where errors, messages and beeps go (message boxes
// titled "Tobrel", the desktop's beep). Every window keeps exactly the caption it sets.
void setUpApplication();

} // namespace app
