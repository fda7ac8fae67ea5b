#include "core/daemon.h"

#include "core/syslog.h"

#include "private_dev.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <ctime>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/logfile_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
    }
    void TearDown() override
    {
        for (std::string const& f : Files())
            std::remove((dir + "/" + f).c_str());
        rmdir(dir.c_str());
    }

    std::vector<std::string> Files() const
    {
        std::vector<std::string> out;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d))
                if (e->d_name[0] != '.')
                    out.push_back(e->d_name);
            closedir(d);
        }
        return out;
    }

    static std::string HourName(time_t t)
    {
        struct tm tm;
        localtime_r(&t, &tm);
        char buf[64];
        strftime(buf, sizeof buf, "%Y_%m_%d-%H.log", &tm);
        return buf;
    }

    // Writes through a fresh buffer and returns the one file's text.
    std::string Run(std::function<void(std::ostream&)> const& write)
    {
        time_t before = time(nullptr);
        {
            LogFileStreamBuf buf(dir);
            std::ostream os(&buf);
            write(os);
        }
        time_t after = time(nullptr);
        std::vector<std::string> files = Files();
        EXPECT_EQ(1u, files.size());
        if (files.empty())
            return std::string();
        EXPECT_TRUE(files[0] == HourName(before) || files[0] == HourName(after)) << files[0];
        std::ifstream in(dir + "/" + files[0], std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir;
};

// Replaces each "mm:ss:uuuuu: " prefix at a line start by "P|", so the
// tests compare plain text.
std::string Mask(std::string const& text, std::vector<std::string>* prefixes = nullptr)
{
    auto digits = [&](size_t at, size_t n) {
        for (size_t i = 0; i < n; ++i)
            if (at + i >= text.size() || !isdigit(static_cast<unsigned char>(text[at + i])))
                return false;
        return true;
    };
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t len = 0;
        if (digits(i, 2) && text.compare(i + 2, 1, ":") == 0 && digits(i + 3, 2) &&
            text.compare(i + 5, 1, ":") == 0 && digits(i + 6, 5)) {
            size_t usec = digits(i + 6, 6) ? 6 : 5;
            if (text.compare(i + 6 + usec, 2, ": ") == 0)
                len = 6 + usec + 2;
        }
        if (len) {
            if (prefixes)
                prefixes->push_back(text.substr(i, len));
            out += "P|";
            i += len;
        } else {
            out += "?|";
        }
        size_t nl = text.find('\n', i);
        size_t end = nl == std::string::npos ? text.size() : nl + 1;
        out += text.substr(i, end - i);
        i = end;
    }
    return out;
}

TEST_F(LogFileTest, LinesGetThePrefix)
{
    std::string text = Run([](std::ostream& os) { os << "hello" << std::endl; });
    EXPECT_EQ("P|hello\n", Mask(text)) << text;
}

TEST_F(LogFileTest, OneFlushSharesOnePrefix)
{
    std::string text = Run([](std::ostream& os) { os << "a\nb\n" << std::flush; });
    std::vector<std::string> prefixes;
    EXPECT_EQ("P|a\nP|b\n", Mask(text, &prefixes)) << text;
    ASSERT_EQ(2u, prefixes.size());
    EXPECT_EQ(prefixes[0], prefixes[1]);
}

// A line split over flushes, or longer than the 16-byte area, gets its
// prefix once.
TEST_F(LogFileTest, LineAcrossFlushesPrefixedOnce)
{
    std::string text = Run([](std::ostream& os) {
        os << "ab" << std::flush;
        os << "cd\n" << std::flush;
        os << "a rather longer line than sixteen bytes\n" << std::flush;
        os << "tail";
        os << std::flush;
    });
    EXPECT_EQ("P|abcd\nP|a rather longer line than sixteen bytes\nP|tail", Mask(text)) << text;
}

TEST_F(LogFileTest, UnflushedTailIsDropped)
{
    std::string text = Run([](std::ostream& os) { os << "kept\nlost"; });
    // "kept\n" and "lost" fit the 16-byte area without a flush: both stay
    // there and go with the buffer.
    EXPECT_EQ("", text);
}

