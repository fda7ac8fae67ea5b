// The control channel from the outside: the daemon binary driven over TCP
// as a controller would, with the project's own LGCP codec.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blackbox/harness.h"
#include "control/ctrl_testkit.h"
#include "control/lgcp_testkit.h"

namespace {

using blackbox::Daemon;
using blackbox::kStderr;
using blackbox::kStdout;
using blackbox::Sandbox;
using ctrltest::Frame;
using ctrltest::Hex;
using ctrltest::ReadFrame;
using ctrltest::SeesEof;
using ctrltest::WriteAll;
using lgcptest::Encode;
using lgcptest::Parse;
using lgcptest::Ping;
using Bytes = std::vector<unsigned char>;

constexpr int kInvalidSlot = 2;
constexpr int kUnexpectedMsgType = 4;

class ControlChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    port = blackbox::FreePort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(daemon.Start({"--port", std::to_string(port)}));
    ASSERT_TRUE(daemon.WaitLine(kStdout, "Starting server"));
  }

  // A controller connection; the listener opens a moment after the
  // start-up line.
  Fd Connect() {
    Fd c;
    blackbox::WaitFor([&] {
      c = ctrltest::ConnectTo(static_cast<unsigned short>(port));
      return bool(c);
    });
    return c;
  }
  Fd Controller() {
    Fd c = Connect();
    EXPECT_TRUE(c);
    EXPECT_TRUE(daemon.WaitLine(kStderr, "controller connect.", ++connects));
    return c;
  }

  static bool Send(Fd const& c, Bytes const& body) {
    Bytes f = Frame(body);
    return WriteAll(c.get(), f.data(), f.size());
  }
  // The next answer; the signals the board's services send on their own
  // (trunk status every second, power status on connect) are skipped.
  static Bytes Reply(Fd const& c) {
    Bytes body;
    for (;;) {
      body.clear();
      if (!ReadFrame(c.get(), body, 20000)) {
        ADD_FAILURE() << "no answer";
        return body;
      }
      if (Parse(body).pdu != lgcptest::kSignal) return body;
    }
  }
  static lgcptest::Seen Answer(Fd const& c) { return Parse(Reply(c)); }

  Sandbox sandbox;
  Daemon daemon{sandbox};
  int port = 0;
  size_t connects = 0;
};

TEST_F(ControlChannel, PingOnTheWire) {
  Fd c = Controller();
  struct Row {
    Bytes request, response;
  } rows[] = {
      {{0x06, 0x00}, {0x10}},  // nothing
      {{0xC0, 0x01, 0x07, 0x00, 0x05, 0x18}, {0xC0, 0x01, 0x07, 0x00, 0x05, 0x40}},
  };
  for (auto const& r : rows) {
    ASSERT_TRUE(Send(c, r.request));
    EXPECT_EQ(Hex(Reply(c)), Hex(r.response)) << Hex(r.request);
  }
}

TEST_F(ControlChannel, PingEchoesSequenceAndSlot) {
  Fd c = Controller();
  struct Row {
    std::optional<int> seq;
    std::optional<unsigned> slot;
  } rows[] = {{{}, {}}, {7, {}}, {{}, 5}, {-1, 0}, {123456789, 1023}};
  for (auto const& r : rows) {
    ASSERT_TRUE(Send(c, Encode(Ping(r.seq, r.slot))));
    auto a = Answer(c);
    EXPECT_TRUE(a.IsSuccess()) << Describe(a);
    EXPECT_EQ(a.seq, r.seq);
    EXPECT_EQ(a.slot, r.slot);
  }
}

TEST_F(ControlChannel, SlotAboveRangeIsRefusedWithoutSlot) {
  Fd c = Controller();
  // slot 1024 in its two-octet field, then a ping.
  ASSERT_TRUE(Send(c, {0x40, 0x04, 0x00, 0x18}));
  auto a = Answer(c);
  EXPECT_TRUE(a.IsError(kInvalidSlot)) << Describe(a);
  EXPECT_FALSE(a.slot);
  EXPECT_FALSE(a.seq);
  // With a sequence number it is echoed.
  ASSERT_TRUE(Send(c, {0xC0, 0x01, 0x09, 0xFF, 0xFF, 0x18}));
  a = Answer(c);
  EXPECT_TRUE(a.IsError(kInvalidSlot)) << Describe(a);
  EXPECT_EQ(a.seq, 9);
  EXPECT_FALSE(a.slot);
}

