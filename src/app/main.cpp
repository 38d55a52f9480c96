#include "app/run.h"

#ifndef ZAVR_AIRCRAFT
#define ZAVR_AIRCRAFT "KA2"
#endif
#ifndef ZAVR_SIM
#define ZAVR_SIM "XSE"
#endif

int main() {
    return zavr::RunUpdater(ZAVR_AIRCRAFT, ZAVR_SIM);
}
