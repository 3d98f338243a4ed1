#include "searches.h"

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace {

TEST(FirstExistingPath, TakesTheFirstCandidateThatExistsAsWritten) {
    TempFolder folder;
    folder.write("a/file", "x");
    std::filesystem::create_directories(folder.path() / "b");
    const std::string missing = folder.str() + "/missing";
    const std::string file = folder.str() + "/a/../a/file";  // kept as written, not normalised
    const std::string subfolder = folder.str() + "/b";

    EXPECT_EQ(first_existing_path({"", missing, file, subfolder}), file);
    EXPECT_EQ(first_existing_path({"", missing, subfolder, file}), subfolder);
    // One that is passed over counts as absent.
    const auto not_the_folder = [](const NativeString& path) { return path.back() == 'b'; };
    EXPECT_EQ(first_existing_path({subfolder, file}, not_the_folder), file);
    EXPECT_EQ(first_existing_path({subfolder}, not_the_folder), "");
}

TEST(FirstExistingPath, GivesEmptyWhenNothingExistsOrStatusFails) {
    TempFolder folder;
    const auto file = folder.write("plain", "x");
    EXPECT_EQ(first_existing_path({}), "");
    EXPECT_EQ(first_existing_path({"", ""}), "");
    // Looking below a regular file is an error, not an existing path.
    EXPECT_EQ(first_existing_path({file.string() + "/below", folder.str() + "/none"}), "");
}

TEST(PythonTxt, IsReadFromTheFolderOfTheHostScript) {
    TempFolder folder;
    folder.write("launcher/morvane/python.txt", "/opt/py/bin/python3\n");
    folder.write("python.txt", "/wrong\n");
    EXPECT_EQ(read_python_txt(folder.str() + "/launcher/morvane/launcher_host.py"),
              "/opt/py/bin/python3");
    EXPECT_EQ(read_python_txt(folder.str() + "/nowhere/launcher_host.py"), "");
}

TEST(PythonTxt, TrimsOnlyTrailingBlanksAndLineEnds) {
    TempFolder folder;
    const std::string script = folder.str() + "/launcher_host.py";
    const struct {
        std::string content;
        std::string expected;
    } cases[] = {
        {"/usr/bin/python3", "/usr/bin/python3"},
        {"/usr/bin/python3 \r\n \n\r\n  ", "/usr/bin/python3"},
        {"/usr/bin/python3\t\n", "/usr/bin/python3\t"},
        {" /usr/bin/python3\n", " /usr/bin/python3"},
        {"/usr/bin/python3\nsecond line\n", "/usr/bin/python3\nsecond line"},
        {"\"/usr/bin/python3\"\n", "\"/usr/bin/python3\""},
        {"\xEF\xBB\xBF/usr/bin/python3\r\n", "\xEF\xBB\xBF/usr/bin/python3"},
        {std::string("/a\0b\n", 5), std::string("/a\0b", 4)},
        {" \r\n \n", ""},
        {"", ""},
        // The limit counts the whole file, line ends included.
        {"/usr/bin/python3" + std::string(python_txt_limit - 16, '\n'), "/usr/bin/python3"},
        {"/usr/bin/python3" + std::string(python_txt_limit - 15, '\n'), ""},
    };
    for (const auto& c : cases) {
        folder.write("python.txt", c.content);
        EXPECT_EQ(read_python_txt(script), c.expected)
            << "content: " << c.content.substr(0, 40) << " (" << c.content.size() << " bytes)";
    }
}

}  // namespace
