#ifndef VELMARD_CORE_TRACES_H
#define VELMARD_CORE_TRACES_H

// Switches of the optional diagnostic trace lines. They are read once at
// start-up from section "traces" and never change afterwards; components
// test their switch before writing a trace line.

namespace IniFile {
class Section;
class SubSection;
}  // namespace IniFile

class TraceCtl {
 public:
  TraceCtl();

  // Every occurrence of the section in file order; each one starts again
  // from all switches off, so the last occurrence decides.
  void Configure(IniFile::Section& section);
  void Configure(IniFile::SubSection& occurrence);
  void Reset();

  bool signalling_hdlc;      // "signalling.hdlc"
  bool signalling_vorngw;    // "signalling.vorngw"
  bool signalling_events;    // "signalling.events"
  bool signalling_isdn;      // "signalling.isdn"
  bool monitoring_internal;  // "monitoring.internal"
};

extern TraceCtl traces;

#endif  // VELMARD_CORE_TRACES_H
