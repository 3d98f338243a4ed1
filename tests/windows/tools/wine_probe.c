/* Looks at other Windows programs from inside the same Wine session:
 *   wine_probe box-text CAPTION    prints, one per line, "class|text" of each
 *                                  child control of the top-level dialog
 *                                  windows with that caption (exit 1: none)
 *   wine_probe exit-code PID MS    prints "watching" once it holds the
 *                                  process, then waits up to MS ms for it to
 *                                  end and prints its exit code (exit 1:
 *                                  still running; exit 3: no such process)
 *   wine_probe language            prints GetUserDefaultUILanguage in hex
 *   wine_probe clipboard TEXT      puts TEXT on the clipboard, as a user's
 *                                  copy would, for a paste into a program
 *   wine_probe replace PATH COUNT  writes COUNT status lines to PATH, each
 *                                  into PATH.tmp renamed over PATH as an
 *                                  installer would (the last says success);
 *                                  prints how many renames were refused and
 *                                  how many were given up
 *   wine_probe delete PATH COUNT   COUNT times writes PATH and deletes it;
 *                                  prints how many deletes were refused
 * Output is UTF-8. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static void print_utf8(const wchar_t* text) {
    char bytes[8192];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    fputs(n > 0 ? bytes : "", stdout);
}

static BOOL CALLBACK print_child(HWND child, LPARAM unused) {
    (void)unused;
    wchar_t class_name[256];
    wchar_t text[4096];
    GetClassNameW(child, class_name, 256);
    DWORD_PTR length = 0;
    text[0] = L'\0';
    if (SendMessageTimeoutW(child, WM_GETTEXT, 4096, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                            &length) == 0) {
        text[0] = L'\0';
    }
    print_utf8(class_name);
    fputs("|", stdout);
    print_utf8(text);
    fputs("\n", stdout);
    return TRUE;
}

struct Search {
    const wchar_t* caption;
    int found;
};

static BOOL CALLBACK visit_top_level(HWND window, LPARAM context) {
    struct Search* search = (struct Search*)context;
    wchar_t class_name[256];
    wchar_t caption[1024];
    GetClassNameW(window, class_name, 256);
    GetWindowTextW(window, caption, 1024);
    if (wcscmp(class_name, L"#32770") == 0 && wcscmp(caption, search->caption) == 0 &&
        IsWindowVisible(window)) {
        search->found = 1;
        EnumChildWindows(window, print_child, 0);
    }
    return TRUE;
}

/* Writes the i-th of `count` status lines to `path` in one write; the last
 * says success. */
static BOOL write_status(const wchar_t* path, unsigned long i, unsigned long count) {
    char line[64];
    int size = i == count ? snprintf(line, sizeof line, "success\t5\t5\tdone\n")
                          : snprintf(line, sizeof line, "working\t%lu\t5\tstep %lu\n", i % 5, i);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL ok = WriteFile(file, line, (DWORD)size, &written, NULL) && written == (DWORD)size;
    return CloseHandle(file) && ok;
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && wcscmp(argv[1], L"box-text") == 0) {
        struct Search search = {argv[2], 0};
        EnumWindows(visit_top_level, (LPARAM)&search);
        return search.found ? 0 : 1;
    }
    if (argc == 4 && wcscmp(argv[1], L"exit-code") == 0) {
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                     (DWORD)wcstoul(argv[2], NULL, 10));
        if (process == NULL)
            return 3;
        puts("watching");
        fflush(stdout);
        if (WaitForSingleObject(process, (DWORD)wcstoul(argv[3], NULL, 10)) != WAIT_OBJECT_0)
            return 1;
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        printf("%lu\n", (unsigned long)code);
        return 0;
    }
    if (argc == 2 && wcscmp(argv[1], L"language") == 0) {
        printf("%04x\n", GetUserDefaultUILanguage());
        return 0;
    }
    if (argc == 3 && wcscmp(argv[1], L"clipboard") == 0) {
        size_t bytes = (wcslen(argv[2]) + 1) * sizeof(wchar_t);
        HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (copy == NULL)
            return 1;
        memcpy(GlobalLock(copy), argv[2], bytes);
        GlobalUnlock(copy);
        if (!OpenClipboard(NULL))
            return 1;
        EmptyClipboard();
        BOOL set = SetClipboardData(CF_UNICODETEXT, copy) != NULL;
        CloseClipboard();
        return set ? 0 : 1;
    }
    if (argc == 4 && wcscmp(argv[1], L"replace") == 0) {
        wchar_t temp[MAX_PATH];
        if (swprintf(temp, MAX_PATH, L"%ls.tmp", argv[2]) < 0)
            return 2;
        unsigned long count = wcstoul(argv[3], NULL, 10), refused = 0, lost = 0;
        for (unsigned long i = 1; i <= count; ++i) {
            if (!write_status(temp, i, count))
                return 2;
            /* Windows replaces no file that is open, whatever its sharing:
             * a rename that meets a read is tried again, as a caller must. */
            int tries = 0;
            while (!MoveFileExW(temp, argv[2], MOVEFILE_REPLACE_EXISTING)) {
                ++refused;
                if (GetLastError() != ERROR_ACCESS_DENIED || ++tries == 200) {
                    ++lost;
                    break;
                }
                Sleep(1);
            }
        }
        printf("%lu %lu\n", refused, lost);
        return 0;
    }
    if (argc == 4 && wcscmp(argv[1], L"delete") == 0) {
        unsigned long count = wcstoul(argv[3], NULL, 10), refused = 0;
        for (unsigned long i = 1; i <= count; ++i) {
            if (!write_status(argv[2], i, count))
                return 2;
            DWORD error = DeleteFileW(argv[2]) ? 0 : GetLastError();
            if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
                ++refused;
        }
        printf("%lu\n", refused);
        return 0;
    }
    fputs(
        "usage: wine_probe box-text CAPTION | exit-code PID MS | language | clipboard TEXT |"
        " replace|delete PATH COUNT\n",
        stderr);
    return 2;
}
