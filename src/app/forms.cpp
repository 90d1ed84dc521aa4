#include "app/forms.h"

#include "app/about.h"
#include "app/changeport.h"
#include "app/mainwindow.h"

namespace app {

void createDialogs(TForm1 &form)
{
    auto *aboutBox = new TAboutBox(&form); // owned by the window
    auto *portDialog = new TfrmChangePort(form); // owned by the window
    form.setDialogs(portDialog, aboutBox);
}

} // namespace app
