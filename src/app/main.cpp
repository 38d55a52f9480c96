#include <cstdio>

#include "app/run.h"
#include "build_config.h"
#include "platform/user_session.h"

int main() {
    int status = 2;
    try {
        status = zavr::RunUpdater(ZAVR_AIRCRAFT, ZAVR_SIM);
    } catch (...) {  // only when not even the run's own last line could be written
        std::fputs("I stopped at an error I did not expect; nothing more was changed.\n", stdout);
    }
    zavr::HoldOwnConsoleWindow();  // a double-clicked program's window would close before it is read
    return status;
}
