// Octet vectors of the control and monitoring messages, checked both ways:
// the octets decode into a value that prints as given, and that value
// encodes back into the same octets.  Every alternative of the command,
// signal, create and ioctl choices and of the monitoring PDU has a row, and
// so has every kind of construct the modules use (extension additions,
// sparse and negative enumerations, unsigned 32-bit ranges, sized strings,
// lists).  The rows give the text with its line breaks folded into single
// spaces; the layout itself is checked exactly in modules_build.cpp.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1_test_util.h"
#include "modules_headers.h"

namespace {

using namespace asn1test;

struct Vector {
  const char* label;
  const void* info;  // record of the top-level type
  const char* hex;
  const char* text;  // value notation, line breaks folded
};

std::string folded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n') {
      out += text[i];
      continue;
    }
    while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
    out += ' ';
  }
  return out;
}

Value make(const void* info) {
  return Value(ASN1::AbstractData::create(info));
}

// Decodes, prints, re-encodes; returns the decoded value for further checks.
Value checkVector(const Vector& v) {
  SCOPED_TRACE(v.label);
  Value value = make(v.info);
  std::vector<char> bytes = unhex(v.hex);
  EXPECT_TRUE(perDecode(bytes, *value));
  EXPECT_EQ(folded(value->asValueNotation()), v.text);
  EXPECT_EQ(perHex(*value), hex(bytes));
  Value copy(value->clone());
  EXPECT_EQ(copy->compare(*value), 0);
  return value;
}

// The selection index reached from a SEQUENCE/CHOICE value by a path of
// field positions (for a SEQUENCE) and selections (for a CHOICE, "-1").
const ASN1::AbstractData* descend(const ASN1::AbstractData* v, std::initializer_list<int> path) {
  for (int step : path) {
    if (!v) return nullptr;
    if (step < 0) {
      const ASN1::CHOICE* c = dynamic_cast<const ASN1::CHOICE*>(v);
      v = c ? c->getSelection() : nullptr;
    } else {
      const ASN1::SEQUENCE* s = dynamic_cast<const ASN1::SEQUENCE*>(v);
      v = s ? s->getField(static_cast<unsigned>(step)) : nullptr;
    }
  }
  return v;
}

int selectionAt(const ASN1::AbstractData* v, std::initializer_list<int> path) {
  const ASN1::CHOICE* c = dynamic_cast<const ASN1::CHOICE*>(descend(v, path));
  return c ? c->currentSelection() : -100;
}

// Checks every row and that the rows cover every alternative 0..count-1 of
// the choice reached by the path.
template <std::size_t N>
void checkGroup(const Vector (&rows)[N], std::initializer_list<int> path, int count) {
  std::set<int> seen;
  for (const Vector& v : rows) {
    Value value = checkVector(v);
    if (count > 0) seen.insert(selectionAt(value.get(), path));
  }
  if (count > 0) {
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
      EXPECT_TRUE(seen.count(i)) << "alternative " << i << " has no row";
  }
}

const Vector kBasicVectors[] = {
    {"ping, no seq, no slot", &LGCP::Message::theInfo, "06 00", "{ pdu command : ping : NULL }"},
    {"success response", &LGCP::Message::theInfo, "10", "{ pdu response : success : NULL }"},
    {"error slotNotExists seq 128 slot 1023", &LGCP::Message::theInfo, "C0 02 00 80 03 FF 63",
     "{ seq 128, slot 1023, pdu response : error : slotNotExists }"},
    {"seq -1 slot 0", &LGCP::Message::theInfo, "C0 01 FF 00 00 6C",
     "{ seq -1, slot 0, pdu response : error : destroyInProgress }"},
};

