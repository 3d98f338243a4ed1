#pragma once
// The launcher's five failure messages, in English and French.

#include "platform.h"

enum class Message {
    no_script,      // no launcher_host.py beside the program
    no_python,      // no interpreter anywhere
    start_failure,  // the interpreter would not start; followed by its path
    time_out,       // the host never answered on its port
    webview,        // the browser window could not be made
};

// French or English by the user's interface language at this moment.
NativeString localized_text(const NativeString::value_type* english,
                            const NativeString::value_type* french);

// The message in the user's language, as it is shown; `detail` follows the
// start-failure text and is ignored by the others.
NativeString localized_message(Message message, const NativeString& detail = {});
