#include "app/run.h"
#include "build_config.h"

int main() {
    return zavr::RunUpdater(ZAVR_AIRCRAFT, ZAVR_SIM);
}
