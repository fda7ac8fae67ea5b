// The generated information records must say what the .asn sources say:
// kinds, component and alternative names in their exact spelling, optional
// bit numbers, constraints, extension markers and the enumerator name tables
// with their "=value" marks.  The sources are read at run time and walked in
// step with the records, starting from the message types.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "modules_headers.h"

namespace {

struct Item {
  std::string name;  // exact spelling
  std::string type;  // type text as written (components and alternatives)
  bool optional = false;
  long long value = 0;  // enumerators
};

struct TypeDef {
  std::string module;
  std::string name;
  std::string kind;
  bool extendable = false;
  std::vector<Item> root;
  std::vector<Item> additions;
};

struct Module {
  std::map<std::string, TypeDef> types;        // by the name as written
  std::map<std::string, std::string> imports;  // type name -> module
};

std::string sourceDir() {
  std::string f = __FILE__;
  for (int i = 0; i < 3; ++i) f = f.substr(0, f.rfind('/'));
  return f + "/asn1/modules/";
}

std::string trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(" \t\r,");
  return s.substr(b, e - b + 1);
}

bool parseModule(const std::string& name, Module& mod, std::string& error) {
  std::ifstream in(sourceDir() + name + "/" + name + ".asn");
  if (!in) {
    error = "cannot open " + name + ".asn";
    return false;
  }
  std::string line;
  bool inImports = false;
  std::vector<std::string> pending;
  TypeDef* cur = nullptr;
  while (std::getline(in, line)) {
    std::string exact;
    std::size_t c = line.find("--");
    if (c != std::string::npos) {
      std::string comment = line.substr(c);
      std::size_t at = comment.find("--@name ");
      if (at != std::string::npos) {
        std::istringstream cs(comment.substr(at + 8));
        cs >> exact;
      }
      line = line.substr(0, c);
    }
    std::string code = trim(line);
    if (code.empty()) continue;
    if (code == "IMPORTS") {
      inImports = true;
      continue;
    }
    if (inImports) {
      bool end = code.back() == ';';
      if (end) code.pop_back();
      std::istringstream ws(code);
      std::string w;
      bool from = false;
      while (ws >> w) {
        if (!w.empty() && w.back() == ',') w.pop_back();
        if (w.empty()) continue;
        if (from) {
          for (const std::string& p : pending) mod.imports[p] = w;
          pending.clear();
          from = false;
        } else if (w == "FROM") {
          from = true;
        } else {
          pending.push_back(w);
        }
      }
      if (end) inImports = false;
      continue;
    }
    std::size_t def = code.find(" ::= ");
    if (def != std::string::npos && code.back() == '{') {
      std::string written = code.substr(0, def);
      std::string kind = trim(code.substr(def + 5, code.size() - def - 6));
      TypeDef& t = mod.types[written];
      t.module = name;
      t.name = exact.empty() ? written : exact;
      t.kind = kind;
      cur = &t;
      continue;
    }
    if (!cur) continue;
    if (code == "}") {
      cur = nullptr;
      continue;
    }
    if (code == "...") {
      cur->extendable = true;
      continue;
    }
    Item item;
    if (cur->kind == "ENUMERATED") {
      std::size_t p = code.find('(');
      item.name = code.substr(0, p);
      item.value = std::stoll(code.substr(p + 1));
    } else {
      std::size_t sp = code.find_first_of(" \t");
      item.name = code.substr(0, sp);
      std::string type = trim(code.substr(sp));
      const std::string opt = " OPTIONAL";
      if (type.size() > opt.size() &&
          type.compare(type.size() - opt.size(), opt.size(), opt) == 0) {
        item.optional = true;
        type = trim(type.substr(0, type.size() - opt.size()));
      }
      item.type = type;
    }
    if (!exact.empty()) item.name = exact;
    (cur->extendable ? cur->additions : cur->root).push_back(item);
  }
  return true;
}

const char* const kModules[] = {"BASE", "HSP",   "ACP", "MON",    "TERM", "VORNGW",
                                "LGCP", "MEDIA", "CCP", "ROUTER", "YACP", "E2E"};

// The "=value" marks of a name table: an entry carries its value when the
// value is not the previous entry's value plus one (the first: not 0).
std::vector<std::string> expectedEnumNames(const TypeDef& t) {
  std::vector<std::string> out;
  long long prev = -1;
  for (const Item& i : t.root) {
    out.push_back(i.value == prev + 1 ? i.name : i.name + "=" + std::to_string(i.value));
    prev = i.value;
  }
  return out;
}

class Walker {
 public:
  std::map<std::string, Module> modules;
  std::set<std::string> visitedTypes;  // "MODULE.Type"

