// What the program writes, as its users know it: the tests' own copy, kept
// apart from the code's, so that a slip in either shows.
#ifndef BRIVANE_TESTS_EXPECTED_TEXT_H
#define BRIVANE_TESTS_EXPECTED_TEXT_H

#include <string>

inline const std::string banner = "Brivane, rel 1.1\n";

/// The usage text, naming the program as given.
inline std::string usage(const std::string& program) {
  return "Usage: " + program +
         " [option(s)] <tap file>\n\nOptions:\n"
         "   -a: extract all filenames (by default only the first one is extracted)\n"
         "   -e: escape control codes\n";
}

#endif