const Vector kCommandVectors[] = {
    {"query", &LGCP::Message::theInfo, "C0 01 01 00 02 00",
     "{ seq 1, slot 2, pdu command : query : NULL }"},
    {"testBpc", &LGCP::Message::theInfo, "C0 01 01 00 02 03 E0 01 FE 80 7F",
     "{ seq 1, slot 2, pdu command : testBpc : { bus 15, seed -2, mode disconnect : NULL, "
     "timeslot-start "
     "0, timeslot-length 127 } }"},
    {"connect", &LGCP::Message::theInfo, "C0 01 01 00 02 04 03 FF",
     "{ seq 1, slot 2, pdu command : connect : 1023 }"},
    {"disconnect", &LGCP::Message::theInfo, "C0 01 01 00 02 06",
     "{ seq 1, slot 2, pdu command : disconnect : NULL }"},
    {"create", &LGCP::Message::theInfo, "C0 01 01 00 02 08 38 01 F8",
     "{ seq 1, slot 2, pdu command : create : trunk : { trunk 1, timeslot 31 } }"},
    {"destroy", &LGCP::Message::theInfo, "C0 01 01 00 02 0A",
     "{ seq 1, slot 2, pdu command : destroy : NULL }"},
    {"activate", &LGCP::Message::theInfo,
     "C0 01 01 00 02 0C 40 08 31 30 2E 31 2E 31 2E 32 0D 32 35 35 2E 32 35 35 2E 32 35 35 2E 30 08 "
     "31 30 "
     "2E 31 2E 31 2E 31 00 02 05 DC",
     R"({ seq 1, slot 2, pdu command : activate : modem : { remoteAddr "10.1.1.2", netmask "255.255.255.0", )"
     R"(gateway "10.1.1.1", dns "", mtu 1500 } })"},
    {"deactivate", &LGCP::Message::theInfo, "C0 01 01 00 02 0E",
     "{ seq 1, slot 2, pdu command : deactivate : NULL }"},
    {"userData", &LGCP::Message::theInfo, "C0 01 01 00 02 10 03 01 02 03",
     "{ seq 1, slot 2, pdu command : userData : '01 02 03'H }"},
    {"ioctl", &LGCP::Message::theInfo, "C0 01 01 00 02 12 1A",
     "{ seq 1, slot 2, pdu command : ioctl : echoSuppressor : TRUE }"},
    {"trunkCfg", &LGCP::Message::theInfo, "C0 01 01 00 02 14 01 02 80",
     "{ seq 1, slot 2, pdu command : trunkCfg : { trunk 2, mode master } }"},
    {"clockCfg", &LGCP::Message::theInfo, "C0 01 01 00 02 17 80 01 03",
     "{ seq 1, slot 2, pdu command : clockCfg : { clkSel0 internal, bextEn disabled, source 3 } }"},
    {"ping", &LGCP::Message::theInfo, "C0 01 01 00 02 18",
     "{ seq 1, slot 2, pdu command : ping : NULL }"},
    {"display", &LGCP::Message::theInfo, "C0 01 01 00 02 1A 4D 80",
     "{ seq 1, slot 2, pdu command : display : framer : { e1 3, info link : TRUE } }"},
    {"protoVorn", &LGCP::Message::theInfo,
     "C0 01 01 00 02 1C 01 00 01 18 01 01 00 10 14 44 01 01 00 01 00 20 01 03 06 00 01 03 03 01 01 "
     "02 00 "
     "FF 01 FF",
     "{ seq 1, slot 2, pdu command : protoVorn : { packets { { msgLength 24, msgSeqNum 1, msgID "
     "gw-rad-ptt-on=4116, stateProtocol protocol-v2, stateMode radio, stateMaster 1, srcAddr lgw, "
     "srcChannel 0, dstAddr rgw, dstChannel 3, payload gw-rad-ptt-on : { channel 3, payload { 1, "
     "255, -1 } "
     "} } } } }"},
};

const Vector kSignalVectors[] = {
    {"query", &LGCP::Message::theInfo,
     "40 00 09 80 40 01 02 01 01 20 03 31 2E 32 0A 32 30 32 36 2D 31 32 2D 30 37 01 4D 01 00 01 00 "
     "01 40 "
     "01 20 01 04 01 00 01 00 01 08 01 08 01 10 01 01 01 02 01 03 80 01 01 01 02 01 03 00 01 02 01 "
     "00 01 "
     "00 01 01",
     R"({ slot 9, pdu signal : query : { boardMajor 2, boardMinor 1, drvVersion { type snapshot, version )"
     R"("1.2", date "2026-12-07", revision 77 }, rtp-g729 0, rtp-g723 0, rtp-g711 64, rtp-g711mcc 32, modem )"
     R"(4, mixer { { unit 0, tdm_inputs 8, tdm_outputs 8, mixer_inputs 16, dpu_per_mixer 1, dpu_per_ec 2, )"
     R"(dpu_per_lms 3 } }, mux TRUE, mcc-data 1, mcc-bri 2, mcc-trans 3, echoBus { }, t38-instances 2, )"
     R"(digital-modems 0, lin16 0, universal 1 } })"},
    {"tonec", &LGCP::Message::theInfo, "40 00 09 81 02 03 E8 00 A0",
     "{ slot 9, pdu signal : tonec : { timestamp 1000, event dtmf : 5 } }"},
    {"number", &LGCP::Message::theInfo, "40 00 09 82 04 30 31 32 33",
     R"({ slot 9, pdu signal : number : "0123" })"},
    {"modemProceeding", &LGCP::Message::theInfo,
     "40 00 09 83 40 01 FF 01 00 01 01 01 02 01 03 01 04 01 05 01 06 01 07 01 08",
     "{ slot 9, pdu signal : modemProceeding : acct : { octetsOut { low -1, high 0 }, octetsIn { "
     "low 1, "
     "high 2 }, packetsOut { low 3, high 4 }, packetsIn { low 5, high 6 }, time { low 7, high 8 } "
     "} }"},
    {"modemInformation", &LGCP::Message::theInfo, "40 00 09 84 00 03 00 83 40 02 70 80 A0",
     "{ slot 9, pdu signal : modemInformation : { rxSpeed 33600, txSpeed 28800, carrier isdn } }"},
    {"activated", &LGCP::Message::theInfo, "40 00 09 85",
     "{ slot 9, pdu signal : activated : NULL }"},
    {"deactivated", &LGCP::Message::theInfo, "40 00 09 86 40",
     "{ slot 9, pdu signal : deactivated : otherError }"},
    {"abort", &LGCP::Message::theInfo, "40 00 09 87 02 FF 7F",
     "{ slot 9, pdu signal : abort : -129 }"},
    {"userData", &LGCP::Message::theInfo, "40 00 09 88 00",
     "{ slot 9, pdu signal : userData : ''H }"},
    {"receiver", &LGCP::Message::theInfo, "40 00 09 89 80 01 05",
     "{ slot 9, pdu signal : receiver : active : 5 }"},
    {"transmitter", &LGCP::Message::theInfo, "40 00 09 8A 00",
     "{ slot 9, pdu signal : transmitter : inactive : NULL }"},
    {"trunkStatus", &LGCP::Message::theInfo,
     "40 00 09 8B 00 01 00 40 01 00 01 01 01 02 01 03 01 04 00 A0",
     R"({ slot 9, pdu signal : trunkStatus : { trunk 0, state lossCarrier, slips 0, lossBF 1, lossCarrier 2, )"
     R"(lossAIS 3, lossRAI 4, name "", clockMaster TRUE, type bri } })"},
    {"ioctl", &LGCP::Message::theInfo, "40 00 09 8C 60 01 01 01 02 01 03 01 04 01 05",
     "{ slot 9, pdu signal : ioctl : hdlcLinkInfo : { txSU 1, txDiscard 2, txError 3, txOverflow "
     "4, rxSU 5 "
     "} }"},
    {"loadAvg", &LGCP::Message::theInfo, "40 00 09 8D 01 01 01 05 01 0F 01 0A 01 00 01 55 01 05",
     "{ slot 9, pdu signal : loadAvg : { average1 1, average5 5, average15 15, cpuUseage 10, "
     "cpuNicage 0, "
     "cpuIdlage 85, cpuSysage 5 } }"},
    {"cas", &LGCP::Message::theInfo, "40 00 09 8E 01 01 01 11 01 09 01 0D",
     "{ slot 9, pdu signal : cas : { channel { path 1, timeslot 17 }, rx 9, tx 13 } }"},
    {"rtpExt", &LGCP::Message::theInfo,
     "40 00 09 8F 01 58 5F D0 5F 62 58 80 03 D4 02 04 64 E7 06 08 33 E0 FE",
     "{ slot 9, pdu signal : rtpExt : { status ed-137 : { header { ptt normal-ptt-on, squ squ-on, "
     "ptt-id "
     "63, ptt-mute FALSE, ptt-summation TRUE, sct FALSE }, radio-response { type radio-txrx, "
     "txrxmode "
     "txrx, sigtime 50, r2s-keepalive-period 1000, r2s-keepalive-multiplier 2, fid 399975, ptt-id "
     "1, rtphe "
     "1, no-freq-disconn NULL, code radio-no-permissions=2099, qos-dscp cs7=56 }, sqi { bss-method "
     "psd, "
     "bss-quality 31 } }, selcal-sh-enable FALSE } }"},
    {"vad", &LGCP::Message::theInfo, "40 00 09 90 A0",
     "{ slot 9, pdu signal : vad : { vad-rx TRUE } }"},
    {"power", &LGCP::Message::theInfo, "40 00 09 91 C0", "{ slot 9, pdu signal : power : both }"},
    {"protoVorn", &LGCP::Message::theInfo, "40 00 09 92 00 00",
     "{ slot 9, pdu signal : protoVorn : { packets { } } }"},
    {"sd", &LGCP::Message::theInfo, "40 00 09 93 00", "{ slot 9, pdu signal : sd : { } }"},
    {"bss", &LGCP::Message::theInfo, "40 00 09 94 00 02 34 32",
     R"({ slot 9, pdu signal : bss : { score "42" } })"},
    {"rtp", &LGCP::Message::theInfo, "40 00 09 95 01 01 02 01 2C",
     "{ slot 9, pdu signal : rtp : pd : { value 1, timeout 300 } }"},
    {"selcal", &LGCP::Message::theInfo, "40 00 09 96 40",
     "{ slot 9, pdu signal : selcal : { in-progress TRUE } }"},
};

