// Host layer core: the two clocks, every kind of wait, the key queue, listeners and the way out.
#include "host.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <thread>
#include <vector>

#include "host_internal.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn>
struct Listener {
    Fn fn;
    void* context;
};

struct HostState {
    bool initialised = false;
    bool virtualMode = false;
    std::thread::id mainThread;

    // Virtual clock.
    std::int64_t now = 0;
    std::vector<HostKeyEvent> script;
    std::size_t scriptNext = 0;
    std::int64_t limit = 0;  // 0: no limit

    // Live clock.
    Clock::time_point start;

    std::deque<int> keys;

    std::vector<Listener<HostClockListener>> clockListeners;
    std::vector<Listener<HostTickListener>> tickListeners;
    std::vector<Listener<HostEntryListener>> entryListeners;
    std::vector<Listener<HostSwapListener>> swapListeners;
    std::vector<Listener<HostWaitListener>> waitListeners;
    std::vector<Listener<HostShutdownHook>> shutdownHooks;

    double waitWall = 0.0;
    bool exiting = false;
    int exitStatus = -1;
};

HostState host;
std::atomic<int> interruptSignal{0};

// Virtual waits answer a key wait that has been blocked this long once the script is spent.
constexpr std::int64_t kKeyAnswerDelay = 3 * kHostSampleRate;
// How often a live wait services the window and the terminal.
constexpr auto kPumpInterval = std::chrono::milliseconds(2);

void onSignal(int signal) {
    if (interruptSignal.exchange(signal) != 0) {
        // A second interrupt while the first is still being handled: leave at once.
        hostTerminalRestore();
        _exit(128 + signal);
    }
}

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void checkInterrupt() {
    const int signal = interruptSignal.load();
    if (signal != 0) hostExit(signal == SIGINT ? kHostExitInterrupted : 128 + signal);
}

void beginWait(HostWait kind) {
    for (auto& l : host.waitListeners) l.fn(kind, l.context);
}

// Measures wall time spent inside a wait, for the recorder's drawing-cost figures.
struct WaitTimer {
    Clock::time_point begin = Clock::now();
    ~WaitTimer() { host.waitWall += std::chrono::duration<double>(Clock::now() - begin).count(); }
};

void deliverScriptedKeys() {
    while (host.scriptNext < host.script.size() && host.script[host.scriptNext].at <= host.now)
        host.keys.push_back(host.script[host.scriptNext++].key);
}

// Moves the virtual clock to `target` in steps of at most 1 ms, leaving ticks behind and
// letting the listeners (the sound layer, the recorder) follow each step.
void advanceTo(std::int64_t target) {
    while (host.now < target) {
        checkInterrupt();
        const std::int64_t old = host.now;
        const std::int64_t step = std::min<std::int64_t>(kHostMsSamples, target - old);
        host.now = old + step;
        // Ticks whose start lies in [old, now) are over: the picture shown during them is final.
        for (std::int64_t tick = (old + kHostTickSamples - 1) / kHostTickSamples;
             tick * kHostTickSamples < host.now; ++tick)
            for (auto& l : host.tickListeners) l.fn(tick, l.context);
        deliverScriptedKeys();
        for (auto& l : host.clockListeners) l.fn(host.now, l.context);
        if (host.limit > 0 && host.now > host.limit) {
            std::fprintf(stderr,
                         "tarnovel: the show ran past its time limit of %.1f s (a cue that "
                         "never came?); stopping.\n",
                         double(host.limit) / kHostSampleRate);
            hostExit(kHostExitTimeLimit);
        }
    }
}

std::int64_t liveNow() {
    const auto elapsed = Clock::now() - host.start;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() * kHostSampleRate /
           1000000000;
}

Clock::time_point liveTimeOf(std::int64_t samples) {
    return host.start + std::chrono::nanoseconds(samples * 1000000000 / kHostSampleRate);
}

// Services the window and the terminal until `deadline`, sleeping in short slices.
void liveWaitUntil(Clock::time_point deadline) {
    for (;;) {
        hostPump();
        const auto now = Clock::now();
        if (now >= deadline) return;
        const auto slice = std::min<Clock::duration>(deadline - now, kPumpInterval);
        std::this_thread::sleep_for(slice);
    }
}

void commonInit(bool virtualMode) {
    host = HostState{};
    host.initialised = true;
    host.virtualMode = virtualMode;
    host.mainThread = std::this_thread::get_id();
    host.start = Clock::now();
    interruptSignal.store(0);
    installSignalHandlers();
}

}  // namespace

void hostInitLive() {
    commonInit(false);
    hostTerminalInit();
}

void hostInitVirtual(const HostKeyEvent* script, std::size_t count, double maxSeconds) {
    commonInit(true);
    if (script && count) host.script.assign(script, script + count);
    host.limit = maxSeconds > 0 ? std::int64_t(maxSeconds * kHostSampleRate) : 0;
}

bool hostIsVirtual() {
    return host.virtualMode;
}

