#include "core/async.h"

#include "core/multiplexer.h"
#include "core/timer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

namespace {

class LoopTest : public ::testing::Test {
protected:
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }

    // Runs the loop until a handler stops it, at most limit ms.
    // An idle descriptor stays polled meanwhile, so that a loop left with no
    // work of the test's own still sleeps until the guard fires.
    void RunLoop(unsigned limit = 10000)
    {
        timedOut = false;
        int p[2];
        ASSERT_EQ(0, pipe2(p, O_CLOEXEC));
        Event idle;
        idle.Schedule(p[0], POLLIN);
        guard.set(limit, &LoopTest::OnGuard, this);
        multiplexer.run(false, true);
        guard.reset();
        idle.Release();
        close(p[0]);
        close(p[1]);
    }
    void OnGuard()
    {
        timedOut = true;
        multiplexer.terminate();
    }

    Timer guard;
    bool timedOut = false;
};

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 7 + i / 251) & 0xff);
    return s;
}

std::string ReadAll(int fd)
{
    BlockMode(fd);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        out.append(buf, size_t(n));
    return out;
}

class CopyTest : public LoopTest {
public:
    void OnCopy(ASync::Copy::Status::Type s)
    {
        statuses.push_back(s);
        multiplexer.terminate();
    }
    void OnRead(int fd, short revents)
    {
        if (!(revents & POLLIN))
            return;
        char buf[1500];
        ssize_t n;
        while ((n = read(fd, buf, sizeof buf)) > 0)
            received.append(buf, size_t(n));
    }

    std::vector<ASync::Copy::Status::Type> statuses;
    std::string received;
};

