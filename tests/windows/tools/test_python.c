/* A stand-in for the game's Python interpreter on Windows: started by
 * Morvane.exe as `python.exe "<script>" --no-browser`, it reports how it was
 * started and then behaves as the test asks through ORBEX_TEST_HOST_MODE:
 *   serve  (default) listen on 127.0.0.1, write the port to launcher.port in
 *          the working folder, and accept connections until ended;
 *   slow   serve, but only after a second, as a host busy starting up;
 *   silent never listen, never write launcher.port, just stay.
 * The report (UTF-8, one "key=value" line each) goes to the file that
 * ORBEX_TEST_HOST_REPORT names. */
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <stdio.h>
#include <string.h>

static void put_utf8(FILE* out, const char* key, const wchar_t* value) {
    char text[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof text, NULL, NULL);
    fprintf(out, "%s=%s\n", key, n > 0 ? text : "");
}

static void report(void) {
    wchar_t where[1024];
    wchar_t value[1024];
    if (!GetEnvironmentVariableW(L"ORBEX_TEST_HOST_REPORT", where, 1024))
        return;
    FILE* out = _wfopen(where, L"ab");
    if (out == NULL)
        return;
    fprintf(out, "pid=%lu\n", (unsigned long)GetCurrentProcessId());
    put_utf8(out, "command_line", GetCommandLineW());
    GetModuleFileNameW(NULL, value, 1024);
    put_utf8(out, "program", value);
    GetCurrentDirectoryW(1024, value);
    put_utf8(out, "cwd", value);
    fprintf(out, "console=%d\n", GetConsoleWindow() != NULL);
    fprintf(out, "end=1\n");
    fclose(out);
}

static int serve(void) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 3;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    int size = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, (struct sockaddr*)&address, &size) != 0) {
        return 3;
    }
    /* Written to a side file first, so the launcher never reads half a number. */
    FILE* port_file = fopen("launcher.port.new", "wb");
    if (port_file == NULL)
        return 3;
    fprintf(port_file, "%u\n", ntohs(address.sin_port));
    fclose(port_file);
    if (!MoveFileExW(L"launcher.port.new", L"launcher.port", MOVEFILE_REPLACE_EXISTING))
        return 3;
    for (;;) {
        SOCKET peer = accept(listener, NULL, NULL);
        if (peer != INVALID_SOCKET)
            closesocket(peer);
    }
}

int main(void) {
    report();
    wchar_t mode[64] = L"serve";
    GetEnvironmentVariableW(L"ORBEX_TEST_HOST_MODE", mode, 64);
    if (wcscmp(mode, L"silent") == 0) {
        Sleep(INFINITE);
        return 0;
    }
    if (wcscmp(mode, L"slow") == 0)
        Sleep(1000);
    return serve();
}
