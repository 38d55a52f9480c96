// What a user can do after a failure, in plain words: one level-2 line after the failure's own lines.
#pragma once

#include <stdexcept>
#include <string>

namespace zavr {

enum class NextStep {
    RunAgain,         // nothing more precise is known
    CheckConnection,  // the server could not be reached, or stopped answering
    ServerFault,      // the server answered with something unusable
    SignatureRefused,
    FreeSpace,
    CloseProgram,     // a running program holds a file
    CheckAccess,      // a folder or file may not be written
    ReinstallFolder,  // the add-on's folder is missing
};

// A failure whose sentence is the user's, with the step that helps.
class UserFailure : public std::runtime_error {
  public:
    UserFailure(const std::string& sentence, NextStep step) : std::runtime_error(sentence), step_(step) {}
    NextStep Step() const { return step_; }

  private:
    NextStep step_;
};

// The step for error: a UserFailure's own; for the file system's errors, by their code (a full disk, a
// refused access); RunAgain otherwise. Never fails.
NextStep NextStepFor(const std::exception& error);

// Logs "What to do: ..." for step at level 2. Never fails.
void AdviseNextStep(NextStep step);

}  // namespace zavr
