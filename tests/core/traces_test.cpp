#include "core/traces.h"

#include "core/inifile.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

namespace {

struct TraceCase {
  char const* what;
  char const* text;
  char const* switches;  // hdlc vorngw events isdn monitoring as 0/1
  char const* messages;
};

TraceCase const kTraceCases[] = {
    {"no section", "[other]\nsignalling.hdlc=yes\n", "00000", ""},
    {"every switch",
     "[traces]\nsignalling.hdlc=yes\nsignalling.vorngw=1\nsignalling.events=enabled\n"
     "signalling.isdn=true\nmonitoring.internal=enable\n",
     "11111", ""},
    {"second occurrence starts from all off",
     "[traces]\nsignalling.hdlc=yes\n[traces]\nsignalling.isdn=yes\n", "00010", ""},
    {"invalid value", "[traces]\nsignalling.hdlc=on\nmonitoring.internal=yes\n", "00001",
     "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 2. Key will be "
     "ignored.\n"},
    {"key given twice", "[traces]\nsignalling.events=yes\nsignalling.events=yes\n", "00000",
     "traces: optional key \"signalling.events\" is duplicated!\n"
     "traces:  first occurence at 2 line.\n"
     "traces:  second occurence at 3 line. Both keys will be ignored.\n"},
    {"other keys not looked at", "[traces]\nsignalling.HDLC=yes\nfoo=bar\n", "00000", ""},
};

std::string Switches(TraceCtl const& t) {
  std::string s;
  for (bool b : {t.signalling_hdlc, t.signalling_vorngw, t.signalling_events, t.signalling_isdn,
                 t.monitoring_internal})
    s += b ? '1' : '0';
  return s;
}

TEST(TraceCtl, Table) {
  for (TraceCase const& c : kTraceCases) {
    IniFile::File f;
    std::istringstream in(c.text);
    in >> f;
    TraceCtl t;
    std::ostringstream err;
    std::streambuf* old = std::cerr.rdbuf(err.rdbuf());
    t.Configure(f["traces"]);
    std::cerr.rdbuf(old);
    EXPECT_EQ(c.switches, Switches(t)) << c.what;
    EXPECT_EQ(c.messages, err.str()) << c.what;
  }
}

}  // namespace
