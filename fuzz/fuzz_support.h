// Shared by the fuzz targets: the loaders read named files, so each input is written to a file
// in a private scratch folder (in memory when /dev/shm exists) before the loader sees it.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzzing {

// The scratch folder of this process, made on first use and removed at exit. Kept on the heap
// so that it outlives every static destructor the exit handler might run after.
inline const std::string& scratchDir() {
    static const std::string* dir = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        auto* path = new std::string(std::string(base ? base : "/tmp") + "/tarnovel-fuzz-XXXXXX");
        if (!mkdtemp(path->data())) {
            std::perror("fuzz: cannot make a scratch folder");
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(*dir, ignored);
        });
        return path;
    }();
    return *dir;
}

// Writes `data` to `name` inside the scratch folder and returns the file's full path.
inline std::string writeInput(const char* name, const std::uint8_t* data, std::size_t size) {
    const std::string path = scratchDir() + "/" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::perror("fuzz: cannot write the input file");
        std::abort();
    }
    if (size && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    return path;
}

}  // namespace fuzzing
