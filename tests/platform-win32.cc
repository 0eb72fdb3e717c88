#include <cstdlib>

#include "tests/platform.h"

std::string QuoteArgument(const std::string& arg) { return '"' + arg + '"'; }

void SetEnvironment(const std::string& name, const std::string& value) {
  _putenv_s(name.c_str(), value.c_str());
}

std::string Unprivileged(const std::string&) { return ""; }
