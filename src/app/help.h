#pragma once

#include <QString>

namespace app {

// The user guide's file name; its contents are at the top, its index at the anchor "index".
extern const QString kUserGuideName; // "tobrel.html"

// Where the user guide of a program in programDir is: help/tobrel.html beside the program (the
// build tree), else ../share/tobrel/help/tobrel.html (an installed program). Empty when neither
// exists: the help commands then do nothing.
QString findUserGuide(const QString &programDir);
// The same for this program.
QString findUserGuide();

} // namespace app
