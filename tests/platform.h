// What the tests need to do differently on each platform.
#ifndef VT_TESTS_PLATFORM_H_
#define VT_TESTS_PLATFORM_H_

#include <string>

// `arg` quoted so that the interpreter hands it to the program as one
// argument, unchanged (it holds no double quote).
std::string QuoteArgument(const std::string& arg);

// Sets (or, with an empty value on Windows, removes) an environment variable
// for this process and the programs it starts.
void SetEnvironment(const std::string& name, const std::string& value);

// A command prefix that runs the rest of the command line as an
// unprivileged user, and gives that user `dir`; empty where the tests do not
// run with privileges.
std::string Unprivileged(const std::string& dir);

#endif  // VT_TESTS_PLATFORM_H_
