#include "probe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "temp_folder.h"

namespace {

// A TCP port on 127.0.0.1 that either accepts connections or refuses them
// (bound, so nobody else takes it, but not listening), or whose accept queue
// is full, as a stopped host's is, so that a further attempt gets no answer.
class LocalPort {
public:
    enum Kind { refusing, listening, full };
    explicit LocalPort(bool listening) : LocalPort(listening ? Kind::listening : Kind::refusing) {}
    explicit LocalPort(Kind kind) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t size = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        if (kind == Kind::listening)
            listen(fd_, 8);
        if (kind == Kind::full) {
            listen(fd_, 0);  // holds one connection, never accepted
            queued_ = socket(AF_INET, SOCK_STREAM, 0);
            connect(queued_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~LocalPort() {
        if (queued_ >= 0)
            close(queued_);
        close(fd_);
    }
    int port() const { return port_; }
    std::string text() const { return std::to_string(port_); }

private:
    int fd_ = -1;
    int queued_ = -1;
    int port_ = 0;
};

// The real connection test, with a record of the ports it was asked about.
struct WatchedTest {
    std::vector<int> tried;
    int probe(const std::string& folder) {
        return probe_launcher_port(folder, [this](int port) {
            tried.push_back(port);
            return platform::local_port_answers(port);
        });
    }
};

// exe_folder is "<temp>/game"; its parent is the temp folder.
struct ProbeTest : ::testing::Test {
    TempFolder root;
    std::string game = root.str() + "/game";
    void SetUp() override { std::filesystem::create_directories(game); }
    void here(const std::string& content) { root.write("game/launcher.port", content); }
    void parent(const std::string& content) { root.write("launcher.port", content); }
};

TEST_F(ProbeTest, NoFileMeansNoPortAndNoConnection) {
    WatchedTest watch;
    EXPECT_EQ(watch.probe(game), 0);
    EXPECT_TRUE(watch.tried.empty());
}

TEST_F(ProbeTest, FileThatNamesNoPortIsPassedOverWithoutConnecting) {
    LocalPort live(true);
    parent(live.text());
    for (const char* bad : {"0", "-80", "port 80", "0x50", "", " \n", "65536", "99999999999"}) {
        here(bad);
        WatchedTest watch;
        EXPECT_EQ(watch.probe(game), live.port()) << "content: " << bad;
        EXPECT_EQ(watch.tried, std::vector<int>{live.port()}) << "content: " << bad;
    }
}

TEST_F(ProbeTest, PortBeyondTheTcpRangeIsNotCutToItsLowBits) {
    LocalPort live(true);
    here(std::to_string(live.port() + 65536));
    WatchedTest watch;
    EXPECT_EQ(watch.probe(game), 0);
    EXPECT_TRUE(watch.tried.empty());
}

TEST_F(ProbeTest, DeadPortHereFallsBackToLivePortInParent) {
    LocalPort dead(false);
    LocalPort live(true);
    here(dead.text());
    parent(live.text());
    WatchedTest watch;
    EXPECT_EQ(watch.probe(game), live.port());
    EXPECT_EQ(watch.tried, (std::vector<int>{dead.port(), live.port()}));
}

TEST_F(ProbeTest, LivePortHereWinsOverParent) {
    LocalPort first(true);
    LocalPort second(true);
    here(first.text());
    parent(second.text());
    WatchedTest watch;
    EXPECT_EQ(watch.probe(game), first.port());
    EXPECT_EQ(watch.tried, std::vector<int>{first.port()});
}

TEST_F(ProbeTest, BothDeadGivesZero) {
    LocalPort dead(false);
    here(dead.text());
    parent(dead.text());
    WatchedTest watch;
    EXPECT_EQ(watch.probe(game), 0);
    EXPECT_EQ(watch.tried, (std::vector<int>{dead.port(), dead.port()}));
}

TEST_F(ProbeTest, NumberIsReadPastLeadingSpaceAndBeforeAnyTrailer) {
    LocalPort live(true);
    for (const std::string& content : {" \t\r\n" + live.text() + "\r\n", live.text() + " http",
                                       "+" + live.text(), live.text()}) {
        here(content);
        EXPECT_EQ(probe_launcher_port(game), live.port()) << "content: " << content;
    }
}

TEST_F(ProbeTest, RealConnectionTestTellsLiveFromDead) {
    LocalPort live(true);
    LocalPort dead(false);
    EXPECT_TRUE(platform::local_port_answers(live.port()));
    EXPECT_FALSE(platform::local_port_answers(dead.port()));
}

TEST_F(ProbeTest, FrozenHostIsNoAnswerWithinTheProbeTime) {
    // Left to the system, each attempt would wait for minutes.
    LocalPort frozen(LocalPort::full);
    LocalPort live(true);
    here(frozen.text());
    parent(live.text());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(probe_launcher_port(game), live.port());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST_F(ProbeTest, PortIsForgottenOnlyWhileItsFileStillNamesIt) {
    LocalPort live(true);
    parent(live.text() + "\n");
    std::filesystem::path named_by;
    ASSERT_EQ(probe_launcher_port(game, &named_by), live.port());
    EXPECT_EQ(named_by, root.path() / "launcher.port");

    // Rewritten since, by a host of another launch: kept.
    parent(std::to_string(live.port() + 1));
    forget_launcher_port(named_by, live.port());
    EXPECT_TRUE(std::filesystem::exists(named_by));

    parent(live.text() + "\n");
    forget_launcher_port(named_by, live.port());
    EXPECT_FALSE(std::filesystem::exists(named_by));
    forget_launcher_port(named_by, live.port());  // gone already: nothing to do
}

TEST(PageAddress, IsTheLoopbackUrlOfThePort) {
    EXPECT_EQ(page_address(1), "http://127.0.0.1:1/");
    EXPECT_EQ(page_address(8080), "http://127.0.0.1:8080/");
    EXPECT_EQ(page_address(65535), "http://127.0.0.1:65535/");
}

}  // namespace