const Vector kCreateVectors[] = {
    {"mixerOut", &LGCP::Message::theInfo,
     "40 00 64 08 00 01 00 80 01 03 02 00 01 01 01 FA 80 01 02 01 00",
     "{ slot 100, pdu command : create : mixerOut : { unit 0, channel rtp : 3, inputs { { channel "
     "tdm : 1, "
     "gain -6 }, { channel rtp : 2, gain 0 } } } }"},
    {"mixerIn", &LGCP::Message::theInfo, "40 00 64 08 0A 01 01 00 01 04 80",
     "{ slot 100, pdu command : create : mixerIn : { unit 1, channel tdm : 4, ecm { ec TRUE, es "
     "FALSE } } }"},
    {"rtpOnMixer", &LGCP::Message::theInfo,
     "40 00 64 08 10 01 00 01 01 01 02 00 00 00 08 31 30 2E 30 2E 30 2E 31 13 8C",
     R"({ slot 100, pdu command : create : rtpOnMixer : { unit 0, tdm 1, rtp 2, params { payload )"
     R"(ptG711-Alaw, dhost { iaddr "10.0.0.1", port 5004 } } } })"},
    {"voice", &LGCP::Message::theInfo,
     "40 00 64 08 1D 02 05 61 2E 77 61 76 05 62 2E 77 61 76 01 00",
     R"({ slot 100, pdu command : create : voice : player : file : { name { "a.wav", "b.wav" }, repeat 0 } })"},
    {"rtp", &LGCP::Message::theInfo,
     "40 00 64 08 21 FF FC 08 31 30 2E 30 2E 30 2E 31 13 8C 0C 31 39 32 2E 31 36 38 2E 31 2E 32 30 "
     "FF FF "
     "18 72 61 64 69 6F 2D 31 01 28 02 00 C8 01 02 01 FF A2 00 01 01 AA E0 01 FF 01 02 07 31 31 38 "
     "2E 31 "
     "30 30 FF 00 CF E0 C8 00 01 0A 40 01 05 01 01 40 01 03 02 04 D2 C0 FF FF FF FF FE 5C C8",
     R"({ slot 100, pdu command : create : rtp : { codecRTP { payload ptR2S, dhost { iaddr "10.0.0.1", port )"
     R"(5004 }, shost { iaddr "192.168.1.20", port 65535 }, dname "radio-1", jitter { start 40, max 200 }, )"
     R"(pfactor 2, crate -1, vad TRUE, echo { suppressor TRUE, canceller FALSE }, radio { status vorn : { )"
     R"(flags { prio 1, ptt TRUE, bss FALSE, vad-rx TRUE, vad-tx FALSE, sql TRUE, sh FALSE, pwr TRUE, rv )"
     R"(FALSE, resv TRUE, selcall 3, li 511 }, freq { channel 2, frequency "118.100" }, remote { no 255, ch )"
     R"(0 }, squelshe percent-100, rte j3e, standby-state-channel standby, standby-group 200, )"
     R"(standby-state-receiver active }, rx-delay 10 }, rtp-e2m { slot 5, channel 1, mode only-rtp : { fd 3, )"
     R"(pid 1234 } }, ssrc 4294967295, ttl 255, qos-dscp count=23 }, txPayload ptG729, rxPayload ptG723 } })"},
    {"modem", &LGCP::Message::theInfo,
     "40 00 64 08 2A 90 03 31 30 30 03 32 30 30 01 C0 01 02 2D 76",
     R"({ slot 100, pdu command : create : modem : { cid "100", cdid "200", ddm { ddmV120 }, originate NULL, )"
     R"(execargs { "-v" } } })"},
    {"pstn", &LGCP::Message::theInfo, "40 00 64 08 30 01 00 01 01 01 64 02 00 C8 00",
     "{ slot 100, pdu command : create : pstn : ss7 : { trunk 0, slc 1, dpc 100, opc 200, "
     "emergency FALSE "
     "} }"},
    {"trunk", &LGCP::Message::theInfo, "40 00 64 08 38 FF 08",
     "{ slot 100, pdu command : create : trunk : { trunk 255, timeslot 1 } }"},
    {"trunk_bri", &LGCP::Message::theInfo, "40 00 64 08 40 03 10",
     "{ slot 100, pdu command : create : trunk_bri : { trunk 3, timeslot 2 } }"},
    {"map", &LGCP::Message::theInfo, "40 00 64 08 4B FF C0",
     "{ slot 100, pdu command : create : map : { receiver { bus 15, channel 127 } } }"},
    {"ext", &LGCP::Message::theInfo, "40 00 64 08 50 01 01 01 02",
     "{ slot 100, pdu command : create : ext : { transmitter 1, receiver 2 } }"},
    {"mcc", &LGCP::Message::theInfo, "40 00 64 08 5D",
     "{ slot 100, pdu command : create : mcc : { type transparent, mode ss7 } }"},
    {"echo", &LGCP::Message::theInfo, "40 00 64 08 60 01 00 01 01",
     "{ slot 100, pdu command : create : echo : { bus 0, channel 1 } }"},
    {"t38soft", &LGCP::Message::theInfo,
     "40 00 64 08 68 08 31 30 2E 30 2E 30 2E 31 13 8C 0C 31 39 32 2E 31 36 38 2E 31 2E 32 30 FF FF "
     "02 00 "
     "A0 01 02 01 03 00",
     R"({ slot 100, pdu command : create : t38soft : { dhost { iaddr "10.0.0.1", port 5004 }, shost { iaddr )"
     R"("192.168.1.20", port 65535 }, rx-packet-size 160, rx-threshold 2, tx-threshold 3, args { } } })"},
    {"isdn", &LGCP::Message::theInfo, "40 00 64 08 72 01 01 01 00 80",
     "{ slot 100, pdu command : create : isdn : { type pri, trunk 1, log 0, side network : NULL } "
     "}"},
    {"hdlcParams", &LGCP::Message::theInfo, "40 00 64 08 78 01 02 01 10 01 03",
     "{ slot 100, pdu command : create : hdlcParams : { trunk 2, log 16, address 3 } }"},
    {"spi-tdm", &LGCP::Message::theInfo, "40 00 64 08 80 01 07",
     "{ slot 100, pdu command : create : spi-tdm : { channel 7 } }"},
    {"ats-qsig", &LGCP::Message::theInfo, "40 00 64 08 88 01 01",
     "{ slot 100, pdu command : create : ats-qsig : { side user : NULL, log 1 } }"},
    {"ats-qsig-b", &LGCP::Message::theInfo, "40 00 64 08 90 03 FF 80",
     "{ slot 100, pdu command : create : ats-qsig-b : { slot 1023, subslot 3 } }"},
    {"usb-tdm", &LGCP::Message::theInfo, "40 00 64 08 98 01 00",
     "{ slot 100, pdu command : create : usb-tdm : { channel 0 } }"},
};

