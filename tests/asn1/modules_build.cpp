// Messages built through the generated accessors, as the daemon builds
// them: their octets, their exact value notation, and the values that PER
// cannot carry.

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "asn1/asn1.h"
#include "asn1_test_util.h"
#include "modules_headers.h"

namespace {

using namespace asn1test;

std::string hexOf(const ASN1::AbstractData& value) {
  std::string s = perHex(value);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool encodes(const ASN1::AbstractData& value) {
  return perHex(value) != "encode failed";
}

bool decodeHex(const std::string& text, ASN1::AbstractData& value) {
  return perDecode(unhex(text), value);
}

LGCP::Message ping(int seq, int slot) {
  LGCP::Message m;
  if (seq >= 0) {
    m.includeOptionalField(LGCP::Message::o_seq, LGCP::Message::f_seq);
    m.set_seq(seq);
  }
  if (slot >= 0) {
    m.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::f_slot);
    m.set_slot(static_cast<unsigned>(slot));
  }
  m.get_pdu().get_command().select_ping();
  return m;
}

TEST(ModulesBuild, ControlMessages) {
  EXPECT_EQ(hexOf(ping(-1, -1)), "06 00");
  EXPECT_EQ(hexOf(ping(7, 5)), "C0 01 07 00 05 18");
  EXPECT_EQ(ping(7, 5).asValueNotation(), "{\n  seq 7,\n  slot 5,\n  pdu command : ping : NULL\n}");
  EXPECT_EQ(hexOf(ping(-1, 1023)), "40 03 FF 18");

  LGCP::Message success;
  success.get_pdu().get_response().select_success();
  EXPECT_EQ(hexOf(success), "10");

  LGCP::Message error;
  error.get_pdu().get_response().select_error() = LGCP::ErrorCause::invalidSlot;
  EXPECT_EQ(hexOf(error), "18 80");
  EXPECT_EQ(error.asValueNotation(), "{\n  pdu response : error : invalidSlot\n}");

  // Decoding gives back the same message.
  LGCP::Message in;
  ASSERT_TRUE(decodeHex("C0 01 07 00 05 18", in));
  EXPECT_EQ(in.compare(ping(7, 5)), 0);
}

TERM::RadioFlags flags() {
  TERM::RadioFlags f;
  f.set_prio(-1);
  f.set_ptt(true);
  f.set_bss(false);
  f.set_vad_rx(false);
  f.set_vad_tx(true);
  f.set_sql(false);
  f.set_sh(true);
  f.set_pwr(false);
  f.set_rv(true);
  f.set_resv(false);
  f.set_selcall(2);
  f.set_li(300);
  return f;
}

const char kRadioSignal[] = R"({
  slot 12,
  pdu signal : rtpExt : {
    status vorn : {
      flags {
        prio -1,
        ptt TRUE,
        bss FALSE,
        vad-rx FALSE,
        vad-tx TRUE,
        sql FALSE,
        sh TRUE,
        pwr FALSE,
        rv TRUE,
        resv FALSE,
        selcall 2,
        li 300
      },
      freq {
        channel 4,
        frequency "121.500"
      },
      remote {
        no 1,
        ch 2
      },
      squelshe percent-50,
      rte a1b,
      standby-state-channel active,
      standby-group 0,
      standby-state-receiver standby
    },
    request vorn : {
      addr {
        session-addr "239.1.1.1",
        session-ssrc 3000000000
      },
      params gw-set-flags : {
        flags {
          prio -1,
          ptt TRUE,
          bss FALSE,
          vad-rx FALSE,
          vad-tx TRUE,
          sql FALSE,
          sh TRUE,
          pwr FALSE,
          rv TRUE,
          resv FALSE,
          selcall 2,
          li 300
        }
      }
    },
    rx-delay 10,
    bss-enable TRUE
  }
})";

