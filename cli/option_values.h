// Options that take a value, as brivane-tap and brivane-ls read them: the
// value after "=" or as the next argument.
#ifndef BRIVANE_OPTION_VALUES_H
#define BRIVANE_OPTION_VALUES_H

#include <cstring>
#include <string>
#include <string_view>

#include "tap/tap_file.h"

/// Whether argv[i] is the option name ("--machine" or "--machine=..."):
/// then value is its value, i is moved past it, and where the value is
/// missing error says so ("--machine needs " + needs).
inline bool option_value(int argc, const char* const* argv, int& i, std::string_view name,
                         std::string_view needs, std::string& value, std::string& error) {
  const std::string_view a = argv[i];
  if (a == name) {
    if (i + 1 >= argc) {
      error = std::string(name) + " needs " + std::string(needs);
      return true;
    }
    value = argv[++i];
    return true;
  }
  if (a.size() > name.size() && a.substr(0, name.size()) == name && a[name.size()] == '=') {
    value = std::string(a.substr(name.size() + 1));
    return true;
  }
  return false;
}

/// A machine by its name in an option; false, with error set, for no such one.
inline bool machine_value(const std::string& name, machine& m, std::string& error) {
  if (machine_named(name, m)) return true;
  error = "no such machine: " + name + " (" + machine_names() + ")";
  return false;
}

#endif
