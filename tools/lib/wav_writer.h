// Writing 16-bit stereo PCM WAV files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

bool writeWav(const std::string& path, const std::int16_t* interleaved, std::size_t frames,
              int rate);
