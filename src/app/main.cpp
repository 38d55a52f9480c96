#include <cstdio>

#include "app/run.h"
#include "build_config.h"

int main() {
    try {
        return zavr::RunUpdater(ZAVR_AIRCRAFT, ZAVR_SIM);
    } catch (...) {  // only when not even the run's own last line could be written
        std::fputs("I stopped at an error I did not expect; nothing more was changed.\n", stdout);
        return 2;
    }
}
