// The sound-system API: module handles, play handles, volume and sync callbacks, over three
// outputs that sit behind it side by side: the SDL audio device, a silent real-time output
// for machines without sound, and rendering in step with the host's virtual clock.
#include "midas.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <libopenmpt/libopenmpt.hpp>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host.h"
#include "midas_player.h"

namespace {

using midas::kChunkFrames;
using midas::kSampleRate;

enum class Output { none, device, silent, virtualClock };

struct Playing {
    std::unique_ptr<midas::Playback> playback;
    const MIDASmoduleRecord* module = nullptr;
    MIDASmodulePlayHandle handle = 0;
    MIDASsyncCallback callback = nullptr;
};

struct State {
    // Guards everything below that the playback thread touches. Recursive, so that a sync
    // callback may call back into the API (a volume change, say) from the playback thread.
    std::recursive_mutex lock;

    bool started = false;
    bool initialised = false;
    Output output = Output::none;
    // Counts sessions (MIDASinit to MIDASclose); host listeners and hooks carry the session
    // they were registered for, since the host cannot take them back.
    std::uintptr_t session = 0;

    SDL_AudioDeviceID device = 0;
    std::thread silentThread;
    std::atomic<bool> silentRun{false};

    bool backgroundPlay = false;
    std::atomic<std::int64_t> position{0};  // frames rendered since background play began
    std::int64_t virtualLast = 0;           // show time the virtual output has reached

    std::set<MIDASmoduleRecord*> modules;
    std::unique_ptr<Playing> playing;
    MIDASmodulePlayHandle lastHandle = 0;
    std::atomic<unsigned> volume{64};

    MIDASsyncObserver observer = nullptr;
    void* observerContext = nullptr;

    bool keepAudio = false;
    std::vector<std::int16_t> kept;  // interleaved stereo from show time 0

    std::string lastError;

    ~State();
};

State g;

void stopSilentThread() {
    g.silentRun.store(false);
    if (g.silentThread.joinable()) g.silentThread.join();
}

State::~State() {
    // A process that leaves without closing the sound layer must not leave a thread behind
    // that still reaches into this state.
    if (device != 0) SDL_CloseAudioDevice(device);
    device = 0;
    silentRun.store(false);
    if (silentThread.joinable()) silentThread.join();
}

BOOL fail(const std::string& why) {
    g.lastError = why;
    return FALSE;
}

void* sessionContext() {
    return reinterpret_cast<void*>(g.session);
}

// Hands the sync commands of a row to the show's callback and the observer. Runs with the
// lock held; the callback may stop the song, and then the rest of the row is dropped.
void deliver(const std::vector<midas::SyncEvent>& events) {
    for (const midas::SyncEvent& e : events) {
        if (!g.playing) return;
        const MIDASmodulePlayHandle handle = g.playing->handle;
        if (g.playing->callback) g.playing->callback(e.value, e.order, e.row);
        if (g.observer) g.observer(e.value, g.observerContext);
        if (!g.playing || g.playing->handle != handle) return;
    }
}

// Renders one chunk (at most kChunkFrames) of background play; the lock must be held.
void renderChunk(std::int16_t* out, std::size_t frames) {
    std::vector<midas::SyncEvent> events;
    if (g.playing) {
        // Music that goes to no speaker and into no recording is rendered in draft quality.
        const bool heard =
            g.output == Output::device || (g.output == Output::virtualClock && g.keepAudio);
        g.playing->playback->setDraft(!heard);
        g.playing->playback->render(out, frames, g.volume.load(), &events);
    } else {
        std::fill(out, out + frames * 2, std::int16_t(0));
    }
    g.position.fetch_add(std::int64_t(frames));
    if (!events.empty()) deliver(events);
}

void renderLocked(std::int16_t* out, std::size_t frames) {
    for (std::size_t done = 0; done < frames;) {
        const std::size_t n = std::min(kChunkFrames, frames - done);
        if (g.backgroundPlay)
            renderChunk(out + done * 2, n);
        else
            std::fill(out + done * 2, out + (done + n) * 2, std::int16_t(0));
        done += n;
    }
}

// --- live output: the audio device ------------------------------------------------------------
void SDLCALL deviceCallback(void*, Uint8* stream, int length) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    renderLocked(reinterpret_cast<std::int16_t*>(stream), std::size_t(length) / 4);
}

