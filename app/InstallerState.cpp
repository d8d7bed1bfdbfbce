#include "app/InstallerState.h"

InstallerState gInstallerState;
