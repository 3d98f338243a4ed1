#include "messages.h"

namespace {

struct Texts {
    const NativeString::value_type* english;
    const NativeString::value_type* french;
};

// The program is named "Morvane.exe" in every message: that is the name the
// player knows from the archive, whatever the file is called here.
Texts texts_of(Message message) {
    switch (message) {
        case Message::no_script:
            return {MORVANE_TEXT(
                        "Morvane.exe is alone in this folder. Unzip the whole archive and keep "
                        "Morvane.exe next to the launcher folder."),
                    MORVANE_TEXT(
                        "Morvane.exe est seul dans ce dossier. D\u00e9compresse toute l'archive "
                        "et garde Morvane.exe \u00e0 c\u00f4t\u00e9 du dossier launcher.")};
        case Message::no_python:
            return {MORVANE_TEXT(
                        "Python cannot be found. The python folder of the archive is missing."),
                    MORVANE_TEXT("Python est introuvable. Le dossier python de l'archive manque.")};
        case Message::start_failure:
            return {MORVANE_TEXT("Python did not start: "),
                    MORVANE_TEXT("Python n'a pas d\u00e9marr\u00e9 : ")};
        case Message::time_out:
            return {MORVANE_TEXT("The launcher did not start. See launcher-error.txt."),
                    MORVANE_TEXT("Le lanceur n'a pas d\u00e9marr\u00e9. Voir launcher-error.txt.")};
        case Message::webview:
            break;
    }
    return {MORVANE_TEXT("WebView2 cannot be found. Install the Microsoft Edge WebView2 runtime, "
                         "then start Morvane.exe again."),
            MORVANE_TEXT("WebView2 est introuvable. Installez le runtime Microsoft Edge WebView2, "
                         "puis relancez Morvane.exe.")};
}

}  // namespace

NativeString localized_text(const NativeString::value_type* english,
                            const NativeString::value_type* french) {
    return platform::interface_language_is_french() ? french : english;
}

NativeString localized_message(Message message, const NativeString& detail) {
    const Texts texts = texts_of(message);
    NativeString text = localized_text(texts.english, texts.french);
    if (message == Message::start_failure)
        text += detail;
    return text;
}