// While SDL probes its audio backends, their libraries (ALSA's above all) print their own
// complaints on standard error; the sound layer says what happened in one line of its own.
class QuietStderr {
  public:
    QuietStderr() {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
        if (null >= 0) close(null);
    }
    ~QuietStderr() {
        if (saved_ < 0) return;
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

  private:
    int saved_ = -1;
};

bool openDevice(std::string* why) {
    QuietStderr quiet;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        *why = SDL_GetError();
        return false;
    }
    SDL_AudioSpec want{};
    want.freq = kSampleRate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 512;
    want.callback = deviceCallback;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the device really takes.
    g.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (g.device == 0) {
        *why = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    return true;
}

void closeDevice() {
    if (g.device == 0) return;
    SDL_CloseAudioDevice(g.device);
    g.device = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// --- live output without a device: silence, paced by the steady clock -------------------------
void silentLoop() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    std::int64_t rendered = 0;
    std::int16_t buffer[kChunkFrames * 2];
    while (g.silentRun.load()) {
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        const std::int64_t due = elapsed * kSampleRate / 1000000000;
        while (rendered < due && g.silentRun.load()) {
            std::lock_guard<std::recursive_mutex> hold(g.lock);
            renderLocked(buffer, kChunkFrames);
            rendered += std::int64_t(kChunkFrames);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// --- virtual output: rendered as the host's clock moves ---------------------------------------
void keepFrames(std::int64_t from, const std::int16_t* data, std::size_t frames) {
    const std::int64_t have = std::int64_t(g.kept.size() / 2);
    // The clock only runs backwards when the host was set up anew: start a fresh recording.
    if (have > from) g.kept.clear();
    g.kept.resize(std::size_t(from) * 2, 0);
    g.kept.insert(g.kept.end(), data, data + frames * 2);
}

void onClock(std::int64_t now, void* context) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    if (context != sessionContext() || !g.initialised) return;
    std::int64_t from = g.virtualLast;
    g.virtualLast = now;
    if (now < from) from = now;
    std::int16_t buffer[kChunkFrames * 2];
    while (from < now) {
        const std::size_t n = std::size_t(std::min<std::int64_t>(kChunkFrames, now - from));
        renderLocked(buffer, n);
        if (g.keepAudio) keepFrames(from, buffer, n);
        from += std::int64_t(n);
    }
}

// --- shared steps of the API ----------------------------------------------------------------
void stopBackground() {
    Output output;
    {
        std::lock_guard<std::recursive_mutex> hold(g.lock);
        if (!g.backgroundPlay) return;
        g.backgroundPlay = false;
        output = g.output;
    }
    // Outside the lock: the playback thread may be waiting for it while the device lock or
    // the join waits for that thread.
    if (output == Output::device && g.device != 0) SDL_PauseAudioDevice(g.device, 1);
    if (output == Output::silent) stopSilentThread();
}

void closeAll() {
    stopBackground();
    SDL_AudioDeviceID device;
    {
        std::lock_guard<std::recursive_mutex> hold(g.lock);
        g.playing.reset();
        for (MIDASmoduleRecord* m : g.modules) delete m;
        g.modules.clear();
        g.initialised = false;
        g.output = Output::none;
        ++g.session;
        device = g.device;
    }
    if (device != 0) closeDevice();
}

void onShutdown(void* context) {
    if (context == sessionContext() && g.initialised) closeAll();
}

bool readFile(const char* fileName, std::vector<char>* bytes, std::string* why) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName, "rb"), std::fclose);
    if (!file) {
        *why = std::strerror(errno);
        return false;
    }
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes->insert(bytes->end(), buffer, buffer + n);
    // A folder opens like a file on this system and fails only at the first read.
    if (std::ferror(file.get())) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

BOOL MIDASstartup(void) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    g.started = true;
    return TRUE;
}

BOOL MIDASinit(void) {
    if (!g.started) return fail("MIDASinit called before MIDASstartup");
    if (g.initialised) return fail("the sound system is already initialised");
    ++g.session;
    if (hostIsVirtual()) {
        g.output = Output::virtualClock;
        g.virtualLast = hostNow();
        hostAddClockListener(onClock, sessionContext());
    } else {
        std::string why;
        if (openDevice(&why)) {
            g.output = Output::device;
        } else {
            g.output = Output::silent;
            std::fprintf(stderr,
                         "sound: no usable audio device (%s); the music plays on in silence\n",
                         why.c_str());
        }
    }
    hostAddShutdownHook(onShutdown, sessionContext());
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    g.initialised = true;
    return TRUE;
}

MIDASmodule MIDASloadModule(const char* fileName) {
    if (!g.started) {
        fail("MIDASloadModule called before MIDASstartup");
        return nullptr;
    }
    if (!fileName || !*fileName) {
        fail("no module file name");
        return nullptr;
    }
    auto record = std::make_unique<MIDASmoduleRecord>();
    std::string why;
    if (!readFile(fileName, &record->bytes, &why)) {
        fail("cannot read the file (" + why + ")");
        return nullptr;
    }
    auto table = std::make_shared<midas::SyncTable>();
    if (!midas::openModule(record->bytes, table.get(), &why)) {
        fail(why);
        return nullptr;
    }
    record->sync = std::move(table);
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    g.modules.insert(record.get());
    return record.release();
}

