#include "app/run.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "app/updater.h"
#include "log/log.h"
#include "log/next_step.h"
#include "platform/run_lock.h"

namespace zavr {
namespace {

// The steps after the catalogue set-up, in order. Whatever they throw ends the run.
void RunSteps(Updater& updater) {
    updater.FindInstalledVersion();
    updater.QueryProductInfo();
    const UpdateCounts counts = updater.UpdateProducts();
    WriteLog(1, "Installed products that failed to update: " + std::to_string(counts.failed));
    WriteLog(1, "Installed products successfully updated: " + std::to_string(counts.succeeded));
    WriteLog(1, "Done.");
}

// The pass itself: every error that it does not handle ends it here.
int RunPass(Updater& updater, const std::string& aircraftCode, const std::string& simFamily) {
    try {
        OpenLog();
    } catch (const std::runtime_error&) {
        return kExitError;  // the folder helpers have already printed why
    }
    // Two runs at once would share their temporary and backup files; the second one touches nothing.
    const std::string lockPath = UpdaterFolder() + kRunLockFileName;
    const RunLock lock(lockPath);
    if (lock.State() == RunLockState::Busy) {
        WriteLog(2, "Another run of the updater is in progress (it holds " + lockPath +
                        "); I leave the update to it and change nothing.");
        return kExitError;
    }
    if (lock.State() == RunLockState::Failed) {
        WriteLog(2, "I cannot take the lock " + lockPath + " that keeps two runs apart (" + lock.Reason() +
                        "); I change nothing.");
        return kExitError;
    }
    WriteLog(1, "===== ZAVR updater commencing");
    WriteLog(1, "Setting up for " + aircraftCode + " / " + simFamily);
    updater.aircraftCode = aircraftCode;
    updater.simFamily = simFamily;
    try {
        updater.SetUpCatalogue();
    } catch (const std::runtime_error& error) {
        WriteLog(2, error.what());
        return kExitCatalogueFailed;
    }
    RunSteps(updater);
    return kExitComplete;
}

}  // namespace

int RunUpdater(const std::string& aircraftCode, const std::string& simFamily) {
    // Whatever escapes the pass (an error of the steps that nothing guards, an allocation that failed, an
    // error of any other kind) ends the run with one sentence, never with an abort.
    try {
        Updater updater;
        return RunPass(updater, aircraftCode, simFamily);
    } catch (const std::bad_alloc&) {
        WriteLog(2, "I ran out of memory and stopped; nothing more was changed.");
    } catch (const std::exception& error) {
        WriteLog(2, error.what());
        AdviseNextStep(NextStepFor(error));
    } catch (...) {
        WriteLog(2, "I stopped at an error I did not expect; nothing more was changed.");
    }
    return kExitError;
}

}  // namespace zavr
