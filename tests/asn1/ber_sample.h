// Builds a sample value of any record: every OPTIONAL component and known
// extension present, numbers and sizes inside their constraints, CHOICEs
// selected by a seed so that different seeds reach different alternatives.
#ifndef VELMARD_TESTS_ASN1_BER_SAMPLE_H
#define VELMARD_TESTS_ASN1_BER_SAMPLE_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "asn1/visitor.h"

namespace codertest {

using namespace ASN1;

class Sampler {
 public:
  explicit Sampler(unsigned seed) : seed(seed) {}

  void fill(AbstractData& value, int depth = 0) {
    unsigned s = seed + static_cast<unsigned>(depth);
    if (SEQUENCE* seq = dynamic_cast<SEQUENCE*>(&value)) return fillSequence(*seq, depth);
    if (CHOICE* choice = dynamic_cast<CHOICE*>(&value)) {
      unsigned total = choice->getTotalChoices();
      if (total) fillChoice(*choice, static_cast<int>(depth > 6 ? 0 : s % total), depth);
      return;
    }
    if (SEQUENCE_OF_Base* list = dynamic_cast<SEQUENCE_OF_Base*>(&value))
      return fillList(*list, depth);
    if (INTEGER* i = dynamic_cast<INTEGER*>(&value)) return fillInteger(*i);
    if (ENUMERATED* e = dynamic_cast<ENUMERATED*>(&value)) return fillEnumerated(*e);
    if (BOOLEAN* b = dynamic_cast<BOOLEAN*>(&value)) {
      b->setValue(s % 2 == 0);
      return;
    }
    if (BIT_STRING* bits = dynamic_cast<BIT_STRING*>(&value)) {
      unsigned n = size(*bits->info(), 11);
      bits->resize(n);
      for (unsigned k = 0; k < n; k += 3) bits->set(k);
      return;
    }
    if (OCTET_STRING* octets = dynamic_cast<OCTET_STRING*>(&value)) {
      unsigned n = size(*octets->info(), 5);
      octets->clear();
      for (unsigned k = 0; k < n; ++k) octets->push_back(static_cast<char>(k * 37 + s));
      return;
    }
    if (AbstractString* str = dynamic_cast<AbstractString*>(&value)) return fillString(*str);
    if (BMPString* bmp = dynamic_cast<BMPString*>(&value)) {
      unsigned n = size(bmp->info()->size, 3);
      bmp->clear();
      unsigned first = std::max(bmp->info()->firstChar, 0x41u);
      for (unsigned k = 0; k < n; ++k)
        bmp->push_back(static_cast<wchar_t>(std::min(first + k, bmp->info()->lastChar)));
      return;
    }
    if (OBJECT_IDENTIFIER* oid = dynamic_cast<OBJECT_IDENTIFIER*>(&value)) {
      oid->arcs() = {1, 2, 840 + s, 113549};
      return;
    }
    if (GeneralizedTime* t = dynamic_cast<GeneralizedTime*>(&value)) {
      *t =
          GeneralizedTime(2024, 1 + static_cast<int>(s % 12), 2, 3, 4, 5, s % 2 ? 250 : 0, 0, true);
      return;
    }
    if (OpenData* open = dynamic_cast<OpenData*>(&value)) {
      if (open->has_data())
        fill(open->get_data(), depth + 1);
      else
        open->get_buf().assign({0x02, 0x01, static_cast<char>(s)});
      return;
    }
  }

  void fillChoice(CHOICE& choice, int alternative, int depth = 0) {
    if (!choice.select(alternative)) return;
    fill(*choice.getSelection(), depth + 1);
  }

 private:
  static unsigned size(const ConstrainedInfo& c, unsigned wanted) {
    if (c.constraintType == Unconstrained) return wanted;
    unsigned lower = static_cast<unsigned>(std::max(c.lowerLimit, 0));
    unsigned n = std::max(wanted, lower);
    if (c.constraintType != PartiallyConstrained) n = std::min(n, c.upperLimit);
    return n;
  }