MIDASmodulePlayHandle MIDASplayModule(MIDASmodule module, BOOL loopSong) {
    if (!g.initialised) return fail("MIDASplayModule called before MIDASinit");
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    if (!module || !g.modules.count(module)) return fail("MIDASplayModule: not a loaded module");
    midas::SyncTable unused;
    std::string why;
    auto parsed = midas::openModule(module->bytes, &unused, &why);
    if (!parsed) return fail("MIDASplayModule: " + why);
    auto playing = std::make_unique<Playing>();
    playing->playback =
        std::make_unique<midas::Playback>(std::move(parsed), module->sync, loopSong != 0);
    playing->module = module;
    if (++g.lastHandle == 0) ++g.lastHandle;
    playing->handle = g.lastHandle;
    // One song plays at a time: a new one replaces the old.
    g.playing = std::move(playing);
    g.volume.store(64);
    return g.lastHandle;
}

BOOL MIDASsetMusicSyncCallback(MIDASmodulePlayHandle playHandle, MIDASsyncCallback callback) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    if (!g.playing || g.playing->handle != playHandle)
        return fail("MIDASsetMusicSyncCallback: not a playing song");
    g.playing->callback = callback;
    return TRUE;
}

BOOL MIDASsetMusicVolume(MIDASmodulePlayHandle playHandle, unsigned volume) {
    if (volume > 64)
        return fail("MIDASsetMusicVolume: volume " + std::to_string(volume) +
                    " is outside 0 to 64");
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    if (!g.playing || g.playing->handle != playHandle)
        return fail("MIDASsetMusicVolume: not a playing song");
    g.volume.store(volume);
    return TRUE;
}

BOOL MIDASstartBackgroundPlay(DWORD) {
    Output output;
    {
        std::lock_guard<std::recursive_mutex> hold(g.lock);
        if (!g.initialised) return fail("MIDASstartBackgroundPlay called before MIDASinit");
        if (g.backgroundPlay) return TRUE;
        g.backgroundPlay = true;
        g.position.store(0);
        if (g.output == Output::virtualClock) g.virtualLast = hostNow();
        output = g.output;
    }
    if (output == Output::device) SDL_PauseAudioDevice(g.device, 0);
    if (output == Output::silent) {
        g.silentRun.store(true);
        g.silentThread = std::thread(silentLoop);
    }
    return TRUE;
}

BOOL MIDASstopModule(MIDASmodulePlayHandle playHandle) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    if (!g.playing || g.playing->handle != playHandle)
        return fail("MIDASstopModule: not a playing song");
    g.playing.reset();
    return TRUE;
}

BOOL MIDASfreeModule(MIDASmodule module) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    if (!module || !g.modules.count(module)) return fail("MIDASfreeModule: not a loaded module");
    if (g.playing && g.playing->module == module) g.playing.reset();
    g.modules.erase(module);
    delete module;
    return TRUE;
}

BOOL MIDASstopBackgroundPlay(void) {
    if (!g.initialised) return fail("MIDASstopBackgroundPlay called before MIDASinit");
    stopBackground();
    return TRUE;
}

BOOL MIDASclose(void) {
    if (!g.initialised) return fail("MIDASclose called before MIDASinit");
    closeAll();
    return TRUE;
}

// --- extensions ------------------------------------------------------------------------------
void MIDASextSetSyncObserver(MIDASsyncObserver fn, void* context) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    g.observer = fn;
    g.observerContext = context;
}

void MIDASextKeepAudio(bool keep) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    g.keepAudio = keep;
    g.kept.clear();
}

const std::int16_t* MIDASextAudio(std::size_t* frames) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    // Whatever the clock passed after the output stopped listening was silence.
    if (g.keepAudio && hostIsVirtual()) {
        const std::int64_t now = hostNow();
        if (std::int64_t(g.kept.size() / 2) < now) g.kept.resize(std::size_t(now) * 2, 0);
    }
    if (frames) *frames = g.kept.size() / 2;
    return g.kept.data();
}

const char* MIDASextLastError(void) {
    return g.lastError.c_str();
}

std::int64_t MIDASextPlayPosition(void) {
    return g.position.load();
}

unsigned MIDASextMusicVolume(void) {
    return g.volume.load();
}

unsigned MIDASextSyncCommandCount(MIDASmodule module, unsigned value) {
    std::lock_guard<std::recursive_mutex> hold(g.lock);
    if (!module || !g.modules.count(module) || !module->sync) return 0;
    unsigned count = 0;
    for (const auto& pattern : *module->sync)
        for (const auto& row : pattern)
            for (std::uint8_t command : row) count += command == value;
    return count;
}
