#pragma once
// The embedded-browser window, over the webview library's C interface. The
// library is loaded at run time, so that a machine without it, or without a
// usable browser runtime, gets our message instead of a loader error.

#include <stdexcept>
#include <string>

#include "platform.h"

class BrowserUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Loads the browser library ahead of the first window, as the system's
// loader would load a linked library, so that its loading overlaps other
// waits. Whatever goes wrong is left for the window to report.
void preload_browser_library(const NativeString& library_folder);

class BrowserWindow {
public:
    // Makes the library's own top-level window, without developer tools.
    // Throws BrowserUnavailable when the library beside the program can't be
    // loaded (now or by an earlier preload) or can't make a window.
    explicit BrowserWindow(const NativeString& library_folder);
    ~BrowserWindow();
    BrowserWindow(const BrowserWindow&) = delete;
    BrowserWindow& operator=(const BrowserWindow&) = delete;

    void set_title(const std::string& utf8_title);
    void set_size(int width, int height);  // a default size; the window stays resizable
    void navigate(const std::string& address);
    // Returns when the user has closed the window, or at a stop request.
    void run();

private:
    using Handle = void*;
    struct Api {
        Handle (*create)(int debug, void* parent_window);
        int (*destroy)(Handle);
        int (*run)(Handle);
        int (*terminate)(Handle);
        int (*set_title)(Handle, const char*);
        int (*set_size)(Handle, int width, int height, int hint);
        int (*navigate)(Handle, const char*);
    };

    Api api_{};
    Handle view_ = nullptr;
};