// A pipe into a socket whose send buffer is small: the copy alternates
// between waiting for the source and for the destination.
TEST_F(CopyTest, PipeToSocketExactBytes)
{
    std::string data = Pattern(60000);
    int p[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(ssize_t(data.size()), write(p[1], data.data(), data.size()));
    close(p[1]);
    int s[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    int small = 4096;
    setsockopt(s[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    setsockopt(s[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);

    Event reader;
    reader.Bind("reader", &CopyTest::OnRead, this);
    reader.Schedule(s[1], POLLIN);

    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    copy.set_bufsize(700);
    EXPECT_EQ(ASync::Copy::Status::NotStarted, copy.status());
    copy.Start(Fd(p[0]), Fd(s[0]));
    EXPECT_EQ(ASync::Copy::Status::Running, copy.status());
    RunLoop();
    EXPECT_FALSE(timedOut);
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Done, statuses[0]);
    EXPECT_EQ(60000u, copy.bytes_copied());
    EXPECT_EQ(0, copy.last_error());
    reader.Release();
    // The copy closed its destination, so the rest ends at end of file.
    received += ReadAll(s[1]);
    EXPECT_TRUE(received == data) << received.size() << " bytes received";
    close(s[1]);
}

TEST_F(CopyTest, EmptySourceWithoutFlushEventsEndsAtOnce)
{
    int p[2], s[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    close(p[1]);
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    ASync::Copy::EventsParams ev;
    ev.flushed = 0;
    copy.set_events(ev);
    EXPECT_TRUE(statuses.empty());
    copy.Start(Fd(p[0]), Fd(s[0]));
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Done, statuses[0]);
    EXPECT_EQ("", ReadAll(s[1]));
    close(s[1]);
}

TEST_F(CopyTest, EmptySourceWaitsForFlushedEvent)
{
    int p[2], s[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    close(p[1]);
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    copy.Start(Fd(p[0]), Fd(s[0]));
    EXPECT_EQ(ASync::Copy::Status::Flushing, copy.status());
    EXPECT_TRUE(statuses.empty());
    RunLoop();
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Done, statuses[0]);
    close(s[1]);
}

TEST_F(CopyTest, PeerClosingDestinationIsAnError)
{
    int p[2], s[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    copy.Start(Fd(p[0]), Fd(s[0]));
    close(s[1]);
    RunLoop();
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Error, statuses[0]);
    EXPECT_EQ(0, copy.last_error());
    close(p[1]);
}

TEST_F(CopyTest, WriteErrorKeepsErrno)
{
    int p[2], q[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(0, pipe2(q, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(3, write(p[1], "abc", 3));
    close(q[0]);
    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    copy.Start(Fd(p[0]), Fd(q[1]));
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Error, statuses[0]);
    EXPECT_EQ(EPIPE, copy.last_error());
    close(p[1]);
}

TEST_F(CopyTest, ReadErrorBeforeAnyDataIsAnError)
{
    int dir = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int s[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    copy.Start(Fd(dir), Fd(s[0]));
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Error, statuses[0]);
    close(s[1]);
}

// Stop closes the source; the copy then ends as at the end of the source.
TEST_F(CopyTest, StopFinishesLikeEndOfSource)
{
    int p[2], s[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    ASSERT_EQ(5, write(p[1], "hello", 5));
    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    copy.Start(Fd(p[0]), Fd(s[0]));
    EXPECT_EQ(5u, copy.bytes_copied());
    EXPECT_EQ(ASync::Copy::Status::Running, copy.status());
    copy.Stop();
    EXPECT_EQ(ASync::Copy::Status::Flushing, copy.status());
    RunLoop();
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Done, statuses[0]);
    EXPECT_EQ("hello", ReadAll(s[1]));
    // Stop after the end changes nothing.
    copy.Stop();
    EXPECT_EQ(1u, statuses.size());
    close(p[1]);
    close(s[1]);
}

TEST_F(CopyTest, SettingsChangedWhileRunning)
{
    int p[2], s[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    ASync::Copy copy;
    copy.Bind(&CopyTest::OnCopy, this);
    copy.Start(Fd(p[0]), Fd(s[0]));
    copy.set_bufsize(4096);
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Changed, statuses[0]);

    // It can start again, and set_events ends it the same way.
    int p2[2];
    ASSERT_EQ(0, pipe2(p2, O_CLOEXEC | O_NONBLOCK));
    copy.Start(Fd(p2[0]), Fd(s[0]));
    copy.set_events(ASync::Copy::EventsParams());
    ASSERT_EQ(2u, statuses.size());
    EXPECT_EQ(ASync::Copy::Status::Changed, statuses[1]);
    close(p[1]);
    close(p2[1]);
    close(s[1]);
}

// The owner may destroy the copy from inside its handler.
struct SelfDestroying {
    ASync::Copy* copy = new ASync::Copy;
    int calls = 0;
    void OnCopy(ASync::Copy::Status::Type)
    {
        ++calls;
        delete copy;
        copy = nullptr;
        multiplexer.terminate();
    }
};

TEST_F(CopyTest, HandlerMayDestroyTheCopy)
{
    int p[2], s[2];
    ASSERT_EQ(0, pipe2(p, O_CLOEXEC | O_NONBLOCK));
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, s));
    SelfDestroying owner;
    owner.copy->Bind(&SelfDestroying::OnCopy, &owner);
    owner.copy->Start(Fd(p[0]), Fd(s[0]));
    close(s[1]);
    RunLoop();
    EXPECT_EQ(1, owner.calls);
    EXPECT_EQ(nullptr, owner.copy);
    close(p[1]);
}

// ---------------------------------------------------------------- Connect

class ConnectTest : public LoopTest {
public:
    void OnConnect(ASync::Connect::Status::Type s, Fd fd)
    {
        statuses.push_back(s);
        connected = fd;
        multiplexer.terminate();
    }

    // A loopback socket with a kernel-chosen port; listening when asked.
    static int Bound(bool listening, int backlog, uint16_t& port)
    {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        if (listening)
            listen(fd, backlog);
        return fd;
    }

    // A listener whose accept queue is full: further SYNs go unanswered.
    int Saturated(uint16_t& port)
    {
        int l = Bound(true, 0, port);
        for (int i = 0; i < 2; ++i) {
            int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(port);
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fillers.push_back(c);
        }
        return l;
    }

    void TearDown() override
    {
        for (int c : fillers)
            close(c);
    }

    static std::string Addr(uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

    std::vector<ASync::Connect::Status::Type> statuses;
    Fd connected;
    std::vector<int> fillers;
};

TEST_F(ConnectTest, Connects)
{
    uint16_t port;
    int l = Bound(true, 4, port);
    ASync::Connect c;
    c.Bind(&ConnectTest::OnConnect, this);
    c.Start(Addr(port), 5000);
    if (statuses.empty())
        RunLoop();
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Connect::Status::Connected, statuses[0]);
    EXPECT_EQ(ASync::Connect::Status::Connected, c.status());
    ASSERT_TRUE(connected);
    EXPECT_TRUE(fcntl(connected.get(), F_GETFD) & FD_CLOEXEC);
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    ASSERT_EQ(0, getpeername(connected.get(), reinterpret_cast<sockaddr*>(&peer), &len));
    EXPECT_EQ(port, ntohs(peer.sin_port));
    int a = accept(l, nullptr, nullptr);
    ASSERT_GE(a, 0);
    ASSERT_EQ(2, write(connected.get(), "hi", 2));
    char buf[2];
    EXPECT_EQ(2, read(a, buf, 2));
    close(a);
    close(l);
}

TEST_F(ConnectTest, RefusedFails)
{
    uint16_t port;
    int b = Bound(false, 0, port);  // bound, so no one else takes the port
    ASync::Connect c;
    c.Bind(&ConnectTest::OnConnect, this);
    c.Start(Addr(port), 5000);
    if (statuses.empty())
        RunLoop();
    EXPECT_FALSE(timedOut);
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Connect::Status::Failed, statuses[0]);
    EXPECT_FALSE(connected);
    close(b);
}

TEST_F(ConnectTest, TimeOutFails)
{
    uint16_t port;
    int l = Saturated(port);
    ASync::Connect c;
    c.Bind(&ConnectTest::OnConnect, this);
    uint32_t start = Mux::milliseconds();
    c.Start(Addr(port), 150);
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(ASync::Connect::Status::InProgress, c.status());
    RunLoop();
    EXPECT_FALSE(timedOut);
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Connect::Status::Failed, statuses[0]);
    EXPECT_GE(Mux::milliseconds() - start, 150u);
    EXPECT_FALSE(connected);
    close(l);
}

TEST_F(ConnectTest, StopReportsStoppedWithoutDescriptor)
{
    uint16_t port;
    int l = Saturated(port);
    ASync::Connect c;
    c.Bind(&ConnectTest::OnConnect, this);
    c.Start(Addr(port), 10000);
    ASSERT_TRUE(statuses.empty());
    c.Stop();
    ASSERT_EQ(1u, statuses.size());
    EXPECT_EQ(ASync::Connect::Status::Stopped, statuses[0]);
    EXPECT_FALSE(connected);
    c.Stop();
    EXPECT_EQ(1u, statuses.size());
    // Nothing of it is left in the loop: the guard alone ends this run.
    RunLoop(100);
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(1u, statuses.size());
    close(l);
}

// Text that is no address fails at once; it never becomes 0.0.0.0.
TEST_F(ConnectTest, UnparsableAddressFails)
{
    uint16_t port;
    int l = Bound(true, 4, port);
    for (std::string const& text :
         {std::string("no.such.host:") + std::to_string(port), std::string("300.1.2.3:") + std::to_string(port),
          std::string(":") + std::to_string(port), std::string("")}) {
        statuses.clear();
        ASync::Connect c;
        c.Bind(&ConnectTest::OnConnect, this);
        c.Start(text, 5000);
        ASSERT_EQ(1u, statuses.size()) << text;
        EXPECT_EQ(ASync::Connect::Status::Failed, statuses[0]) << text;
        EXPECT_FALSE(connected) << text;
    }
    sockaddr_in a{};
    socklen_t len = sizeof a;
    int flags = fcntl(l, F_GETFL);
    fcntl(l, F_SETFL, flags | O_NONBLOCK);
    EXPECT_LT(accept(l, reinterpret_cast<sockaddr*>(&a), &len), 0);
    close(l);
}

struct ConnectOwner {
    ASync::Connect* c = new ASync::Connect;
    int calls = 0;
    void OnConnect(ASync::Connect::Status::Type, Fd)
    {
        ++calls;
        delete c;
        c = nullptr;
        multiplexer.terminate();
    }
};

TEST_F(ConnectTest, HandlerMayDestroyTheConnect)
{
    uint16_t port;
    int l = Saturated(port);
    ConnectOwner owner;
    owner.c->Bind(&ConnectOwner::OnConnect, &owner);
    owner.c->Start(Addr(port), 50);
    RunLoop();
    EXPECT_FALSE(timedOut);
    EXPECT_EQ(1, owner.calls);
    close(l);
}

} // namespace
