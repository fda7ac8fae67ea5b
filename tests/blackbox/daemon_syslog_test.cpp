// Daemon mode against a real syslog daemon: rsyslogd and "velmard -D" run in
// a private mount namespace whose /dev is a tmpfs, so "/dev/log" is the
// test's own rsyslogd and its output file lies in a temporary folder.

#include "blackbox/harness.h"

#include "core/version.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

char const kRsyslogd[] = "/usr/sbin/rsyslogd";
int const kSkip = 77;

std::string ReadText(std::string const& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Exit of the namespace runner when something fails: the reason on stderr.
[[noreturn]] void Fail(int code, char const* what)
{
    std::fprintf(stderr, "runner: %s: %s\n", what, std::strerror(errno));
    std::fflush(stderr);
    _exit(code);
}

pid_t Spawn(std::vector<std::string> const& argv, std::string const& output)
{
    pid_t pid = fork();
    if (pid == 0) {
        int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
        }
        int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null >= 0)
            dup2(null, 0);
        std::vector<char*> args;
        for (std::string const& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// Waits for a child of this process (or an orphan it adopted) to end.
bool Reap(pid_t pid, int* status)
{
    return blackbox::WaitFor([&] { return waitpid(pid, status, WNOHANG) == pid; });
}

void BindDevice(std::string const& dev, char const* name)
{
    std::string target = dev + "/" + name;
    std::string source = std::string("/dev/") + name;
    if (FILE* f = std::fopen(target.c_str(), "w"))
        std::fclose(f);
    mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr);
}

// Runs in a forked child: builds the namespace, runs both daemons, stops them.
[[noreturn]] void Runner(std::string const& dir, int port)
{
    if (unshare(CLONE_NEWNS) != 0)
        Fail(kSkip, "unshare");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        Fail(kSkip, "mount private");

    std::string dev = dir + "/dev";
    mkdir(dev.c_str(), 0755);
    if (mount("tmpfs", dev.c_str(), "tmpfs", 0, "size=1m,mode=755") != 0)
        Fail(kSkip, "tmpfs for /dev");
    BindDevice(dev, "null");
    BindDevice(dev, "urandom");
    if (mount(dev.c_str(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) != 0)
        Fail(kSkip, "bind /dev");
    // The pid file goes to a private /var/run; no configuration file is read.
    if (mount("tmpfs", "/var/run", "tmpfs", 0, "size=1m") != 0)
        Fail(kSkip, "tmpfs for /var/run");
    struct stat st;
    if (stat("/usr/local/etc", &st) == 0)
        mount("tmpfs", "/usr/local/etc", "tmpfs", 0, "size=1m");
    prctl(PR_SET_CHILD_SUBREAPER, 1);

    pid_t rs = Spawn({kRsyslogd, "-n", "-f", dir + "/rsyslog.conf", "-i", dir + "/rsyslogd.pid"},
                     dir + "/rsyslogd.out");
    if (rs < 0)
        Fail(1, "fork rsyslogd");

    int code = 0;
    char const* failure = nullptr;
    int status = -1;
    pid_t daemonPid = 0;
    std::string out = dir + "/syslog.out";
    if (!blackbox::WaitFor([] {
            struct stat s;
            return stat("/dev/log", &s) == 0 && S_ISSOCK(s.st_mode);
        })) {
        code = 1, failure = "rsyslogd made no /dev/log";
    } else {
        pid_t fg = Spawn({VELMARD_BIN, "-D", "--port", std::to_string(port)}, dir + "/velmard.out");
        if (!Reap(fg, &status) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            code = 2, failure = "velmard -D did not detach with status 0";
        else if (!blackbox::WaitFor([&] { return ReadText(out).find("Starting server") != std::string::npos; }))
            code = 3, failure = "no start-up line reached syslog";
        blackbox::WaitFor([&] {
            daemonPid = std::atoi(ReadText("/var/run/server.pid").c_str());
            return daemonPid > 0;
        });
        if (daemonPid > 0) {
            kill(daemonPid, SIGTERM);
            if (!Reap(daemonPid, &status)) {
                kill(daemonPid, SIGKILL);
                Reap(daemonPid, &status);
            }
            blackbox::WaitFor([&] { return ReadText(out).find("Mux: terminating...") != std::string::npos; });
        } else if (!failure) {
            code = 4, failure = "no pid file";
        }
    }
    kill(rs, SIGTERM);
    if (!Reap(rs, &status)) {
        kill(rs, SIGKILL);
        Reap(rs, &status);
    }
    if (failure) {
        errno = 0;
        Fail(code, failure);
    }
    _exit(0);
}

struct Record {
    int severity;
    int facility;
    std::string program;
    std::string message;
};

// Lines written by the template "severity|facility|programname|msg".
std::vector<Record> Records(std::string const& text)
{
    std::vector<Record> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        Record r;
        size_t a = line.find('|'), b = line.find('|', a + 1), c = line.find('|', b + 1);
        if (a == std::string::npos || b == std::string::npos || c == std::string::npos)
            continue;
        r.severity = std::atoi(line.substr(0, a).c_str());
        r.facility = std::atoi(line.substr(a + 1, b - a - 1).c_str());
        r.program = line.substr(b + 1, c - b - 1);
        r.message = line.substr(c + 1);
        if (!r.message.empty() && r.message[0] == ' ')
            r.message.erase(0, 1);
        out.push_back(r);
    }
    return out;
}

class DaemonSyslog : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/daemon_syslog.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
    }
    void TearDown() override
    {
        for (char const* f : {"rsyslog.conf", "rsyslogd.pid", "rsyslogd.out", "velmard.out", "syslog.out"})
            std::remove((dir + "/" + f).c_str());
        rmdir((dir + "/work").c_str());
        rmdir((dir + "/dev").c_str());
        rmdir(dir.c_str());
    }
    std::string dir;
};