TEST_F(LogFileTest, MissingDirectoryLosesQuietly)
{
    LogFileStreamBuf buf(dir + "/absent");
    std::ostream os(&buf);
    os << "nowhere" << std::endl;
    EXPECT_TRUE(os.good());
    EXPECT_TRUE(Files().empty());
}

bool Readable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) == 1;
}

std::string Recv(int fd)
{
    if (!Readable(fd, 5000))
        return std::string();
    char buf[65536];
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

// Runs Daemon::Init in a grandchild and reaps the detached process, whose
// parent then is this (subreaper) process. Returns the detached one's status.
int Detach(Daemon::Params const& params, std::function<void()> const& afterwards)
{
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        Daemon::Init(params);
        afterwards();
        std::exit(0);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    int detached = -1;
    pid_t p;
    while ((p = waitpid(-1, &detached, 0)) < 0 && errno == EINTR) {
    }
    EXPECT_GT(p, 0);
    return WIFEXITED(detached) ? WEXITSTATUS(detached) : 128 + WTERMSIG(detached);
}

void LogAtExit() { std::cerr << "bye" << std::endl; }

TEST(DaemonSentry, SyslogModeRoutesStreamsAndDescriptors)
{
    RUN_ISOLATED_WITH(
        [] {
            int srv = testing_private_dev::BindLog(SOCK_DGRAM);
            Daemon::Params params;
            params.name = "vld-" + std::string(100, 'n');
            int status = Detach(params, [] {
                // Exit handlers that log run after every ordinary global
                // went; the client must still be there for them.
                std::atexit(LogAtExit);
                // Only the first call detaches.
                pid_t before = getpid();
                Daemon::Params again;
                again.mode = 1;
                Daemon::Init(again);
                if (getpid() != before)
                    std::cerr << "detached twice" << std::endl;
                std::cout << "notice" << std::endl;
                std::cerr << "error" << std::endl;
                std::clog << "trace" << std::endl;
                ssize_t r = write(1, "raw\n", 4);
                (void)r;
                std::cout << "two\nlines" << std::endl;
            });
            EXPECT_EQ(0, status);
            std::string ident = "vld-" + std::string(75, 'n') + ": ";
            std::string got = Recv(srv);
            EXPECT_EQ("<29>", got.substr(0, 4));
            EXPECT_EQ(ident + "notice" + '\0', got.substr(20));
            got = Recv(srv);
            EXPECT_EQ("<27>", got.substr(0, 4));
            EXPECT_EQ(ident + "error" + '\0', got.substr(20));
            got = Recv(srv);
            EXPECT_EQ("<31>", got.substr(0, 4));
            EXPECT_EQ(ident + "trace" + '\0', got.substr(20));
            EXPECT_EQ("raw\n", Recv(srv));
            got = Recv(srv);
            size_t first = 20 + ident.size() + 4;
            ASSERT_EQ(first + 20 + ident.size() + 6, got.size());
            EXPECT_EQ(ident + "two" + '\0', got.substr(20, first - 20));
            EXPECT_EQ("<29>", got.substr(first, 4));
            EXPECT_EQ(ident + "lines" + '\0', got.substr(first + 20));
            got = Recv(srv);
            EXPECT_EQ("<27>", got.substr(0, 4));
            EXPECT_EQ(ident + "bye" + '\0', got.substr(20));
        },
        true);
}

TEST(DaemonSentry, DaemonFailureExitsWithTwo)
{
    RUN_ISOLATED([] {
        int p[2];
        ASSERT_EQ(0, pipe(p));
        dup2(p[1], 2);
        close(p[1]);
        Daemon::Params params;
        params.mode = 2;
        // No /dev/null in this /dev: daemon(3) fails in the detached child.
        int status = Detach(params, [] {});
        EXPECT_EQ(2, status);
        char buf[128];
        ssize_t n = read(p[0], buf, sizeof buf);
        EXPECT_EQ("daemon() fail!\n", std::string(buf, size_t(n > 0 ? n : 0)));
    });
}

} // namespace