const Vector kIoctlVectors[] = {
    {"activateRecord", &LGCP::Message::theInfo, "40 00 07 12 00 08 31 30 2E 30 2E 30 2E 31 13 8C",
     R"({ slot 7, pdu command : ioctl : activateRecord : { iaddr "10.0.0.1", port 5004 } })"},
    {"deactivateRecord", &LGCP::Message::theInfo, "40 00 07 12 04",
     "{ slot 7, pdu command : ioctl : deactivateRecord : NULL }"},
    {"activateTonec", &LGCP::Message::theInfo, "40 00 07 12 08 02 80",
     "{ slot 7, pdu command : ioctl : activateTonec : { r1 : NULL, dtmf : NULL } }"},
    {"deactivateTonec", &LGCP::Message::theInfo, "40 00 07 12 0C",
     "{ slot 7, pdu command : ioctl : deactivateTonec : NULL }"},
    {"ss7RqBSN", &LGCP::Message::theInfo, "40 00 07 12 10",
     "{ slot 7, pdu command : ioctl : ss7RqBSN : NULL }"},
    {"ss7Log", &LGCP::Message::theInfo, "40 00 07 12 15 56",
     "{ slot 7, pdu command : ioctl : ss7Log : { state TRUE, raw-receive FALSE, raw-transmit TRUE, "
     "mtp-transmit FALSE, mtp-receive TRUE, mtp-activate FALSE, timers TRUE, msu-processing TRUE } "
     "}"},
    {"echoSuppressor", &LGCP::Message::theInfo, "40 00 07 12 18",
     "{ slot 7, pdu command : ioctl : echoSuppressor : FALSE }"},
    {"activateWaitTone", &LGCP::Message::theInfo, "40 00 07 12 1C",
     "{ slot 7, pdu command : ioctl : activateWaitTone : NULL }"},
    {"deactivateWaitTone", &LGCP::Message::theInfo, "40 00 07 12 20",
     "{ slot 7, pdu command : ioctl : deactivateWaitTone : NULL }"},
    {"translateDTMF", &LGCP::Message::theInfo, "40 00 07 12 25 40 01 02 02 B9 02 04 B9 01 F6 01 32",
     "{ slot 7, pdu command : ioctl : translateDTMF : { digits { { freq1 697, freq2 1209 } }, amp2 "
     "-10, "
     "pauseDuration 50 } }"},
    {"dtmf-params", &LGCP::Message::theInfo, "40 00 07 12 28 00 00 FF FF 01 00 00 FF",
     "{ slot 7, pdu command : ioctl : dtmf-params : { threshold { twist 0, ratio 65535, noise 256 "
     "}, level "
     "{ silence 255 } } }"},
    {"dtmf-enable", &LGCP::Message::theInfo, "40 00 07 12 2E",
     "{ slot 7, pdu command : ioctl : dtmf-enable : TRUE }"},
    {"encoder-mode", &LGCP::Message::theInfo, "40 00 07 12 32",
     "{ slot 7, pdu command : ioctl : encoder-mode : lbrc }"},
    {"decoder-mode", &LGCP::Message::theInfo, "40 00 07 12 35",
     "{ slot 7, pdu command : ioctl : decoder-mode : ulaw }"},
    {"dtmf-disable", &LGCP::Message::theInfo, "40 00 07 12 38",
     "{ slot 7, pdu command : ioctl : dtmf-disable : NULL }"},
    {"cas", &LGCP::Message::theInfo, "40 00 07 12 3C 01 00 01 01 80 01 05",
     "{ slot 7, pdu command : ioctl : cas : { channel { path 0, timeslot 1 }, cmd set : 5 } }"},
    {"rtpExt", &LGCP::Message::theInfo, "40 00 07 12 40 08 31 30 2E 30 2E 30 2E 39 00 00 4D FF 00",
     R"({ slot 7, pdu command : ioctl : rtpExt : vorn : { addr { session-addr "10.0.0.9", session-ssrc 0 }, )"
     R"(params wm-standby : { state-channel standby, group 255, state-receiver active } } })"},
    {"vad-params", &LGCP::Message::theInfo, "40 00 07 12 45 00 01 64 02 01 2C 01 D8",
     "{ slot 7, pdu command : ioctl : vad-params : v2 : { voice-th-msec 100, silence-th-msec 300, "
     "e-th-dB "
     "-40 } }"},
    {"vad-enable", &LGCP::Message::theInfo, "40 00 07 12 4A",
     "{ slot 7, pdu command : ioctl : vad-enable : TRUE }"},
    {"vad-disable", &LGCP::Message::theInfo, "40 00 07 12 4C",
     "{ slot 7, pdu command : ioctl : vad-disable : NULL }"},
    {"hdlcPackages", &LGCP::Message::theInfo, "40 00 07 12 50 02 01 7E 02 01 02",
     "{ slot 7, pdu command : ioctl : hdlcPackages : { { body '7e'H }, { body '01 02'H } } }"},
    {"dtmf-reject-enable", &LGCP::Message::theInfo, "40 00 07 12 54",
     "{ slot 7, pdu command : ioctl : dtmf-reject-enable : FALSE }"},
    {"dtmf-reject-disable", &LGCP::Message::theInfo, "40 00 07 12 58",
     "{ slot 7, pdu command : ioctl : dtmf-reject-disable : NULL }"},
    {"sd-params", &LGCP::Message::theInfo, "40 00 07 12 5C",
     "{ slot 7, pdu command : ioctl : sd-params : NULL }"},
    {"sd-enable", &LGCP::Message::theInfo, "40 00 07 12 62",
     "{ slot 7, pdu command : ioctl : sd-enable : TRUE }"},
    {"sd-disable", &LGCP::Message::theInfo, "40 00 07 12 64",
     "{ slot 7, pdu command : ioctl : sd-disable : NULL }"},
    {"mute-enable", &LGCP::Message::theInfo, "40 00 07 12 6B 80",
     "{ slot 7, pdu command : ioctl : mute-enable : { rx TRUE, tx FALSE } }"},
    {"mute-disable", &LGCP::Message::theInfo, "40 00 07 12 6C",
     "{ slot 7, pdu command : ioctl : mute-disable : NULL }"},
    {"iva-enable", &LGCP::Message::theInfo, "40 00 07 12 72",
     "{ slot 7, pdu command : ioctl : iva-enable : TRUE }"},
    {"iva-params", &LGCP::Message::theInfo, "40 00 07 12 74 01 E2",
     "{ slot 7, pdu command : ioctl : iva-params : { det_lvl_dB -30 } }"},
    {"pd-enable", &LGCP::Message::theInfo, "40 00 07 12 78 02 01 F4",
     "{ slot 7, pdu command : ioctl : pd-enable : { timeout 500 } }"},
    {"pd-disable", &LGCP::Message::theInfo, "40 00 07 12 7C",
     "{ slot 7, pdu command : ioctl : pd-disable : NULL }"},
    {"rx-gain", &LGCP::Message::theInfo, "40 00 07 12 80 01 FD",
     "{ slot 7, pdu command : ioctl : rx-gain : { gainDB -3 } }"},
    {"delays", &LGCP::Message::theInfo, "40 00 07 12 84 C0 01 14 01 00",
     "{ slot 7, pdu command : ioctl : delays : { tx 20, selcal 0 } }"},
    {"tone-filter", &LGCP::Message::theInfo, "40 00 07 12 88 02 08 34 80 02 01 90 01 DD",
     "{ slot 7, pdu command : ioctl : tone-filter : { freq 2100, enable TRUE, duration-th-msec "
     "400, "
     "det-level-dB -35 } }"},
    {"tone-gen-enable", &LGCP::Message::theInfo, "40 00 07 12 8C 02 03 E8 01 F6",
     "{ slot 7, pdu command : ioctl : tone-gen-enable : { freq 1000, amp -10 } }"},
    {"tone-gen-disable", &LGCP::Message::theInfo, "40 00 07 12 90",
     "{ slot 7, pdu command : ioctl : tone-gen-disable : NULL }"},
    {"selcal", &LGCP::Message::theInfo, "40 00 07 12 96 01 03 05 41 42 2D 43 44",
     R"({ slot 7, pdu command : ioctl : selcal : { amp 3, signs "AB-CD" } })"},
};