  void check(const void* record, const std::string& module, const std::string& typeText,
             const std::string& path) {
    ASSERT_NE(record, nullptr) << path;
    const ASN1::TypeInfo* ti = ASN1::typeInfo(record);
    std::string type = trim(typeText);
    if (type == "NULL") {
      EXPECT_EQ(ti->tag, 5u) << path;
    } else if (type == "BOOLEAN") {
      EXPECT_EQ(ti->tag, 1u) << path;
    } else if (type == "OCTET STRING") {
      EXPECT_EQ(ti->tag, 4u) << path;
      EXPECT_EQ(static_cast<const ASN1::ConstrainedInfo*>(record)->constraintType, 0) << path;
    } else if (type == "INTEGER" || type.compare(0, 9, "INTEGER (") == 0) {
      EXPECT_EQ(ti->tag, 2u) << path;
      const ASN1::ConstrainedInfo* ci = static_cast<const ASN1::ConstrainedInfo*>(record);
      long long lo = 0, hi = 0;
      if (std::sscanf(type.c_str(), "INTEGER (%lld..%lld)", &lo, &hi) == 2) {
        EXPECT_EQ(ci->constraintType, ASN1::FixedConstraint) << path;
        EXPECT_EQ(ci->lowerLimit, static_cast<int>(lo)) << path;
        EXPECT_EQ(ci->upperLimit, static_cast<unsigned>(hi)) << path;
      } else {
        EXPECT_EQ(type, "INTEGER") << path;
        EXPECT_EQ(ci->constraintType, ASN1::Unconstrained) << path;
      }
    } else if (type == "IA5String" || type.compare(0, 11, "IA5String (") == 0) {
      EXPECT_EQ(ti->tag, 22u) << path;
      const ASN1::StringInfo* si = static_cast<const ASN1::StringInfo*>(record);
      EXPECT_EQ(si->characterSet, ASN1::IA5StringSet) << path << ": IA5 table not linked in";
      EXPECT_EQ(si->characterSetSize, 128u) << path;
      EXPECT_EQ(si->canonicalSetBits, 7u) << path;
      EXPECT_EQ(si->charSetUnalignedBits, 7u) << path;
      EXPECT_EQ(si->charSetAlignedBits, 8u) << path;
      long long lo = 0, hi = 0;
      if (std::sscanf(type.c_str(), "IA5String (SIZE (%lld..%lld))", &lo, &hi) == 2) {
        EXPECT_EQ(si->size.constraintType, ASN1::FixedConstraint) << path;
        EXPECT_EQ(si->size.lowerLimit, lo) << path;
        EXPECT_EQ(si->size.upperLimit, static_cast<unsigned>(hi)) << path;
      } else {
        EXPECT_EQ(type, "IA5String") << path;
        EXPECT_EQ(si->size.constraintType, ASN1::Unconstrained) << path;
      }
    } else if (type.compare(0, 12, "SEQUENCE OF ") == 0 || type.compare(0, 7, "SET OF ") == 0) {
      bool set = type[1] == 'E' && type[2] == 'T';
      EXPECT_EQ(ti->tag, set ? 17u : 16u) << path;
      EXPECT_NE(ti->create, nullptr) << path << ": list record not initialised";
      const ASN1::SequenceOfInfo* li = static_cast<const ASN1::SequenceOfInfo*>(record);
      EXPECT_EQ(li->size.constraintType, ASN1::Unconstrained) << path;
      check(li->elementInfo, module, type.substr(set ? 7 : 12), path + "[]");
    } else {
      checkReference(record, module, type, path);
    }
  }

 private:
  std::set<std::pair<const void*, std::string>> done;

