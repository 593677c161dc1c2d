// Video export through ffmpeg: two encoders fed by pipes during the show, one muxer after it.
//
// Raw frames and raw sound go down two pipes to two ffmpeg encoders while the show runs; at the
// end a third ffmpeg copies both streams into one file.
#include "video_export.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace {

using record::VideoFormat;

constexpr int kSampleRate = 48000;
constexpr int kSamplesPerFrame = kSampleRate / record::kFramesPerSecond;

// The same bits from the same show: no time stamps, encoder versions or random identifiers in
// the files, and the encoders' thread count fixed rather than taken from the machine.
const std::vector<std::string> kBitExact = {"-map_metadata", "-1", "-fflags", "+bitexact"};
constexpr const char* kEncoderThreads = "2";

std::string formatName(VideoFormat format) {
    return format == VideoFormat::mp4 ? "mp4" : "matroska";
}

// Runs `args` (args[0] is the program's path) with its standard input from `in`, its output
// thrown away and its messages into `log`, in a process group of its own so that Ctrl+C in
// the terminal reaches the recorder alone, which then ends the export in order.
pid_t spawn(const std::vector<std::string>& args, int in, int log) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, log, STDERR_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return pid;
}

// Writes all of `size` bytes; false when the reader has gone.
bool writeAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

// Waits for a child; true when it ended with status 0.
bool succeeded(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (!path) return "";
    const std::string dirs = path;
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        std::size_t colon = dirs.find(':', pos);
        if (colon == std::string::npos) colon = dirs.size();
        const std::string dir = colon > pos ? dirs.substr(pos, colon - pos) : ".";
        const std::string candidate = dir + "/" + name;
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        pos = colon + 1;
    }
    return "";
}

VideoExport::~VideoExport() {
    abandon();
}

std::vector<std::string> VideoExport::videoArguments() const {
    const std::string size = std::to_string(record::kScreenWidth * scale_) + "x" +
                             std::to_string(record::kScreenHeight * scale_);
    const bool mp4 = format_ == VideoFormat::mp4;
    std::vector<std::string> a = {ffmpeg_,
                                  "-nostdin",
                                  "-hide_banner",
                                  "-loglevel",
                                  "error",
                                  "-f",
                                  "rawvideo",
                                  "-pixel_format",
                                  mp4 ? "yuv420p" : "rgb24",
                                  "-video_size",
                                  size,
                                  "-framerate",
                                  std::to_string(record::kFramesPerSecond),
                                  "-i",
                                  "pipe:0"};
    a.insert(a.end(), kBitExact.begin(), kBitExact.end());
    a.insert(a.end(), {"-flags:v", "+bitexact", "-threads", kEncoderThreads});
    if (mp4) {
        // The recorder converts to 4:2:0 itself (BT.601, limited range), once per new picture
        // rather than once per frame; the stream is tagged to match.
        a.insert(a.end(), {"-c:v", "libx264", "-preset", "veryfast", "-crf", "18", "-colorspace",
                           "smpte170m", "-color_primaries", "smpte170m", "-color_trc", "smpte170m",
                           "-color_range", "tv"});
    } else {
        // Lossless RGB: the decoded pictures are the recorder's frames, bit for bit. Unlike an
        // intra-only codec it codes the show's many repeated frames as near-empty ones.
        a.insert(a.end(), {"-c:v", "libx264rgb", "-qp", "0", "-preset", "veryfast"});
    }
    a.insert(a.end(), {"-f", formatName(format_), "-y", videoPart_});
    return a;
}

std::vector<std::string> VideoExport::audioArguments() const {
    std::vector<std::string> a = {ffmpeg_,     "-nostdin", "-hide_banner",
                                  "-loglevel", "error",    "-f",
                                  "s16le",     "-ar",      std::to_string(kSampleRate),
                                  "-ac",       "2",        "-i",
                                  "pipe:0"};
    a.insert(a.end(), kBitExact.begin(), kBitExact.end());
    a.insert(a.end(), {"-flags:a", "+bitexact"});
    if (format_ == VideoFormat::mp4)
        a.insert(a.end(), {"-c:a", "aac", "-b:a", "192k"});
    else
        a.insert(a.end(), {"-c:a", "flac"});
    // The same container as the video keeps the encoder's start-up delay on record, so that
    // the copy below still starts the sound at show time 0.
    a.insert(a.end(), {"-f", formatName(format_), "-y", audioPart_});
    return a;
}