const Vector kConstructVectors[] = {
    {"dtmfDone extension addition", &LGCP::Message::theInfo, "40 00 01 81 01 00 80 01 00",
     "{ slot 1, pdu signal : tonec : { timestamp 0, event dtmfDone : NULL } }"},
    {"tone-presence", &LGCP::Message::theInfo, "20 40 03 01 11 70 50 02 08 34 80",
     "{ pdu signal : tonec : { timestamp 70000, event tone-presence : { freq 2100, presence TRUE } "
     "} }"},
    {"RtpParams minimal", &TERM::RtpParams::theInfo, "00 00 00 08 31 30 2E 30 2E 30 2E 31 13 8C",
     R"({ payload ptG711-Alaw, dhost { iaddr "10.0.0.1", port 5004 } })"},
    {"RtpParams full", &TERM::RtpParams::theInfo,
     "7F FF 00 08 31 30 2E 30 2E 30 2E 31 13 8C 0C 31 39 32 2E 31 36 38 2E 31 2E 32 30 FF FF 18 72 "
     "61 64 "
     "69 6F 2D 31 01 28 02 00 C8 01 02 01 FF A2 00 01 01 AA E0 01 FF 01 02 07 31 31 38 2E 31 30 30 "
     "FF 00 "
     "CF E0 C8 00 01 0A 40 01 05 01 01 40 01 03 02 04 D2 C0 FF FF FF FF FE 5C",
     R"({ payload ptR2S, dhost { iaddr "10.0.0.1", port 5004 }, shost { iaddr "192.168.1.20", port 65535 }, )"
     R"(dname "radio-1", jitter { start 40, max 200 }, pfactor 2, crate -1, vad TRUE, echo { suppressor )"
     R"(TRUE, canceller FALSE }, radio { status vorn : { flags { prio 1, ptt TRUE, bss FALSE, vad-rx TRUE, )"
     R"(vad-tx FALSE, sql TRUE, sh FALSE, pwr TRUE, rv FALSE, resv TRUE, selcall 3, li 511 }, freq { channel )"
     R"(2, frequency "118.100" }, remote { no 255, ch 0 }, squelshe percent-100, rte j3e, )"
     R"(standby-state-channel standby, standby-group 200, standby-state-receiver active }, rx-delay 10 }, )"
     R"(rtp-e2m { slot 5, channel 1, mode only-rtp : { fd 3, pid 1234 } }, ssrc 4294967295, ttl 255, )"
     R"(qos-dscp count=23 })"},
    {"RtpParams dname 64 chars", &TERM::RtpParams::theInfo,
     "20 18 00 08 31 30 2E 30 2E 30 2E 31 13 8C FC 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 "
     "78 78 "
     "78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 78 "
     "78 78 "
     "78 78 78 78 78 78 78 78 78 78 78 78 78 00 20",
     R"({ payload ptG711-Alaw, dhost { iaddr "10.0.0.1", port 5004 }, dname )"
     R"("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", ttl 1, qos-dscp cs1=8 })"},
    {"WM selcall ssrc 2^32-1", &TERM::RadioModifier::theInfo,
     "00 01 61 C0 FF FF FF FF 44 01 01 AA E0 01 FF 07 31 2E 32 2E 33 2E 34 80 01 00 00 02 31 32",
     R"(vorn : { addr { session-addr "a", session-ssrc 4294967295 }, params wm-selcall : { flags { prio 1, )"
     R"(ptt TRUE, bss FALSE, vad-rx TRUE, vad-tx FALSE, sql TRUE, sh FALSE, pwr TRUE, rv FALSE, resv TRUE, )"
     R"(selcall 3, li 511 }, ip "1.2.3.4", ssrc 65536, cid "12" } })"},
    {"GW set standby", &TERM::RadioModifier::theInfo, "00 00 40 01 00 30",
     R"(vorn : { addr { session-addr "", session-ssrc 256 }, params gw-set-standby : { state active } })"},
    {"GW set squelshe", &TERM::RadioModifier::theInfo, "00 00 00 01 28 18",
     R"(vorn : { addr { session-addr "", session-ssrc 1 }, params gw-set-squelshe : { squelshe percent-0 } })"},
};