  void fillSequence(SEQUENCE& seq, int depth) {
    const SequenceInfo* si = seq.info();
    unsigned total = si->numFields + si->knownExtensions;
    for (unsigned i = 0; i < total; ++i) {
      int id =
          i < si->numFields ? si->ids[i] : static_cast<int>(si->numOptional + i - si->numFields);
      if (id >= 0) seq.includeOptionalField(static_cast<unsigned>(id), i);
      if (AbstractData* f = seq.createField(i)) fill(*f, depth + 1);
    }
  }

  void fillList(SEQUENCE_OF_Base& list, int depth) {
    list.resize(size(list.info()->size, depth > 6 ? 0 : 2));
    for (unsigned i = 0; i < list.size(); ++i) {
      Sampler inner(seed + i);
      inner.fill(list.elementAt(i), depth + 1);
    }
  }

  void fillInteger(INTEGER& i) {
    const ConstrainedInfo* c = i.info();
    std::int64_t lower = c->lowerLimit;
    std::int64_t upper = lower < 0 ? static_cast<std::int64_t>(static_cast<int>(c->upperLimit))
                                   : static_cast<std::int64_t>(c->upperLimit);
    std::int64_t v;
    switch (c->constraintType) {
      case Unconstrained: {
        static const int samples[] = {-5, 300, 0, 70000, -129};
        v = samples[seed % 5];
        break;
      }
      case PartiallyConstrained:
        v = lower + seed;
        break;
      default:
        v = seed % 3 == 0 ? upper : seed % 3 == 1 ? lower : lower + (upper - lower) / 2;
    }
    i.setValue(static_cast<int>(static_cast<std::uint32_t>(v)));
  }

  void fillEnumerated(ENUMERATED& e) {
    const EnumeratedInfo* ei = e.info();
    if (!ei->nameCount) return;
    int v = -1, chosen = 0;
    unsigned pick = seed % ei->nameCount;
    for (unsigned k = 0; k <= pick; ++k) {
      const char* mark = std::strchr(ei->names[k], '=');
      v = mark ? std::atoi(mark + 1) : v + 1;
      chosen = v;
    }
    e.setFromInt(chosen);
  }

  void fillString(AbstractString& str) {
    const StringInfo* si = str.info();
    unsigned n = size(si->size, 4);
    str.clear();
    std::string pool;
    for (unsigned k = 0; k < si->characterSetSize; ++k) {
      char c = si->characterSet[k];
      // The printer writes strings unquoted inside, so a double quote
      // cannot be read back; control characters are not worth the noise.
      if (c != '"' && static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F)
        pool += c;
    }
    if (pool.empty()) pool = "Ab1 ,}";
    for (unsigned k = 0; k < n; ++k) str += pool[(k * 7 + seed + 33) % pool.size()];
  }

  unsigned seed;
};

// Follows component and alternative names from root ("#" steps into the first
// element of a list), filling what it selects on the way.
inline AbstractData* walk(AbstractData& root, std::initializer_list<const char*> path,
                          Sampler& sampler) {
  AbstractData* at = &root;
  for (const char* name : path) {
    if (SEQUENCE* seq = dynamic_cast<SEQUENCE*>(at)) {
      const SequenceInfo* si = seq->info();
      unsigned total = si->numFields + si->knownExtensions, i = 0;
      while (i < total && std::strcmp(si->names[i], name) != 0) ++i;
      if (i == total) return nullptr;
      int id =
          i < si->numFields ? si->ids[i] : static_cast<int>(si->numOptional + i - si->numFields);
      if (id >= 0) seq->includeOptionalField(static_cast<unsigned>(id), i);
      at = seq->createField(i);
    } else if (CHOICE* choice = dynamic_cast<CHOICE*>(at)) {
      unsigned i = 0, total = choice->getTotalChoices();
      while (i < total && std::strcmp(choice->info()->names[i], name) != 0) ++i;
      if (i == total) return nullptr;
      sampler.fillChoice(*choice, static_cast<int>(i));
      at = choice->getSelection();
    } else if (SEQUENCE_OF_Base* list = dynamic_cast<SEQUENCE_OF_Base*>(at)) {
      if (list->empty()) list->resize(1);
      at = &list->elementAt(0);
    } else {
      return nullptr;
    }
    if (!at) return nullptr;
  }
  return at;
}

}  // namespace codertest

