#include "messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets the locale variables for one test; unset after it, as the tests' own
// environment does not depend on them.
struct LocaleEnvironment {
    LocaleEnvironment(const std::optional<std::string>& lc_all,
                      const std::optional<std::string>& lc_messages,
                      const std::optional<std::string>& lang,
                      const std::optional<std::string>& language = std::nullopt) {
        set("LC_ALL", lc_all);
        set("LC_MESSAGES", lc_messages);
        set("LANG", lang);
        set("LANGUAGE", language);
    }
    ~LocaleEnvironment() {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"})
            unsetenv(name);
    }
    static void set(const char* name, const std::optional<std::string>& value) {
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
};

using std::nullopt;

TEST(InterfaceLanguage, FirstSetNonEmptyVariableDecides) {
    const struct {
        std::optional<std::string> lc_all, lc_messages, lang;
        bool french;
    } cases[] = {
        {nullopt, nullopt, nullopt, false},
        {nullopt, nullopt, "fr_FR.UTF-8", true},
        {nullopt, nullopt, "fr", true},
        {nullopt, nullopt, "fr_CA", true},
        {"fr_CH.UTF-8", "en_US.UTF-8", "en_US.UTF-8", true},
        {"", "", "fr_BE", true},                   // empty values are passed over
        {"en_GB.UTF-8", nullopt, "fr_FR", false},  // the first set one wins
        {nullopt, "de_DE.UTF-8", "fr_FR", false},
        {nullopt, nullopt, "C.UTF-8", false},
        {nullopt, nullopt, "ffr_FR", false},
    };
    for (const auto& c : cases) {
        LocaleEnvironment environment(c.lc_all, c.lc_messages, c.lang);
        EXPECT_EQ(platform::interface_language_is_french(), c.french)
            << "LC_ALL=" << c.lc_all.value_or("(unset)")
            << " LC_MESSAGES=" << c.lc_messages.value_or("(unset)")
            << " LANG=" << c.lang.value_or("(unset)");
    }
}

TEST(InterfaceLanguage, FirstEntryOfLanguageDecidesUnlessTheLocaleIsC) {
    const struct {
        std::optional<std::string> lc_all, lang, language;
        bool french;
    } cases[] = {
        {nullopt, "en_US.UTF-8", "fr:en", true},  // a desktop's French interface
        {nullopt, "fr_FR.UTF-8", "en_GB:fr", false},
        {nullopt, "de_DE.UTF-8", "fr_CA", true},
        {"fr_FR.UTF-8", nullopt, ":en", true},  // no first entry: the locale decides
        {nullopt, "fr_FR.UTF-8", "", true},
        {nullopt, nullopt, "fr:en", false},  // the C locale ignores LANGUAGE
        {nullopt, "C", "fr", false},
        {nullopt, "C.UTF-8", "fr", false},
        {"POSIX", "en_US.UTF-8", "fr", false},
        {"C", "fr_FR.UTF-8", "fr", false},
    };
    for (const auto& c : cases) {
        LocaleEnvironment environment(c.lc_all, nullopt, c.lang, c.language);
        EXPECT_EQ(platform::interface_language_is_french(), c.french)
            << "LC_ALL=" << c.lc_all.value_or("(unset)") << " LANG=" << c.lang.value_or("(unset)")
            << " LANGUAGE=" << c.language.value_or("(unset)");
    }
}

TEST(LocalizedText, ChoosesAnewOnEveryCall) {
    {
        LocaleEnvironment french(nullopt, nullopt, "fr_FR.UTF-8");
        EXPECT_EQ(localized_text("yes", "oui"), "oui");
    }
    {
        LocaleEnvironment english(nullopt, nullopt, "en_US.UTF-8");
        EXPECT_EQ(localized_text("yes", "oui"), "yes");
    }
}

TEST(LocalizedMessage, StartFailureNamesThePythonPath) {
    {
        LocaleEnvironment english(nullopt, nullopt, "en_US.UTF-8");
        EXPECT_EQ(localized_message(Message::start_failure, "/opt/py/bin/python3"),
                  "Python did not start: /opt/py/bin/python3");
        EXPECT_EQ(localized_message(Message::no_python, "/ignored"),
                  "Python cannot be found. The python folder of the archive is missing.");
    }
    LocaleEnvironment french(nullopt, nullopt, "fr_FR.UTF-8");
    EXPECT_EQ(localized_message(Message::start_failure, "/opt/py/bin/python3"),
              "Python n'a pas d\u00e9marr\u00e9 : /opt/py/bin/python3");
}

}  // namespace
