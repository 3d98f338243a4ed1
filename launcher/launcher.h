#pragma once

// The whole run of the launcher, from start-up to the exit code: 0 after the
// browser window was closed, 1 after any failure message.
int run_launcher();
