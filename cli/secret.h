#ifndef CLI_SECRET_H
#define CLI_SECRET_H

#include <optional>
#include <string>

namespace cli {

// Where a password comes from. Never from the command line: other users
// can read a process's arguments.
struct SecretSource {
    std::optional<std::string> file; // its first line
    const char* environmentVariable; // used when set, also when empty
    const char* prompt;              // asked without echo when stdin is a terminal
    bool confirm = false;            // a typed secret is asked twice
};

// The secret, or nothing with the reason in error. The caller wipes it
// (WipeSecret) when done.
std::optional<std::string> ReadSecret(const SecretSource& source, std::string& error);

} // namespace cli

#endif
