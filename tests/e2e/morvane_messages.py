"""The texts of Morvane's message box, in English and in French, for every
test that runs the launcher (natively or under Wine)."""

MESSAGES = {
    "no_script": (
        "Morvane.exe is alone in this folder. Unzip the whole archive and keep Morvane.exe "
        "next to the launcher folder.",
        "Morvane.exe est seul dans ce dossier. D\u00e9compresse toute l'archive et garde "
        "Morvane.exe \u00e0 c\u00f4t\u00e9 du dossier launcher."),
    "no_python": (
        "Python cannot be found. The python folder of the archive is missing.",
        "Python est introuvable. Le dossier python de l'archive manque."),
    "start_failure": ("Python did not start: ", "Python n'a pas d\u00e9marr\u00e9 : "),
    "time_out": (
        "The launcher did not start. See launcher-error.txt.",
        "Le lanceur n'a pas d\u00e9marr\u00e9. Voir launcher-error.txt."),
    "webview": (
        "WebView2 cannot be found. Install the Microsoft Edge WebView2 runtime, then start "
        "Morvane.exe again.",
        "WebView2 est introuvable. Installez le runtime Microsoft Edge WebView2, puis relancez "
        "Morvane.exe."),
}


def message(name, french=False, detail=""):
    """The message's text; `detail` is what the launcher appends (the path of
    an interpreter that did not start)."""
    return MESSAGES[name][1 if french else 0] + detail
