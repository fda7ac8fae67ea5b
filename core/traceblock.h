// Scope guard that logs entering and leaving a block.
#ifndef VELMARD_CORE_TRACEBLOCK_H
#define VELMARD_CORE_TRACEBLOCK_H

#include <ostream>

namespace Trace {

class Block {
 public:
  Block(bool enabled, const char* name, std::ostream& out)
      : enabled(enabled), name(name), out(out) {
    if (enabled) out << "Enter " << name << std::endl;
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() {
    if (enabled) out << "Leave " << name << std::endl;
  }

  bool enabled;
  const char* name;
  std::ostream& out;
};

}  // namespace Trace

#endif  // VELMARD_CORE_TRACEBLOCK_H
