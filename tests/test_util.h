// Helpers shared by the test suites: temporary folders, captured output, child processes.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

// A new empty folder under the system's temporary folder.
std::filesystem::path makeTempDir(const std::string& stem);

// Runs `fn` with the process's standard output sent to a string.
std::string captureStdout(const std::function<void()>& fn);

struct CommandResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a shell command line in `dir` (when not empty) with `env` prepended (e.g. "A=1 B=2").
CommandResult runCommand(const std::string& commandLine, const std::string& dir = "");

std::string readFile(const std::filesystem::path& path);
