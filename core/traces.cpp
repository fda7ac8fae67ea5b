#include "core/traces.h"

#include "core/inifile.h"
#include "core/inireader.h"

#include <iostream>

TraceCtl traces;

TraceCtl::TraceCtl() {
  Reset();
}

void TraceCtl::Reset() {
  signalling_hdlc = false;
  signalling_vorngw = false;
  signalling_events = false;
  signalling_isdn = false;
  monitoring_internal = false;
}

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::SubSection& occurrence : section) Configure(occurrence);
}

void TraceCtl::Configure(IniFile::SubSection& occurrence) {
  IniFile::Reader reader("traces: ", std::cerr);
  Reset();
  reader.optional.add(&signalling_hdlc, "signalling.hdlc");
  reader.optional.add(&signalling_vorngw, "signalling.vorngw");
  reader.optional.add(&signalling_events, "signalling.events");
  reader.optional.add(&signalling_isdn, "signalling.isdn");
  reader.optional.add(&monitoring_internal, "monitoring.internal");
  reader.parse(occurrence);
}
