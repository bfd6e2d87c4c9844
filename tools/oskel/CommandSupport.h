#pragma once

#include <iosfwd>
#include <string>

namespace oskel {

// False, after telling the user which codes exist, when the service cannot
// translate into `language`.
bool checkTargetLanguage(const std::string& command, const std::string& language, std::ostream& err);

}  // namespace oskel
