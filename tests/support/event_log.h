#pragma once

#include <string>
#include <vector>

namespace capmeter::testing {

// One ordered record shared by the recording display and the recording
// driver, so a test can check what happened before what.
using EventLog = std::vector<std::string>;

}  // namespace capmeter::testing