std::vector<std::string> VideoExport::muxArguments() const {
    std::vector<std::string> a = {ffmpeg_, "-nostdin", "-hide_banner", "-loglevel", "error",
                                  "-i",    videoPart_, "-i",           audioPart_,  "-map",
                                  "0:v:0", "-map",     "1:a:0",        "-c",        "copy"};
    a.insert(a.end(), kBitExact.begin(), kBitExact.end());
    if (format_ == VideoFormat::mp4) a.insert(a.end(), {"-movflags", "+faststart"});
    a.insert(a.end(), {"-f", formatName(format_), "-y", outFile_});
    return a;
}

bool VideoExport::startEncoder(Encoder* encoder, const std::vector<std::string>& args,
                               std::string* error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        *error = std::string("cannot make a pipe to ffmpeg: ") + std::strerror(errno);
        return false;
    }
    // A pipe that holds a whole frame lets the show draw the next one while ffmpeg reads.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    encoder->pid = spawn(args, fds[0], log_);
    close(fds[0]);
    encoder->pipe = fds[1];
    if (encoder->pid <= 0) {
        *error = "cannot start \"" + ffmpeg_ + "\"";
        return false;
    }
    return true;
}

bool VideoExport::endEncoder(Encoder* encoder) {
    if (encoder->pipe >= 0) close(encoder->pipe);
    encoder->pipe = -1;
    const bool ok = encoder->pid > 0 && succeeded(encoder->pid);
    encoder->pid = -1;
    return ok;
}

bool VideoExport::start(const std::string& outFile, VideoFormat format, int scale,
                        std::string* error) {
    ffmpeg_ = findProgram("ffmpeg");
    if (ffmpeg_.empty()) {
        *error =
            "--out needs ffmpeg, which is not on the PATH; install Debian's ffmpeg package "
            "(sudo apt-get install ffmpeg, or make deps)";
        return false;
    }
    outFile_ = outFile;
    videoPart_ = outFile + ".part-video";
    audioPart_ = outFile + ".part-audio";
    format_ = format;
    scale_ = std::clamp(scale, 1, record::kMaxScale);
    const std::size_t pixels =
        std::size_t(record::kScreenWidth) * record::kScreenHeight * scale_ * scale_;
    picture_.assign(format_ == VideoFormat::mp4 ? pixels * 3 / 2 : pixels * 3, 0);
    lastScreen_.clear();
    frames_ = 0;
    audioFrames_ = 0;

    // A file that cannot be written is better found now than after the show.
    std::FILE* probe = std::fopen(outFile_.c_str(), "wb");
    if (!probe) {
        *error = "cannot write the video \"" + outFile + "\": " + std::strerror(errno);
        return false;
    }
    std::fclose(probe);

    // ffmpeg's messages go to an unnamed file, shown only when something fails.
    char logName[] = "/tmp/tarnovel-ffmpeg-XXXXXX";
    log_ = mkstemp(logName);
    if (log_ < 0) {
        *error = std::string("cannot make a temporary file for ffmpeg's messages: ") +
                 std::strerror(errno);
        abandon();
        return false;
    }
    unlink(logName);
    fcntl(log_, F_SETFD, FD_CLOEXEC);
    if (!startEncoder(&video_, videoArguments(), error) ||
        !startEncoder(&audio_, audioArguments(), error)) {
        abandon();
        return false;
    }
    return true;
}

