// Video export of the show through Debian's ffmpeg, one frame per retrace tick, with its music.
//
// Pictures and music are encoded while the show runs and put together into one file when the
// show is over.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "record_output.h"

// The full path of an executable program found on the PATH, or "" when there is none.
std::string findProgram(const std::string& name);

class VideoExport {
  public:
    VideoExport() = default;
    VideoExport(const VideoExport&) = delete;
    VideoExport& operator=(const VideoExport&) = delete;
    ~VideoExport();

    // Starts the picture and sound encoders for `outFile`. False and `error` when ffmpeg is
    // missing or does not start.
    bool start(const std::string& outFile, record::VideoFormat format, int scale,
               std::string* error);
    bool active() const { return video_.pid > 0; }
    std::int64_t frames() const { return frames_; }

    // Sends the picture of the next retrace tick (640x480 RGB565, row 0 at the top). False and
    // `error` when the encoder has stopped taking pictures.
    bool addFrame(const std::uint16_t* screen, std::string* error);

    // The show's sound from show time 0 (interleaved stereo at 48 kHz), the first `frames`
    // sample frames of it so far. What was not sent yet goes to the encoder once there is a
    // tenth of a second of it, or at once with `all`.
    bool addAudio(const std::int16_t* audio, std::size_t frames, bool all, std::string* error);

    // Ends pictures and sound (the sound padded with silence to the pictures' length) and
    // writes the video file.
    bool finish(std::string* error);

    // Stops the encoder and removes every file the export made.
    void abandon();

  private:
    // One ffmpeg that reads a stream on its standard input through a pipe.
    struct Encoder {
        pid_t pid = -1;
        int pipe = -1;
    };
    std::vector<std::string> videoArguments() const;
    std::vector<std::string> audioArguments() const;
    std::vector<std::string> muxArguments() const;
    bool startEncoder(Encoder* encoder, const std::vector<std::string>& args, std::string* error);
    bool endEncoder(Encoder* encoder);
    std::string ffmpegLog() const;
    void removeParts() const;

    std::string ffmpeg_;
    std::string outFile_;
    std::string videoPart_;
    std::string audioPart_;
    record::VideoFormat format_ = record::VideoFormat::none;
    int scale_ = 1;
    Encoder video_;
    Encoder audio_;
    int log_ = -1;
    std::int64_t frames_ = 0;
    std::int64_t audioFrames_ = 0;
    std::vector<std::uint16_t> lastScreen_;
    std::vector<std::uint8_t> picture_;
};
