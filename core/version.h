// The build's version record; printing it gives the build tag, which the
// daemon shows at start-up, in its syslog identity, in "--version" and in
// the status file.
#ifndef VELMARD_CORE_VERSION_H
#define VELMARD_CORE_VERSION_H

#include <ostream>

class Version {
 public:
  enum Type { snapshot = 0, test = 1, release = 2, unit_test = 3 };

  constexpr Version(Type type, int number, const char* text, const char* builder,
                    const char* buildTime, const char* buildTag, const char* architecture)
      : type(type),
        number(number),
        text(text),
        builder(builder),
        buildTime(buildTime),
        buildTag(buildTag),
        architecture(architecture) {
    update();
  }

  constexpr void update() {}
  // The build tag only.
  void put(std::ostream& out) const;

  static const Version current;

  Type type;
  int number;
  const char* text;
  const char* builder;
  const char* buildTime;
  const char* buildTag;
  const char* architecture;
};

inline std::ostream& operator<<(std::ostream& out, const Version& v) {
  v.put(out);
  return out;
}

const char* version_string(Version::Type type);  // "snapshot", ...
const char* version_suffix(Version::Type type);  // "S", ...
std::ostream& operator<<(std::ostream& out, Version::Type type);

#endif  // VELMARD_CORE_VERSION_H