TEST(ModulesBuild, NestedRadioSignalPrintsExactly) {
  LGCP::Message m;
  m.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::f_slot);
  m.set_slot(12);
  TERM::RtpRadioRequest& req = m.get_pdu().get_signal().select_rtpExt();

  TERM::VornRadioStatus& status = req.get_status().select_vorn();
  status.set_flags(flags());
  TERM::RadioFrequency freq;
  freq.set_channel(4);
  freq.set_frequency("121.500");
  status.set_freq(freq);
  TERM::RadioRemote remote;
  remote.set_no(1);
  remote.set_ch(2);
  status.set_remote(remote);
  status.set_squelshe(TERM::RadioSquelshe::percent_50);
  status.set_rte(TERM::RadioRTE::a1b);
  status.set_standby_state_channel(TERM::RadioStandby::active);
  status.set_standby_group(0);
  status.set_standby_state_receiver(TERM::RadioStandby::standby);

  req.includeOptionalField(TERM::RtpRadioRequest::o_request, TERM::RtpRadioRequest::f_request);
  TERM::VornRadioModifier& mod = req.get_request().select_vorn();
  mod.get_addr().set_session_addr("239.1.1.1");
  mod.get_addr().set_session_ssrc(3000000000u);
  mod.get_params().select_gw_set_flags().set_flags(flags());
  req.includeOptionalField(TERM::RtpRadioRequest::o_rx_delay, TERM::RtpRadioRequest::f_rx_delay);
  req.set_rx_delay(10);
  req.includeOptionalField(TERM::RtpRadioRequest::o_bss_enable,
                           TERM::RtpRadioRequest::f_bss_enable);
  req.set_bss_enable(true);

  EXPECT_EQ(m.asValueNotation(), kRadioSignal);
  const char hex[] =
      "40 00 0C 8F 68 00 01 FF 95 40 01 2C 01 04 07 31 32 31 2E 35 30 30 01 02 6A 80 00 80 09 32 "
      "33 39 2E "
      "31 2E 31 2E 31 C0 B2 D0 5E 00 00 01 FF 95 40 01 2C 01 0A 80";
  EXPECT_EQ(hexOf(m), hex);
  LGCP::Message back;
  ASSERT_TRUE(decodeHex(hex, back));
  EXPECT_EQ(back.asValueNotation(), kRadioSignal);
}

const char kVornPackets[] = R"({
  packets {
    {
      msgLength 12,
      msgSeqNum 300,
      msgID gw-keep-alive,
      stateProtocol protocol-v2,
      stateMode ggs,
      stateMaster 0,
      srcAddr rgw,
      srcChannel 1,
      dstAddr lgw,
      dstChannel 0,
      payload gw-keep-alive : keep-alive-v2 : {
        gateway-id 7,
        bus-windows-size 3
      }
    }
  }
})";

TEST(ModulesBuild, VorngwPacketPrintsExactly) {
  VORNGW::ProtoVornPacket p;
  p.set_msgLength(12);
  p.set_msgSeqNum(300);
  p.set_msgID(VORNGW::ProtoVornMsgID::gw_keep_alive);
  p.set_stateProtocol(VORNGW::ProtoVornProtocol::protocol_v2);
  p.set_stateMode(VORNGW::ProtoVornMode::ggs);
  p.set_stateMaster(0);
  p.set_srcAddr(VORNGW::ProtoVornAddress::rgw);
  p.set_srcChannel(1);
  p.set_dstAddr(VORNGW::ProtoVornAddress::lgw);
  p.set_dstChannel(0);
  VORNGW::ProtoVornPacketPayloadGWKeepAliveV2& ka =
      p.get_payload().select_gw_keep_alive().select_keep_alive_v2();
  ka.set_gateway_id(7);
  ka.set_bus_windows_size(3);
  VORNGW::ProtoVornPackets packets;
  packets.get_packets().push_back(p);

  EXPECT_EQ(packets.asValueNotation(), kVornPackets);
  const std::string body =
      "01 00 01 0C 02 01 2C 00 10 02 48 01 00 20 01 01 00 01 00 01 40 01 07 01 03";
  EXPECT_EQ(hexOf(packets), "00 " + body);

  // Carried by a control command (answered unexpectedMsgType, but decodable).
  LGCP::Message m;
  m.includeOptionalField(LGCP::Message::o_seq, LGCP::Message::f_seq);
  m.set_seq(42);
  m.get_pdu().get_command().select_protoVorn() = packets;
  EXPECT_EQ(hexOf(m), "80 01 2A 1C " + body);
  LGCP::Message back;
  ASSERT_TRUE(decodeHex("80 01 2A 1C " + body, back));
  EXPECT_EQ(back.compare(m), 0);
}

