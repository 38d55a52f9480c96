// One complete update pass.
#pragma once

#include <string>

namespace zavr {

constexpr int kExitComplete = 0;
constexpr int kExitCatalogueFailed = 1;
constexpr int kExitError = 2;

// Runs one pass for the given aircraft code and simulator family and returns the process exit
// status: kExitComplete after a complete run, kExitCatalogueFailed when the catalogue set-up fails,
// kExitError when any other error ends the run early (its message logged at level 2, or, before the
// log is open, printed). Never throws.
int RunUpdater(const std::string& aircraftCode, const std::string& simFamily);

}  // namespace zavr
