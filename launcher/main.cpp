#include "launcher.h"

int main() {
    return run_launcher();
}