const Vector kVorngwVectors[] = {
    {"ptt on packet", &VORNGW::ProtoVornPackets::theInfo,
     "00 01 00 01 18 01 01 00 10 14 44 01 01 00 01 00 20 01 03 06 00 01 03 03 01 01 02 00 FF 01 FF",
     "{ packets { { msgLength 24, msgSeqNum 1, msgID gw-rad-ptt-on=4116, stateProtocol "
     "protocol-v2, "
     "stateMode radio, stateMaster 1, srcAddr lgw, srcChannel 0, dstAddr rgw, dstChannel 3, "
     "payload "
     "gw-rad-ptt-on : { channel 3, payload { 1, 255, -1 } } } } }"},
    {"ali server p1 ack", &VORNGW::ProtoVornPacket::theInfo,
     "00 01 00 03 00 FF FF 00 33 00 10 01 00 60 01 01 40 01 02 42 00 20 01 01 09 4E 10 07 20 01 64 "
     "01 04",
     "{ msgLength 0, msgSeqNum 65535, msgID ali-server-p1=13056, stateProtocol protocol-v1, "
     "stateMode lce, "
     "stateMaster 0, srcAddr ali, srcChannel 1, dstAddr dli, dstChannel 2, payload ali-server-p1 : "
     "{ "
     "command p1-srv-ack=8193, session 9, payload p1-srv-ack : { result p1-srv-sts-filesize-err, "
     "ack-command p1-cln-load-commit-force, payload { p1-file-load { data-processed 100, "
     "block-number 4 } "
     "} } } }"},
    {"analog config gains", &VORNGW::ProtoVornPacketPayload::theInfo,
     "38 00 00 05 00 00 00 0A 00 FF 00 0B 00 0C 01 01 00 00",
     "ali-set-config : radio-v1 : { channels { }, gain-id { rtx1, rsh, fake=255, mux, spi }, "
     "gain-values { "
     "0 }, pattern { } }"},
    {"digital ggs channel", &VORNGW::ProtoVornPacketPayload::theInfo,
     "24 40 01 40 01 02 79 54 01 01 01 02 01 03 01 04 01 05 01 06 01 07 01 08 01 FF 01 01 00 01 40 "
     "03 36 "
     "64 42",
     R"(dli-set-config : ggs-v2 : { channels { { enable TRUE, wire 2, ggs-type-call sildavor, channel fxs : )"
     R"({ ec TRUE, duplex FALSE, agc TRUE, dtmf-detector FALSE, vad-timeout 1, vad-window 2, )"
     R"(vad-detector-level 3, delay-rx 4, dtmf-detector-level 5, dtmf-detector-mark-min-time 6, )"
     R"(dtmf-detector_mark-max-time 7, dtmf-detector-space-min-time 8 }, gain-tx -1, gain-rx 1 } }, lines { )"
     R"(lines { { line-control TRUE, line-echo-threshold "6dB" } } } })"},
    {"digital ggs state", &VORNGW::ProtoVornPacketPayload::theInfo, "2C 00 01 01 40 01 00 80",
     "dli-ggs-state : { channel 1, state unavailable, error 0, detected_rx TRUE, detected_tx FALSE "
     "}"},
};