  void checkReference(const void* record, const std::string& module, const std::string& ref,
                      const std::string& path) {
    Module& m = modules[module];
    std::string owner = module;
    auto imp = m.imports.find(ref);
    if (imp != m.imports.end()) owner = imp->second;
    auto it = modules[owner].types.find(ref);
    ASSERT_NE(it, modules[owner].types.end()) << path << ": no type " << owner << "." << ref;
    const TypeDef& t = it->second;
    std::string key = owner + "." + ref;
    visitedTypes.insert(key);
    if (!done.insert(std::make_pair(record, key)).second) return;
    std::string here = path + " (" + owner + "::" + t.name + ")";
    const ASN1::TypeInfo* ti = ASN1::typeInfo(record);
    EXPECT_NE(ti->create, nullptr) << here;
    if (t.kind == "ENUMERATED") {
      EXPECT_EQ(ti->tag, 10u) << here;
      const ASN1::EnumeratedInfo* ei = static_cast<const ASN1::EnumeratedInfo*>(record);
      EXPECT_EQ(ei->extendable, t.extendable) << here;
      long long highest = t.root.front().value;
      for (const Item& i : t.root) highest = std::max(highest, i.value);
      EXPECT_EQ(ei->maxEnumValue, highest) << here;
      std::vector<std::string> want = expectedEnumNames(t);
      ASSERT_EQ(ei->nameCount, want.size()) << here;
      for (unsigned i = 0; i < want.size(); ++i)
        EXPECT_STREQ(ei->names[i], want[i].c_str()) << here;
    } else if (t.kind == "CHOICE") {
      EXPECT_EQ(ti->tag, 0u) << here;
      const ASN1::ChoiceInfo* ci = static_cast<const ASN1::ChoiceInfo*>(record);
      EXPECT_EQ(ci->extendable, t.extendable) << here;
      ASSERT_EQ(ci->numChoices, t.root.size()) << here;
      ASSERT_EQ(ci->totalChoices, t.root.size() + t.additions.size()) << here;
      std::vector<Item> all = t.root;
      all.insert(all.end(), t.additions.begin(), t.additions.end());
      for (unsigned i = 0; i < all.size(); ++i) {
        EXPECT_STREQ(ci->names[i], all[i].name.c_str()) << here << " alternative " << i;
        check(ci->selectionInfos[i], owner, all[i].type, here + "." + all[i].name);
      }
    } else {
      ASSERT_EQ(t.kind, "SEQUENCE") << here;
      EXPECT_EQ(ti->tag, 16u) << here;
      const ASN1::SequenceInfo* si = static_cast<const ASN1::SequenceInfo*>(record);
      EXPECT_EQ(si->extendable, t.extendable) << here;
      ASSERT_EQ(si->numFields, t.root.size()) << here;
      EXPECT_EQ(si->knownExtensions, t.additions.size()) << here;
      int optional = 0;
      for (unsigned i = 0; i < t.root.size(); ++i) {
        const Item& f = t.root[i];
        EXPECT_STREQ(si->names[i], f.name.c_str()) << here << " component " << i;
        EXPECT_EQ(si->ids[i], f.optional ? optional : -1) << here << "." << f.name;
        if (f.optional) ++optional;
        check(si->fieldInfos[i], owner, f.type, here + "." + f.name);
      }
      EXPECT_EQ(si->numOptional, static_cast<unsigned>(optional)) << here;
    }
  }
};

TEST(ModulesNames, RecordsMatchSources) {
  Walker w;
  for (const char* m : kModules) {
    std::string error;
    ASSERT_TRUE(parseModule(m, w.modules[m], error)) << error;
  }
  // Everything a message can carry, and the one type no message carries.
  w.check(&LGCP::Message::theInfo, "LGCP", "Message", "LGCP::Message");
  w.check(&MON::Message::theInfo, "MON", "Message", "MON::Message");
  w.check(&LGCP::DriverVersion::theInfo, "LGCP", "DriverVersion", "LGCP::DriverVersion");

  unsigned total = 0;
  for (const auto& m : w.modules) {
    for (const auto& t : m.second.types) {
      ++total;
      EXPECT_TRUE(w.visitedTypes.count(m.first + "." + t.first))
          << m.first << "." << t.first << " is not checked";
    }
  }
  EXPECT_EQ(total, 361u);  // 107 LGCP, 71 TERM, 10 ACP, 19 MON, 1 HSP, 1 BASE, 152 VORNGW
}

// Names that standard ASN.1 cannot carry come out in their own spelling,
// and the "=value" marks where the values jump or repeat.
TEST(ModulesNames, NamesKeptAsSpelled) {
  EXPECT_STREQ(LGCP::CreateParams::theInfo.names[8], "trunk_bri");
  EXPECT_STREQ(LGCP::CreateParams::theInfo.names[16], "spi-tdm");
  EXPECT_STREQ(LGCP::IVAParams::theInfo.names[0], "det_lvl_dB");
  EXPECT_STREQ(LGCP::MixerResources_subtype::theInfo.names[1], "tdm_inputs");
  EXPECT_STREQ(VORNGW::FXSSignalingDigital::theInfo.names[10], "dtmf-detector_mark-max-time");
  const ASN1::EnumeratedInfo& gain = VORNGW::ProtoVornAnalogGainIDV1::theInfo;
  ASSERT_EQ(gain.nameCount, 16u);
  EXPECT_STREQ(gain.names[11], "fake=255");
  EXPECT_STREQ(gain.names[12], "min=0");
  EXPECT_STREQ(gain.names[14], "mux");
  EXPECT_STREQ(TERM::IpQoSDSCP::theInfo.names[2], "cs1=8");
  EXPECT_STREQ(TERM::IpQoSDSCP::theInfo.names[23], "count=23");
  EXPECT_STREQ(TERM::RadioStandby::theInfo.names[0], "not-use=-1");
  EXPECT_STREQ(TERM::RadioStandby::theInfo.names[1], "active");
}

}  // namespace
