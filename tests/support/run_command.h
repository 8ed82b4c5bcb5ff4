// A command run as a user runs it from a shell: its standard output (with standard error, when the
// command redirects it) returned and shown, its exit status kept.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <iostream>
#include <string>

namespace quorvane::test {

inline std::string runCommand(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    for (std::array<char, 4096> chunk{}; pipe && std::fgets(chunk.data(), chunk.size(), pipe);)
        out += chunk.data();
    status = pipe != nullptr ? WEXITSTATUS(::pclose(pipe)) : -1;
    std::cout << "$ " << command << "\n" << out << "(exit " << status << ")\n";
    return out;
}

} // namespace quorvane::test
