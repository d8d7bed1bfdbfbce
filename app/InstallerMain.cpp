#include "app/InstallerMain.h"

#include "app/InstallerWindow.h"
#include "platform/Toolkit.h"

int InstallerMain() {
  platform::Toolkit& toolkit = platform::GetToolkit();
  // Each step runs only when the one before succeeded; an exception that
  // stopped them is shown here.
  if (toolkit.Initialize() && toolkit.CreateForm(kInstallerWindowDescription, &gInstallerWindow)) {
    toolkit.Run();
  }
  toolkit.HandleException();
  return 0;
}
