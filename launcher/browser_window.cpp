#include "browser_window.h"

namespace {

constexpr int hint_none = 0;  // WEBVIEW_HINT_NONE: width and height are a default size

template <typename Function>
void bind(void* library, const char* name, Function& target) {
    void* symbol = platform::browser_library_symbol(library, name);
    if (symbol == nullptr) {
        throw BrowserUnavailable(std::string("the browser library lacks ") + name);
    }
    target = reinterpret_cast<Function>(symbol);
}

// The library is loaded once per run, whoever asks first.
void* browser_library(const NativeString& library_folder) {
    static bool tried = false;
    static void* library = nullptr;
    if (!tried) {
        tried = true;
        library = platform::load_browser_library(library_folder);
    }
    return library;
}

}  // namespace

void preload_browser_library(const NativeString& library_folder) {
    browser_library(library_folder);
}

BrowserWindow::BrowserWindow(const NativeString& library_folder) {
    void* library = browser_library(library_folder);
    if (library == nullptr)
        throw BrowserUnavailable("the browser library can't be loaded");
    bind(library, "webview_create", api_.create);
    bind(library, "webview_destroy", api_.destroy);
    bind(library, "webview_run", api_.run);
    bind(library, "webview_terminate", api_.terminate);
    bind(library, "webview_set_title", api_.set_title);
    bind(library, "webview_set_size", api_.set_size);
    bind(library, "webview_navigate", api_.navigate);
    view_ = api_.create(0, nullptr);
    if (view_ == nullptr)
        throw BrowserUnavailable("no usable browser runtime");
}

BrowserWindow::~BrowserWindow() {
    api_.destroy(view_);
}

// The library reports some failures through its results; like the window
// itself, the launcher has nothing better to do with them than go on.
void BrowserWindow::set_title(const std::string& utf8_title) {
    api_.set_title(view_, utf8_title.c_str());
}

void BrowserWindow::set_size(int width, int height) {
    api_.set_size(view_, width, height, hint_none);
}

void BrowserWindow::navigate(const std::string& address) {
    api_.navigate(view_, address.c_str());
}

void BrowserWindow::run() {
    // The loop ends as after a close, and the launcher ends the host next.
    platform::on_stop_request([this] { api_.terminate(view_); });
    api_.run(view_);
    platform::on_stop_request(nullptr);
}
