/* A stand-in for libwebview.dll with the same C entry points, for the roads
 * Wine can't reach with the real library (it has no WebView2 runtime): it
 * opens a plain top-level window, applies title and size, and records every
 * call, one line each, in the file ORBEX_TEST_WEBVIEW_REPORT names.
 * ORBEX_TEST_WEBVIEW_FAIL=create makes webview_create answer null as the
 * real library does without a browser runtime. */
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#define EXPORT __declspec(dllexport)

static const wchar_t window_class[] = L"OrbexWebviewStandIn";

static void record(const char* format, ...) {
    wchar_t where[1024];
    if (!GetEnvironmentVariableW(L"ORBEX_TEST_WEBVIEW_REPORT", where, 1024))
        return;
    FILE* out = _wfopen(where, L"ab");
    if (out == NULL)
        return;
    va_list values;
    va_start(values, format);
    vfprintf(out, format, values);
    va_end(values);
    fputc('\n', out);
    fclose(out);
}

static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

EXPORT void* webview_create(int debug, void* parent) {
    record("create debug=%d parent=%d", debug, parent != NULL);
    wchar_t fail[32] = L"";
    GetEnvironmentVariableW(L"ORBEX_TEST_WEBVIEW_FAIL", fail, 32);
    if (wcscmp(fail, L"create") == 0)
        return NULL;

    WNDCLASSEXW type;
    memset(&type, 0, sizeof type);
    type.cbSize = sizeof type;
    type.lpfnWndProc = window_procedure;
    type.hInstance = GetModuleHandleW(NULL);
    type.lpszClassName = window_class;
    type.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    RegisterClassExW(&type);
    HWND window = CreateWindowExW(0, window_class, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 640, 480, NULL, NULL, type.hInstance, NULL);
    if (window == NULL)
        return NULL;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}

EXPORT int webview_destroy(void* view) {
    record("destroy");
    if (IsWindow((HWND)view))
        DestroyWindow((HWND)view);
    return 0;
}

EXPORT int webview_run(void* view) {
    (void)view;
    record("run");
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    record("run returned");
    return 0;
}

/* Called on the window's own thread, as the real library allows. */
EXPORT int webview_terminate(void* view) {
    (void)view;
    record("terminate");
    PostQuitMessage(0);
    return 0;
}

EXPORT int webview_set_title(void* view, const char* title) {
    record("title=%s", title);
    wchar_t wide[512];
    if (MultiByteToWideChar(CP_UTF8, 0, title, -1, wide, 512) > 0)
        SetWindowTextW((HWND)view, wide);
    return 0;
}

EXPORT int webview_set_size(void* view, int width, int height, int hint) {
    record("size=%dx%d hint=%d", width, height, hint);
    SetWindowPos((HWND)view, NULL, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    return 0;
}

EXPORT int webview_navigate(void* view, const char* url) {
    (void)view;
    record("navigate=%s", url);
    return 0;
}