bool VideoExport::addFrame(const std::uint16_t* screen, std::string* error) {
    if (!active()) return false;
    const std::size_t pixels = std::size_t(record::kScreenWidth) * record::kScreenHeight;
    // Where the show waits, the same picture stays on screen for many ticks: convert it once.
    if (lastScreen_.size() != pixels ||
        std::memcmp(lastScreen_.data(), screen, pixels * sizeof *screen) != 0) {
        lastScreen_.assign(screen, screen + pixels);
        if (format_ == VideoFormat::mp4)
            record::screenToYuv420(screen, scale_, picture_.data());
        else
            record::screenToRgb(screen, scale_, picture_.data());
    }
    if (!writeAll(video_.pipe, picture_.data(), picture_.size())) {
        endEncoder(&video_);
        *error = "ffmpeg stopped taking pictures" + ffmpegLog();
        abandon();
        return false;
    }
    ++frames_;
    return true;
}

bool VideoExport::addAudio(const std::int16_t* audio, std::size_t frames, bool all,
                           std::string* error) {
    if (!active()) return false;
    if (!audio || std::int64_t(frames) <= audioFrames_) return true;
    // The clock moves in steps of a millisecond: sending each would cost a write for every one.
    if (!all && std::int64_t(frames) - audioFrames_ < kSampleRate / 10) return true;
    const std::size_t from = std::size_t(audioFrames_);
    if (!writeAll(audio_.pipe, audio + from * 2, (frames - from) * 2 * sizeof *audio)) {
        endEncoder(&audio_);
        *error = "ffmpeg stopped taking the sound" + ffmpegLog();
        abandon();
        return false;
    }
    audioFrames_ = std::int64_t(frames);
    return true;
}

bool VideoExport::finish(std::string* error) {
    if (!active()) return false;
    // The sound lasts as long as the pictures: one tick is 800 samples.
    const std::int64_t wanted = frames_ * kSamplesPerFrame;
    if (audioFrames_ < wanted) {
        const std::vector<std::int16_t> silence(std::size_t(wanted - audioFrames_) * 2, 0);
        if (!writeAll(audio_.pipe, silence.data(), silence.size() * sizeof silence[0])) {
            *error = "ffmpeg stopped taking the sound" + ffmpegLog();
            abandon();
            return false;
        }
        audioFrames_ = wanted;
    }
    const bool pictures = endEncoder(&video_);
    const bool sound = endEncoder(&audio_);
    if (!pictures || !sound) {
        *error = std::string("ffmpeg could not encode the ") + (pictures ? "sound" : "pictures") +
                 ffmpegLog();
        abandon();
        return false;
    }
    if (frames_ == 0) {
        *error = "the show ended before its first frame; no video written";
        abandon();
        return false;
    }
    const pid_t mux = spawn(muxArguments(), -1, log_);
    if (mux <= 0 || !succeeded(mux)) {
        *error = "ffmpeg could not put pictures and sound together" + ffmpegLog();
        abandon();
        return false;
    }
    removeParts();
    close(log_);
    log_ = -1;
    // Done: nothing is left for abandon() to clean up.
    outFile_.clear();
    videoPart_.clear();
    audioPart_.clear();
    return true;
}

std::string VideoExport::ffmpegLog() const {
    if (log_ < 0) return "";
    std::string text;
    char buffer[4096];
    lseek(log_, 0, SEEK_SET);
    for (ssize_t n; (n = read(log_, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    // The end of the log says what went wrong.
    if (text.size() > 2000) text = "..." + text.substr(text.size() - 2000);
    return text.empty() ? "" : "; ffmpeg said:\n" + text;
}

void VideoExport::removeParts() const {
    std::error_code ec;
    if (!videoPart_.empty()) std::filesystem::remove(videoPart_, ec);
    if (!audioPart_.empty()) std::filesystem::remove(audioPart_, ec);
}

void VideoExport::abandon() {
    for (Encoder* e : {&video_, &audio_}) {
        if (e->pipe >= 0) close(e->pipe);
        e->pipe = -1;
        if (e->pid > 0) {
            kill(e->pid, SIGTERM);
            succeeded(e->pid);
        }
        e->pid = -1;
    }
    if (log_ >= 0) close(log_);
    log_ = -1;
    removeParts();
    // A failed export leaves no half-written video behind.
    if (!outFile_.empty()) {
        std::error_code ec;
        std::filesystem::remove(outFile_, ec);
        outFile_.clear();
    }
}