std::int64_t hostNow() {
    return host.virtualMode ? host.now : liveNow();
}

double hostNowSeconds() {
    return double(hostNow()) / kHostSampleRate;
}

std::int64_t hostTick() {
    return hostNow() / kHostTickSamples;
}

void hostRetraceWait(int ticks) {
    if (ticks < 1) ticks = 1;
    for (auto& l : host.swapListeners) l.fn(true, l.context);
    beginWait(HostWait::retrace);
    {
        WaitTimer timer;
        const std::int64_t target = (hostNow() / kHostTickSamples + ticks) * kHostTickSamples;
        if (host.virtualMode)
            advanceTo(target);
        else
            liveWaitUntil(liveTimeOf(target));
        checkInterrupt();
    }
    for (auto& l : host.swapListeners) l.fn(false, l.context);
}

void hostSleep(unsigned ms) {
    beginWait(HostWait::sleep);
    WaitTimer timer;
    if (host.virtualMode)
        advanceTo(host.now + std::int64_t(ms) * kHostMsSamples);
    else
        liveWaitUntil(Clock::now() + std::chrono::milliseconds(ms));
    checkInterrupt();
}

void hostIdle() {
    beginWait(HostWait::idle);
    WaitTimer timer;
    if (host.virtualMode) {
        advanceTo(host.now + kHostMsSamples);
        return;
    }
    // A live spin keeps the processor but services the window now and then.
    static Clock::time_point lastPump;
    const auto now = Clock::now();
    if (now - lastPump >= kPumpInterval) {
        lastPump = now;
        hostPump();
    }
    std::this_thread::yield();
    checkInterrupt();
}

bool hostKeyWaiting() {
    if (!host.virtualMode) hostPump();
    checkInterrupt();
    return !host.keys.empty();
}

void hostWaitKeyWaiting() {
    if (host.keys.empty()) beginWait(HostWait::keyWaiting);
    WaitTimer timer;
    const std::int64_t blockedSince = hostNow();
    while (host.keys.empty()) {
        if (host.virtualMode) {
            if (host.scriptNext >= host.script.size() && host.now - blockedSince >= kKeyAnswerDelay)
                host.keys.push_back(' ');
            else
                advanceTo(host.now + kHostMsSamples);
        } else {
            liveWaitUntil(Clock::now() + kPumpInterval);
        }
        checkInterrupt();
    }
}

int hostReadKey(int expected) {
    if (host.keys.empty()) beginWait(HostWait::keyRead);
    WaitTimer timer;
    const std::int64_t blockedSince = hostNow();
    while (host.keys.empty()) {
        if (host.virtualMode) {
            if (host.scriptNext >= host.script.size() && host.now - blockedSince >= kKeyAnswerDelay)
                host.keys.push_back(expected ? expected : ' ');
            else
                advanceTo(host.now + kHostMsSamples);
        } else {
            liveWaitUntil(Clock::now() + kPumpInterval);
        }
        checkInterrupt();
    }
    const int key = host.keys.front();
    host.keys.pop_front();
    return key;
}

void hostPushKey(int code) {
    host.keys.push_back(code);
}

bool hostGetCwd(char* buffer, std::size_t size) {
    if (!buffer || size == 0) return false;
    return getcwd(buffer, size) != nullptr;
}

bool hostChdir(const char* path) {
    return path && chdir(path) == 0;
}

void hostBeginEntry(const char* name) {
    for (auto& l : host.entryListeners) l.fn(name, l.context);
}

void hostAddClockListener(HostClockListener fn, void* context) {
    host.clockListeners.push_back({fn, context});
}
void hostAddTickListener(HostTickListener fn, void* context) {
    host.tickListeners.push_back({fn, context});
}
void hostAddEntryListener(HostEntryListener fn, void* context) {
    host.entryListeners.push_back({fn, context});
}
void hostAddSwapListener(HostSwapListener fn, void* context) {
    host.swapListeners.push_back({fn, context});
}
void hostAddWaitListener(HostWaitListener fn, void* context) {
    host.waitListeners.push_back({fn, context});
}

double hostWaitWallSeconds() {
    return host.waitWall;
}

void hostAddShutdownHook(HostShutdownHook fn, void* context) {
    host.shutdownHooks.push_back({fn, context});
}

void hostExit(int status) {
    if (!host.exiting) {
        host.exiting = true;
        host.exitStatus = status;
        for (auto it = host.shutdownHooks.rbegin(); it != host.shutdownHooks.rend(); ++it)
            it->fn(it->context);
        host.shutdownHooks.clear();
        hostCloseWindow();
        hostTerminalRestore();
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

int hostExitStatus() {
    return host.exiting ? host.exitStatus : -1;
}

bool hostOnMainThread() {
    return std::this_thread::get_id() == host.mainThread;
}

void hostKeyFromDevice(int code) {
    host.keys.push_back(code);
}

void hostRequestInterrupt(int signal) {
    interruptSignal.store(signal);
}
