#include "core/version.h"

// The build constants come from the build (cache variables of the core
// layer); these defaults keep a bare compile working.
#ifndef VELMARD_BUILDER
#define VELMARD_BUILDER "unknown"
#endif
#ifndef VELMARD_BUILD_TIME
#define VELMARD_BUILD_TIME "2025-03-27 18:18"
#endif
#ifndef VELMARD_BUILD_TAG
#define VELMARD_BUILD_TAG "T250327-1818"
#endif
#ifndef VELMARD_BUILD_ARCH
#define VELMARD_BUILD_ARCH "ppc"
#endif

const Version Version::current(Version::snapshot, 0, "", VELMARD_BUILDER, VELMARD_BUILD_TIME,
                               VELMARD_BUILD_TAG, VELMARD_BUILD_ARCH);

void Version::put(std::ostream& out) const {
  out << buildTag;
}

const char* version_string(Version::Type type) {
  switch (type) {
    case Version::snapshot:
      return "snapshot";
    case Version::test:
      return "test";
    case Version::release:
      return "release";
    case Version::unit_test:
      return "unit-test";
  }
  return "unknown";
}

const char* version_suffix(Version::Type type) {
  switch (type) {
    case Version::snapshot:
      return "S";
    case Version::test:
      return "T";
    case Version::release:
      return "R";
    case Version::unit_test:
      return "T";
  }
  return "U";
}

std::ostream& operator<<(std::ostream& out, Version::Type type) {
  return out << version_string(type);
}