const Vector kMonVectors[] = {
    {"command snmp-set", &MON::Message::theInfo,
     "00 02 00 01 01 40 05 62 6F 61 72 64 04 74 65 6D 70 01 00 02 34 31 00 01 02 00 0B 31 2E 33 2E "
     "36 2E "
     "31 2E 34 2E 31 00",
     R"({ pdu command : snmp-set : { commands { { uniq 1, id name : { section "board", name "temp", index 0 )"
     R"(}, value "41" }, { uniq 2, id oid : "1.3.6.1.4.1", value "" } } } })"},
    {"command snmp-trapsink-set", &MON::Message::theInfo,
     "08 02 00 08 31 30 2E 30 2E 30 2E 35 40 08 31 30 2E 30 2E 30 2E 36 02 00 A2",
     R"({ pdu command : snmp-trapsink-set : { trapsinks { { host "10.0.0.5" }, { host "10.0.0.6", port 162 } )"
     R"(} } })"},
    {"command snmp-trap-send", &MON::Message::theInfo, "10 01 20 09 63 6F 6C 64 53 74 61 72 74",
     R"({ pdu command : snmp-trap-send : { traps { { trap name : "coldStart" } } } })"},
    {"command ping", &MON::Message::theInfo, "18", "{ pdu command : ping : NULL }"},
    {"response snmp-set", &MON::Message::theInfo, "40 01 00 01 01 A0",
     "{ pdu response : snmp-set : { responses { { uniq 1, response error : wrongValue } } } }"},
    {"response ping", &MON::Message::theInfo, "58", "{ pdu response : ping : success : NULL }"},
    {"response snmp-trapsink-set", &MON::Message::theInfo, "4C",
     "{ pdu response : snmp-trapsink-set : error : itemNotFound }"},
    {"signal snmp-set", &MON::Message::theInfo, "80 05 31 2E 33 2E 36 00 01 73 01 6E 01 FF 01 76",
     R"({ pdu signal : snmp-set : { oid "1.3.6", name { section "s", name "n", index -1 }, value "v" } })"},
};

