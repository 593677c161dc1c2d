// Helpers shared by the test suites: temporary folders, captured output, child processes.
#include "test_util.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

fs::path makeTempDir(const std::string& stem) {
    static std::atomic<int> counter{0};
    for (;;) {
        const fs::path p =
            fs::temp_directory_path() /
            ("tarnovel-" + stem + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(p, ec)) return p;
    }
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string captureStdout(const std::function<void()>& fn) {
    std::fflush(stdout);
    const fs::path dir = makeTempDir("stdout");
    const fs::path file = dir / "out.txt";
    const int saved = dup(STDOUT_FILENO);
    std::FILE* f = std::fopen(file.c_str(), "w");
    dup2(fileno(f), STDOUT_FILENO);
    fn();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::fclose(f);
    std::string text = readFile(file);
    fs::remove_all(dir);
    return text;
}

CommandResult runCommand(const std::string& commandLine, const std::string& dir) {
    const fs::path tmp = makeTempDir("cmd");
    std::string line = "cd '" + (dir.empty() ? fs::current_path().string() : dir) + "' && " +
                       commandLine + " >'" + (tmp / "out").string() + "' 2>'" +
                       (tmp / "err").string() + "' </dev/null";
    const int raw = std::system(line.c_str());
    CommandResult result;
    if (WIFEXITED(raw))
        result.status = WEXITSTATUS(raw);
    else if (WIFSIGNALED(raw))
        result.status = 128 + WTERMSIG(raw);
    result.out = readFile(tmp / "out");
    result.err = readFile(tmp / "err");
    fs::remove_all(tmp);
    return result;
}