TEST_F(DaemonSyslog, StartupLineAndSeverities)
{
    if (access(kRsyslogd, X_OK) != 0)
        GTEST_SKIP() << "rsyslogd is not installed";
    if (geteuid() != 0)
        GTEST_SKIP() << "a private mount namespace needs root";

    mkdir((dir + "/work").c_str(), 0755);
    std::ofstream(dir + "/rsyslog.conf")
        << "global(workDirectory=\"" << dir << "/work\")\n"
        << "module(load=\"imuxsock\" SysSock.Name=\"/dev/log\")\n"
        << "template(name=\"line\" type=\"string\" "
           "string=\"%syslogseverity%|%syslogfacility%|%programname%|%msg%\\n\")\n"
        << "*.* action(type=\"omfile\" file=\"" << dir << "/syslog.out\" template=\"line\")\n";

    int port = blackbox::FreePort();
    ASSERT_GT(port, 0);
    std::fflush(nullptr);
    pid_t runner = fork();
    ASSERT_GE(runner, 0);
    if (runner == 0)
        Runner(dir, port);
    int status = -1;
    while (waitpid(runner, &status, 0) < 0 && errno == EINTR) {
    }
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kSkip)
        GTEST_SKIP() << "no private mount namespace";
    std::string text = ReadText(dir + "/syslog.out");
    EXPECT_EQ(0, WEXITSTATUS(status)) << "daemon output:\n"
                                      << ReadText(dir + "/velmard.out") << "syslog:\n"
                                      << text << "rsyslogd:\n"
                                      << ReadText(dir + "/rsyslogd.out");

    std::ostringstream tag;
    Version::current.put(tag);
    std::string ident = "vld-" + tag.str();
    std::string startLine = "Starting server [" + tag.str() + "], port=" + std::to_string(port);

    bool sawStart = false, sawError = false, sawTrace = false;
    for (Record const& r : Records(text)) {
        if (r.program != ident)
            continue;
        EXPECT_EQ(3, r.facility) << r.message;
        if (r.message == startLine) {
            sawStart = true;
            EXPECT_EQ(5, r.severity) << "standard output is logged as notice";
        }
        if (r.message.rfind("Mux: fail to open watchdog: ", 0) == 0) {
            sawError = true;
            EXPECT_EQ(3, r.severity) << "standard error is logged as err";
        }
        if (r.message == "Mux: terminating...") {
            sawTrace = true;
            EXPECT_EQ(7, r.severity) << "the log stream is logged as debug";
        }
    }
    EXPECT_TRUE(sawStart) << "no \"" << startLine << "\" from " << ident << " in:\n" << text;
    EXPECT_TRUE(sawError) << text;
    EXPECT_TRUE(sawTrace) << text;
}

} // namespace
