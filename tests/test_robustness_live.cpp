// The live show under SDL's dummy drivers: the window closed during every kind of wait ends the
// show at once and cleanly, and keys that arrive in bursts, from the window or the terminal,
// are all taken in order. Each case runs in a child process of its own.
#include <gtest/gtest.h>

#include <SDL.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display.h"
#include "host.h"
#include "midas.h"
#include "music.h"
#include "screens.h"

namespace {

const char* waitName(HostWait kind) {
    switch (kind) {
        case HostWait::retrace:
            return "retrace wait";
        case HostWait::sleep:
            return "sleep";
        case HostWait::idle:
            return "cue spin";
        case HostWait::keyWaiting:
            return "wait for any key";
        case HostWait::keyRead:
            return "wait for Escape";
    }
    return "?";
}

HostWait closeAt;
bool closed = false;

// Closes the window, as the viewer would, at the first wait of the chosen kind. On the way
// to a key read it presses one key first, which closes the first contact page.
void onWait(HostWait kind, void*) {
    if (closed) return;
    if (kind == HostWait::keyWaiting && closeAt == HostWait::keyRead) {
        hostPushKey(' ');
        return;
    }
    if (kind != closeAt) return;
    closed = true;
    std::fprintf(stderr, "closing the window during the %s\n", waitName(kind));
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
}

// Registered before anything else, so it runs last on the way out.
void onShutdown(void*) {
    // The sound layer has been closed by its own hook if a second close fails.
    std::fprintf(stderr, "sound closed: %s\n", MIDASclose() ? "no" : "yes");
}

void useDummyDrivers() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// Starts the live show as the driver does (song playing, display open) and runs one entry
// with the window closed at the first wait of `kind`. Never returns.
[[noreturn]] void runLiveEntry(void (*entry)(), HostWait kind) {
    useDummyDrivers();
    if (chdir(TARNOVEL_ASSETS) != 0) std::exit(98);
    hostInitLive();
    hostAddShutdownHook(onShutdown, nullptr);
    closeAt = kind;
    hostAddWaitListener(onWait, nullptr);
    if (!MIDASstartup() || !MIDASinit()) std::exit(97);
    MIDASmodule song = MIDASloadModule("Zudavez.xm");
    playHandle = MIDASplayModule(song, TRUE);
    if (!playHandle || !MIDASsetMusicSyncCallback(playHandle, onMusicSync)) std::exit(96);
    if (!openDisplay()) std::exit(95);
    MIDASsetMusicVolume(playHandle, 64);
    MIDASstartBackgroundPlay(0);
    entry();
    std::fprintf(stderr, "the entry returned\n");
    std::exit(99);
}

class WindowClosed : public ::testing::Test {
  protected:
    // The show starts threads (audio); a fresh process per case keeps fork out of it.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(WindowClosed, DuringACueSpinEndsTheShowCleanly) {
    EXPECT_EXIT(runLiveEntry(showTitles, HostWait::idle),
                ::testing::ExitedWithCode(kHostExitWindowClosed),
                "during the cue spin\n(.|\n)*sound closed: yes");
}

TEST_F(WindowClosed, DuringARetraceWaitEndsTheShowCleanly) {
    EXPECT_EXIT(runLiveEntry(showContactPages, HostWait::retrace),
                ::testing::ExitedWithCode(kHostExitWindowClosed),
                "during the retrace wait\n(.|\n)*sound closed: yes");
}

TEST_F(WindowClosed, DuringASleepEndsTheShowCleanly) {
    EXPECT_EXIT(runLiveEntry(showContactPages, HostWait::sleep),
                ::testing::ExitedWithCode(kHostExitWindowClosed),
                "during the sleep\n(.|\n)*sound closed: yes");
}

TEST_F(WindowClosed, DuringTheWaitForAnyKeyEndsTheShowCleanly) {
    EXPECT_EXIT(runLiveEntry(showContactPages, HostWait::keyWaiting),
                ::testing::ExitedWithCode(kHostExitWindowClosed),
                "during the wait for any key\n(.|\n)*sound closed: yes");
}

TEST_F(WindowClosed, DuringTheWaitForEscapeEndsTheShowCleanly) {
    EXPECT_EXIT(runLiveEntry(showContactPages, HostWait::keyRead),
                ::testing::ExitedWithCode(kHostExitWindowClosed),
                "during the wait for Escape\n(.|\n)*sound closed: yes");
}

// --- keys in bursts ---------------------------------------------------------------------------

// Reads keys until `count` have come or the deadline passes, then checks that no more come.
// Exits 0 when they equal `expected`, 1 (after printing what came) otherwise.
[[noreturn]] void expectKeys(const std::vector<int>& expected) {
    std::vector<int> got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (got.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
        if (hostKeyWaiting())
            got.push_back(hostReadKey(0));
        else
            hostSleep(2);
    }
    hostSleep(50);
    while (hostKeyWaiting()) got.push_back(hostReadKey(0));
    if (got == expected) std::exit(0);
    std::fprintf(stderr, "expected %zu keys, got %zu:", expected.size(), got.size());
    for (int k : got) std::fprintf(stderr, " %d", k);
    std::fprintf(stderr, "\n");
    std::exit(1);
}

[[noreturn]] void terminalBurst() {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) std::exit(90);
    dup2(slave, STDIN_FILENO);
    hostInitLive();  // the terminal goes raw
    // An arrow key whose escape sequence straddles the 64th byte, function keys with
    // parameters, the control keys, and a lone Escape last.
    std::string burst(63, 'a');
    std::vector<int> expected(63, 'a');
    burst += "\x1b[A";
    for (int i = 0; i < 100; ++i) {
        burst += "xy";
        expected.push_back('x');
        expected.push_back('y');
    }
    burst += "\x1b[1;5C\x1bOP\r\x7f\t\x1b";
    expected.insert(expected.end(), {13, 8, 9, 27});
    if (write(master, burst.data(), burst.size()) != ssize_t(burst.size())) std::exit(91);
    expectKeys(expected);
}

[[noreturn]] void windowBurst() {
    useDummyDrivers();
    hostInitLive();
    if (!hostOpenWindow()) std::exit(92);
    std::vector<int> expected;
    for (int i = 0; i < 1000; ++i) {
        SDL_Event e{};
        if (i % 100 == 99) {
            e.type = SDL_KEYDOWN;
            e.key.keysym.sym = i % 200 == 99 ? SDLK_ESCAPE : SDLK_RETURN;
            expected.push_back(i % 200 == 99 ? 27 : 13);
        } else {
            e.type = SDL_TEXTINPUT;
            e.text.text[0] = char('A' + i % 26);
            expected.push_back('A' + i % 26);
        }
        if (SDL_PushEvent(&e) != 1) std::exit(93);
    }
    expectKeys(expected);
}

TEST(KeyBursts, FromTheTerminalAreTakenWholeAndInOrder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(terminalBurst(), ::testing::ExitedWithCode(0), "");
}

TEST(KeyBursts, FromTheWindowAreTakenWholeAndInOrder) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(windowBurst(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
