#include <cstdio>

#include "app/run.h"
#include "catalogue/build_settings.h"
#include "platform/user_session.h"

int main() {
    int status = 2;
    try {
        status = zavr::RunUpdater(zavr::kBuildSettings.aircraftCode, zavr::kBuildSettings.simFamily);
    } catch (...) {  // only when not even the run's own last line could be written
        std::fputs("I stopped at an error I did not expect; nothing more was changed.\n", stdout);
    }
    zavr::HoldOwnConsoleWindow();  // a double-clicked program's window would close before it is read
    return status;
}
