#pragma once

namespace app {

class TForm1;

// The program's two dialogs, made once the main window exists (the port dialog takes its first
// text from the call component's port) and freed with it: the About box, then the port dialog.
void createDialogs(TForm1 &form);

} // namespace app
