// The COM number the registry names for a driver service's last device instance, read the way
// port discovery reads it; 0 when there is none.
#pragma once

#include <string>

namespace orbek::testing {

int PublishedCom(const std::string& service);

}  // namespace orbek::testing
