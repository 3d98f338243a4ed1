#include "launcher.h"

#ifdef _WIN32
#include <windows.h>

// A windowed program: Windows starts it through WinMain, with no console.
// Nothing of the command line is read.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return run_launcher();
}
#else
int main() {
    return run_launcher();
}
#endif