#include <vector>

#include "testmod/TESTMOD.h"
#if __has_include("asn1/modules/LGCP.h")
#include "asn1/modules/LGCP.h"
#include "asn1/modules/MON.h"
#include "asn1/modules/VORNGW.h"
#endif

namespace codertest {

// Whether a value holds an open type anywhere.
class OpenTypeFinder : public ConstVisitor {
 public:
  using ConstVisitor::do_visit;
  bool do_visit(const OpenData&) override { return false; }
  bool do_visit(const CHOICE& value) override {
    return !value.getSelection() || value.getSelection()->accept(*this);
  }
  bool do_visit(const SEQUENCE_OF_Base& value) override {
    for (const AbstractData* e : value.elements())
      if (!e->accept(*this)) return false;
    return true;
  }
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override {
    const AbstractData* f = seq.getField(static_cast<unsigned>(index));
    return !f || f->accept(*this);
  }
  bool visitKnownExtension(const SEQUENCE& seq, int index) override {
    return visitExtensionRoot(seq, index);
  }
};

inline bool holdsOpenType(const AbstractData& value) {
  OpenTypeFinder finder;
  return !value.accept(finder);
}

struct SampleCase {
  std::string label;
  std::unique_ptr<AbstractData> value;
  bool openType;
};

// One sample per alternative of the CHOICE that `path` leads to from a
// value of rootInfo, for each of `seeds` seeds.
inline std::vector<SampleCase> alternativesOf(const void* rootInfo,
                                              std::initializer_list<const char*> path,
                                              unsigned seeds) {
  std::vector<SampleCase> cases;
  for (unsigned k = 0;; ++k) {
    for (unsigned seed = 0; seed < seeds; ++seed) {
      std::unique_ptr<AbstractData> root(AbstractData::create(rootInfo));
      Sampler sampler(seed);
      sampler.fill(*root);
      CHOICE* choice = dynamic_cast<CHOICE*>(walk(*root, path, sampler));
      if (!choice || k >= choice->getTotalChoices()) return cases;
      sampler.fillChoice(*choice, static_cast<int>(k));
      std::string label;
      for (const char* p : path) label += std::string(p) + ".";
      label += choice->info()->names[k];
      label += " seed " + std::to_string(seed);
      bool open = holdsOpenType(*root);
      cases.push_back(SampleCase{label, std::move(root), open});
    }
  }
}

// Samples of every alternative of each message CHOICE, `seeds` seeds each.
inline std::vector<SampleCase> messageCases(unsigned seeds) {
  std::vector<SampleCase> all;
  auto add = [&](const char* module, const void* info, std::initializer_list<const char*> path) {
    for (SampleCase& c : alternativesOf(info, path, seeds)) {
      c.label = std::string(module) + " " + c.label;
      all.push_back(std::move(c));
    }
  };
  add("TESTMOD", &TESTMOD::Message::theInfo, {"pdu"});
#if __has_include("asn1/modules/LGCP.h")
  for (const char* pdu : {"command", "signal", "response"}) {
    add("LGCP", &LGCP::Message::theInfo, {"pdu", pdu});
    add("MON", &MON::Message::theInfo, {"pdu", pdu});
  }
  add("VORNGW", &VORNGW::ProtoVornPackets::theInfo, {"packets", "#", "payload"});
#endif
  return all;
}

}  // namespace codertest

#endif  // VELMARD_TESTS_ASN1_BER_SAMPLE_H
