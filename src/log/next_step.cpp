#include "log/next_step.h"

#include <boost/system/system_error.hpp>
#include <cerrno>

#include "log/log.h"

namespace zavr {

NextStep NextStepFor(const std::exception& error) {
    if (const auto* failure = dynamic_cast<const UserFailure*>(&error)) return failure->Step();
    if (const auto* system = dynamic_cast<const boost::system::system_error*>(&error)) {
        const boost::system::error_code code = system->code();
        if (code == boost::system::errc::no_space_on_device || code == boost::system::errc::file_too_large)
            return NextStep::FreeSpace;
        if (code == boost::system::errc::permission_denied ||
            code == boost::system::errc::operation_not_permitted ||
            code == boost::system::errc::read_only_file_system)
            return NextStep::CheckAccess;
    }
    return NextStep::RunAgain;
}

void AdviseNextStep(NextStep step) {
    const char* advice = "";
    switch (step) {
        case NextStep::RunAgain:
            advice =
                "run me again; an update that did not finish is taken up where it stopped, and the backups "
                "of your files are kept.";
            break;
        case NextStep::CheckConnection:
            advice =
                "check that this computer is connected to the internet and run me again later; if it keeps "
                "failing, the maker's update server may be down.";
            break;
        case NextStep::ServerFault:
            advice =
                "the maker's update server gave me something I cannot use; run me again later, and tell the "
                "maker if it keeps happening.";
            break;
        case NextStep::SignatureRefused:
            advice =
                "tell the maker: I install nothing the maker has not signed, so your add-on stays as it was.";
            break;
        case NextStep::FreeSpace:
            advice = "free some space on that disk, then run me again; the backups of your files are kept.";
            break;
        case NextStep::CloseProgram:
            advice = "close the simulator and every program that uses the add-on's files, then run me again.";
            break;
        case NextStep::CheckAccess:
            advice =
                "make sure that this account may change the add-on's folder (run me as administrator), then "
                "run me again; the backups of your files are kept.";
            break;
        case NextStep::ReinstallFolder:
            advice =
                "install the add-on again with its full installer, which makes that folder, then run me "
                "again.";
            break;
    }
    WriteLog(2, std::string("What to do: ") + advice);
}

}  // namespace zavr
