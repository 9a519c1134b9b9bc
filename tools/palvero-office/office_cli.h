#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace palvero {

class Formats;

// palvero-office: the office's commands on the central database, without a window.
// `askPassword` is asked when the server wants a password that libpq's password file
// does not give; it returns an empty text when there is nobody to ask.
// The exit code: 0 done, 1 failed, 2 wrong use.
int runOffice(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Formats& formats,
              const std::function<std::string(const std::string& prompt)>& askPassword);

} // namespace palvero
