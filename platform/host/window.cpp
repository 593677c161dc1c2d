// Host window: the front buffer in an SDL2 window, scaled to fit with the 4:3 aspect kept.
#include <SDL.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host.h"
#include "host_internal.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Window {
    bool videoTried = false;
    bool videoReady = false;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    std::vector<std::uint16_t> lastFrame = std::vector<std::uint16_t>(kWidth * kHeight, 0);
    bool fullscreen = false;
};

Window win;

void redraw() {
    if (!win.renderer) return;
    SDL_UpdateTexture(win.texture, nullptr, win.lastFrame.data(), kWidth * 2);
    SDL_SetRenderDrawColor(win.renderer, 0, 0, 0, 255);
    SDL_RenderClear(win.renderer);
    SDL_RenderCopy(win.renderer, win.texture, nullptr, nullptr);
    SDL_RenderPresent(win.renderer);
}

void toggleFullscreen() {
    if (!win.window) return;
    win.fullscreen = !win.fullscreen;
    SDL_SetWindowFullscreen(win.window, win.fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    redraw();
}

void handleKeyDown(const SDL_KeyboardEvent& key) {
    const SDL_Keycode sym = key.keysym.sym;
    const Uint16 mod = key.keysym.mod;
    if (sym == SDLK_F11 || ((sym == SDLK_RETURN || sym == SDLK_KP_ENTER) && (mod & KMOD_ALT))) {
        if (!key.repeat) toggleFullscreen();
        return;
    }
    if ((mod & KMOD_CTRL) && sym == SDLK_c) {
        hostRequestInterrupt(SIGINT);
        return;
    }
    // Printable characters come as text input (shift respected); these have no text.
    switch (sym) {
        case SDLK_ESCAPE:
            hostKeyFromDevice(27);
            break;
        case SDLK_RETURN:
        case SDLK_KP_ENTER:
            hostKeyFromDevice(13);
            break;
        case SDLK_BACKSPACE:
            hostKeyFromDevice(8);
            break;
        case SDLK_TAB:
            hostKeyFromDevice(9);
            break;
        default:
            break;
    }
}

}  // namespace

bool hostDisplayAvailable() {
    if (hostIsVirtual()) return true;
    if (!win.videoTried) {
        win.videoTried = true;
        win.videoReady = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        // Without a window system SDL falls back to drivers that draw nowhere; those count as
        // a display only when asked for by name.
        const char* driver = win.videoReady ? SDL_GetCurrentVideoDriver() : nullptr;
        const char* asked = SDL_getenv("SDL_VIDEODRIVER");
        if (driver && (!SDL_strcmp(driver, "offscreen") || !SDL_strcmp(driver, "dummy")) &&
            !(asked && !SDL_strcmp(asked, driver))) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            win.videoReady = false;
        }
    }
    return win.videoReady;
}

bool hostOpenWindow() {
    if (hostIsVirtual()) return true;
    if (win.window) return true;
    if (!hostDisplayAvailable()) return false;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    win.window =
        SDL_CreateWindow("Tarnovel", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kWidth * 3 / 2,
                         kHeight * 3 / 2, SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (!win.window) {
        std::fprintf(stderr, "tarnovel: cannot open a window: %s\n", SDL_GetError());
        return false;
    }
    // No vsync: the show paces itself on its own 60 Hz clock, whatever the monitor's rate.
    win.renderer = SDL_CreateRenderer(win.window, -1, SDL_RENDERER_ACCELERATED);
    if (!win.renderer) win.renderer = SDL_CreateRenderer(win.window, -1, SDL_RENDERER_SOFTWARE);
    if (win.renderer) {
        SDL_RenderSetLogicalSize(win.renderer, kWidth, kHeight);
        win.texture = SDL_CreateTexture(win.renderer, SDL_PIXELFORMAT_RGB565,
                                        SDL_TEXTUREACCESS_STREAMING, kWidth, kHeight);
    }
    if (!win.renderer || !win.texture) {
        std::fprintf(stderr, "tarnovel: cannot draw into the window: %s\n", SDL_GetError());
        hostCloseWindow();
        return false;
    }
    SDL_ShowCursor(SDL_DISABLE);
    SDL_StartTextInput();
    redraw();
    return true;
}

void hostPresent(const std::uint16_t* pixels) {
    if (hostIsVirtual() || !win.window || !pixels) return;
    std::memcpy(win.lastFrame.data(), pixels, win.lastFrame.size() * 2);
    redraw();
    hostPump();
}

void hostCloseWindow() {
    if (win.texture) SDL_DestroyTexture(win.texture);
    if (win.renderer) SDL_DestroyRenderer(win.renderer);
    if (win.window) SDL_DestroyWindow(win.window);
    win.texture = nullptr;
    win.renderer = nullptr;
    win.window = nullptr;
}

void hostPump() {
    hostTerminalPoll();
    if (!win.window) return;
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        switch (event.type) {
            case SDL_QUIT:
                hostExit(kHostExitWindowClosed);
            case SDL_KEYDOWN:
                handleKeyDown(event.key);
                break;
            case SDL_TEXTINPUT: {
                const auto* text = reinterpret_cast<const unsigned char*>(event.text.text);
                for (; *text; ++text)
                    if (*text >= 32 && *text < 127) hostKeyFromDevice(*text);
                break;
            }
            case SDL_WINDOWEVENT:
                if (event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                    event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                    redraw();
                break;
            default:
                break;
        }
    }
}