TEST(ModulesVectors, Basic) {
  checkGroup(kBasicVectors, {}, 0);
}

TEST(ModulesVectors, EveryCommand) {
  checkGroup(kCommandVectors, {2, -1}, 15);
}

TEST(ModulesVectors, EverySignal) {
  checkGroup(kSignalVectors, {2, -1}, 23);
}

TEST(ModulesVectors, EveryCreateParams) {
  checkGroup(kCreateVectors, {2, -1, -1}, 20);
}

TEST(ModulesVectors, EveryIoctlParams) {
  checkGroup(kIoctlVectors, {2, -1, -1}, 38);
}

TEST(ModulesVectors, Constructs) {
  checkGroup(kConstructVectors, {}, 0);
}

TEST(ModulesVectors, Vorngw) {
  checkGroup(kVorngwVectors, {}, 0);
}

TEST(ModulesVectors, EveryMonPdu) {
  checkGroup(kMonVectors, {0}, 3);
  // and every command of the monitoring channel
  std::set<int> commands;
  for (const Vector& v : kMonVectors) {
    Value value = make(v.info);
    ASSERT_TRUE(perDecode(unhex(v.hex), *value));
    if (selectionAt(value.get(), {0}) == 0) commands.insert(selectionAt(value.get(), {0, -1}));
  }
  EXPECT_EQ(commands, (std::set<int>{0, 1, 2, 3}));
}

// Octets that must not decode.
TEST(ModulesVectors, RejectedOctets) {
  struct Bad {
    const char* label;
    const void* info;
    const char* hex;
  } const rows[] = {
      {"empty input", &LGCP::Message::theInfo, ""},
      {"truncated slot", &LGCP::Message::theInfo, "C0 01 07 00"},
      {"truncated before the pdu", &LGCP::Message::theInfo, "40 00 05"},
      {"unknown command extension", &LGCP::Message::theInfo, "08 00 01 00"},
      {"unknown signal extension", &LGCP::Message::theInfo, "28 00 01 00"},
      {"create index past the last alternative", &LGCP::Message::theInfo, "40 00 64 08 A0"},
      {"truncated mon message", &MON::Message::theInfo, "00"},
  };
  for (const Bad& b : rows) {
    Value value = make(b.info);
    EXPECT_FALSE(perDecode(unhex(b.hex), *value)) << b.label;
  }
}

// An extendable SEQUENCE from a newer peer with an addition this build does
// not know: the addition is skipped and the known part is kept.
TEST(ModulesVectors, UnknownAdditionSkipped) {
  Value value = make(&LGCP::Message::theInfo);
  ASSERT_TRUE(perDecode(unhex("25 20 02 34 32 01 01 AB 00"), *value));
  EXPECT_EQ(value->asValueNotation(), "{\n  pdu signal : bss : {\n    score \"42\"\n  }\n}");
  // A cut-off addition does not decode.
  Value cut = make(&LGCP::Message::theInfo);
  EXPECT_FALSE(perDecode(unhex("25 20 02 34 32 01 02 AB"), *cut));
}

// An ErrorCause beyond its root decodes, prints as its number and encodes
// back the same way.
TEST(ModulesVectors, EnumerationBeyondRoot) {
  const Vector v = {"error 13", &LGCP::Message::theInfo, "1C 76 80",
                    "{ pdu response : error : 13 }"};
  checkVector(v);
}

// Lists: 128 elements is the most a decoder takes.
TEST(ModulesVectors, ListAtItsLimit) {
  const std::string head =
      "20 00 01 02 01 01 01 00 01 00 01 40 01 20 01 04 01 00 01 00 01 08 01 08 01 10 01 01 01 02 "
      "01 03 80 01 "
      "01 01 02 01 03";
  const std::string tail = "01 02 01 00 01 00 01 01";
  for (unsigned n : {127u, 128u, 129u}) {
    std::string text = head + (n < 128 ? " 7F" : n == 128 ? " 80 80" : " 80 81");
    char buf[8];
    for (unsigned i = 0; i < n; ++i) {
      std::snprintf(buf, sizeof buf, " 01 %02X", i & 0x7F);
      text += buf;
    }
    text += " " + tail;
    Value value = make(&LGCP::Message::theInfo);
    bool ok = perDecode(unhex(text), *value);
    if (n > 128) {
      EXPECT_FALSE(ok) << n;
      continue;
    }
    ASSERT_TRUE(ok) << n;
    // pdu / signal / query / echoBus (field 13 of Resources)
    const ASN1::SEQUENCE_OF_Base* list =
        dynamic_cast<const ASN1::SEQUENCE_OF_Base*>(descend(value.get(), {2, -1, -1, 13}));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->size(), n);
    EXPECT_EQ(perHex(*value), hex(unhex(text)));
  }
}

}  // namespace
