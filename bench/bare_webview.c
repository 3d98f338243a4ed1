/* The reference for Morvane's start: a bare window of the same webview
 * library, linked to it, on the page at the address of its only argument.
 * Built by bench/programs.py into its own temporary folder. */
#include <stdio.h>

typedef void* webview_t;
webview_t webview_create(int debug, void* window);
int webview_destroy(webview_t w);
int webview_run(webview_t w);
int webview_set_title(webview_t w, const char* title);
int webview_set_size(webview_t w, int width, int height, int hints);
int webview_navigate(webview_t w, const char* url);

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s ADDRESS\n", argv[0]);
        return 2;
    }
    webview_t view = webview_create(0, NULL);
    if (view == NULL) {
        return 1;
    }
    webview_set_title(view, "Morvane");
    webview_set_size(view, 1100, 780, 0);
    webview_navigate(view, argv[1]);
    webview_run(view);
    webview_destroy(view);
    return 0;
}