TEST_F(ControlChannel, ResponsesAndSignalsFromTheControllerAreUnexpected) {
  Fd c = Controller();
  for (int pdu : {lgcptest::kResponse, lgcptest::kSignal}) {
    ASSERT_TRUE(Send(c, Encode(lgcptest::NotACommand(pdu, 41))));
    auto a = Answer(c);
    EXPECT_TRUE(a.IsError(kUnexpectedMsgType)) << Describe(a);
    EXPECT_EQ(a.seq, 41);
    EXPECT_FALSE(a.slot);
  }
  // A command that no service takes.
  ASSERT_TRUE(Send(c, Encode(lgcptest::Command(lgcptest::kDisconnect, 42))));
  auto a = Answer(c);
  EXPECT_TRUE(a.IsError(kUnexpectedMsgType)) << Describe(a);
  EXPECT_EQ(a.seq, 42);
}

TEST_F(ControlChannel, UndecodablePayloadIsLoggedAndNotAnswered) {
  Fd c = Controller();
  ASSERT_TRUE(Send(c, {}));            // nothing to decode
  ASSERT_TRUE(Send(c, {0xFF, 0xFF}));  // pdu index out of range
  ASSERT_TRUE(Send(c, Encode(Ping(5))));
  auto a = Answer(c);
  EXPECT_TRUE(a.IsSuccess()) << Describe(a);
  EXPECT_EQ(a.seq, 5);
  EXPECT_TRUE(daemon.WaitLine(kStderr, "receive fail: decode error!", 2));
  EXPECT_TRUE(daemon.WaitLine(kStderr, " msg: FF FF "));
}

TEST_F(ControlChannel, MalformedFramingIsSkipped) {
  Fd c = Controller();
  Bytes garbage = {0x05,                     // not a frame start
                   0x03, 0x01,               // bad reserved byte
                   0x03, 0x00, 0x00, 0x03};  // length too small
  ASSERT_TRUE(WriteAll(c.get(), garbage.data(), garbage.size()));
  ASSERT_TRUE(Send(c, Encode(Ping(6))));
  auto a = Answer(c);
  EXPECT_TRUE(a.IsSuccess()) << Describe(a);
  EXPECT_EQ(a.seq, 6);
}

TEST_F(ControlChannel, FrameSentByteByByte) {
  Fd c = Controller();
  for (unsigned char b : Frame(Encode(Ping(1)))) ASSERT_TRUE(WriteAll(c.get(), &b, 1));
  EXPECT_EQ(Answer(c).seq, 1);
}

TEST_F(ControlChannel, SecondClientIsRefusedWhileFirstIsServed) {
  Fd first = Controller();
  Fd second = Connect();
  ASSERT_TRUE(second);
  EXPECT_TRUE(SeesEof(second.get(), 20000));
  EXPECT_TRUE(daemon.WaitLine(kStderr, "refuse connection from 127.0.0.1:"));
  ASSERT_TRUE(Send(first, Encode(Ping(3))));
  auto a = Answer(first);
  EXPECT_TRUE(a.IsSuccess()) << Describe(a);
  EXPECT_EQ(a.seq, 3);
}

TEST_F(ControlChannel, ReconnectAfterDisconnect) {
  {
    Fd c = Controller();
    ASSERT_TRUE(Send(c, Encode(Ping(1))));
    EXPECT_TRUE(Answer(c).IsSuccess());
  }
  EXPECT_TRUE(daemon.WaitLine(kStderr, " closed."));
  Fd c = Controller();
  ASSERT_TRUE(Send(c, Encode(Ping(2))));
  auto a = Answer(c);
  EXPECT_TRUE(a.IsSuccess()) << Describe(a);
  EXPECT_EQ(a.seq, 2);
}

TEST_F(ControlChannel, PipelinedPingsAreAnsweredInOrder) {
  Fd c = Controller();
  constexpr int kCount = 500;
  Bytes all;
  for (int s = 0; s < kCount; ++s) {
    Bytes f = Frame(Encode(Ping(s, unsigned(s) % 1024)));
    all.insert(all.end(), f.begin(), f.end());
  }
  ASSERT_TRUE(WriteAll(c.get(), all.data(), all.size()));
  for (int s = 0; s < kCount; ++s) {
    auto a = Answer(c);
    ASSERT_TRUE(a.IsSuccess()) << s << ": " << Describe(a);
    ASSERT_EQ(a.seq, s);
    ASSERT_EQ(a.slot, unsigned(s) % 1024);
  }
}

}  // namespace