TEST(ModulesBuild, MonitoringMessages) {
  MON::Message ping;
  ping.get_pdu().get_command().select_ping();
  EXPECT_EQ(hexOf(ping), "18");
  EXPECT_EQ(ping.asValueNotation(), "{\n  pdu command : ping : NULL\n}");

  MON::Message set;
  MON::SnmpSetCommand cmd;
  cmd.set_uniq(5);
  cmd.get_id().select_oid() = "1.3.6.1.2.1.1.3.0";
  cmd.set_value("12345");
  set.get_pdu().get_command().select_snmp_set().get_commands().push_back(cmd);
  EXPECT_EQ(
      hexOf(set),
      "00 01 00 01 05 00 11 31 2E 33 2E 36 2E 31 2E 32 2E 31 2E 31 2E 33 2E 30 05 31 32 33 34 35");

  // A trap receiver without a port goes with the port absent.
  MON::Message sinks;
  MON::SnmpTrapsink a, b;
  a.set_host("10.0.0.5");
  b.set_host("10.0.0.6");
  b.includeOptionalField(MON::SnmpTrapsink::o_port, MON::SnmpTrapsink::f_port);
  b.set_port(162);
  auto& list = sinks.get_pdu().get_command().select_snmp_trapsink_set().get_trapsinks();
  list.push_back(a);
  list.push_back(b);
  EXPECT_EQ(hexOf(sinks),
            "08 02 00 08 31 30 2E 30 2E 30 2E 35 40 08 31 30 2E 30 2E 30 2E 36 02 00 A2");

  MON::Message in;
  ASSERT_TRUE(decodeHex("58", in));
  EXPECT_EQ(in.asValueNotation(), "{\n  pdu response : ping : success : NULL\n}");
}

// Values that the coder must refuse: outside a fixed range, an enumeration
// outside a non-extendable root, a size outside the string's bounds.
TEST(ModulesBuild, ValuesOutsideTheirConstraints) {
  TERM::RadioCommandGWSetStandby standby;
  standby.set_state(TERM::RadioStandby::active);
  EXPECT_EQ(hexOf(standby), "00");
  standby.set_state(TERM::RadioStandby::standby);
  EXPECT_EQ(hexOf(standby), "80");
  standby.set_state(TERM::RadioStandby::not_use);  // below the coded range 0..1
  EXPECT_FALSE(encodes(standby));
  EXPECT_EQ(standby.asValueNotation(), "{\n  state -1\n}");  // a negative value has no name

  ACP::TrunkStatus ts;
  ts.set_state(ACP::TrunkState::disabled);
  ts.set_type(ACP::TrunkType::bri);
  EXPECT_TRUE(encodes(ts));  // name may be empty
  ts.get_state().setFromInt(7);
  EXPECT_FALSE(encodes(ts));  // TrunkState has no extension
  ts.set_state(ACP::TrunkState::normal);
  ts.get_type().setFromInt(2);  // TrunkType has one
  ASSERT_TRUE(encodes(ts));
  ACP::TrunkStatus back;
  ASSERT_TRUE(decodeHex(hexOf(ts), back));
  EXPECT_EQ(back.get_type().asInt(), 2);

  TERM::RtpParams rtp;
  rtp.get_dhost().set_iaddr("10.0.0.1");
  ASSERT_TRUE(encodes(rtp));
  rtp.includeOptionalField(TERM::RtpParams::o_ttl, TERM::RtpParams::f_ttl);
  rtp.set_ttl(0);
  EXPECT_FALSE(encodes(rtp));
  rtp.set_ttl(255);
  EXPECT_TRUE(encodes(rtp));
  rtp.includeOptionalField(TERM::RtpParams::o_dname, TERM::RtpParams::f_dname);
  rtp.set_dname("");
  EXPECT_FALSE(encodes(rtp));
  rtp.set_dname(std::string(65, 'x'));
  EXPECT_FALSE(encodes(rtp));
  rtp.set_dname(std::string(64, 'x'));
  EXPECT_TRUE(encodes(rtp));
  rtp.includeOptionalField(TERM::RtpParams::o_ssrc, TERM::RtpParams::f_ssrc);
  rtp.set_ssrc(4294967295u);
  EXPECT_TRUE(encodes(rtp));
  rtp.includeOptionalField(TERM::RtpParams::o_qos_dscp, TERM::RtpParams::f_qos_dscp);
  rtp.get_qos_dscp().setFromInt(2);  // no such code point, but inside 0..56
  EXPECT_TRUE(encodes(rtp));
  rtp.get_qos_dscp().setFromInt(57);
  EXPECT_FALSE(encodes(rtp));

  TERM::RadioFlags f = flags();
  f.set_li(512);
  EXPECT_FALSE(encodes(f));
  f.set_li(511);
  f.set_selcall(4);
  EXPECT_FALSE(encodes(f));

  LGCP::Message m = ping(-1, 1023);
  m.set_slot(1024);
  EXPECT_FALSE(encodes(m));
  LGCP::Message none;
  EXPECT_FALSE(encodes(none));  // a PDU must be chosen
}

}  // namespace
