#include "asn1/visitor.h"

namespace ASN1 {

bool Visitor::visit(SEQUENCE& seq) {
  int p = preVisitExtensionRoots(seq);
  if (p < NO_EXTENSION) return p != FAIL;
  const SequenceInfo* si = seq.info();
  int lastId = -1;
  for (unsigned i = 0; i < si->numFields; ++i) {
    int id = si->ids[i];
    int r = visitExtensionRoot(seq, static_cast<int>(i), id);
    if (r < NO_EXTENSION) return r != FAIL;
    if (id != -1) lastId = id;
  }
  if (p != CONTINUE) return true;
  int e = preVisitExtensions(seq);
  if (e != CONTINUE) return e != FAIL;
  unsigned total = si->numFields + si->knownExtensions;
  for (unsigned i = si->numFields; i < total; ++i) {
    int r = visitKnownExtension(seq, static_cast<int>(i), ++lastId);
    if (r != CONTINUE) return r != FAIL;
  }
  return visitUnknownExtensions(seq);
}

bool ConstVisitor::visit(const SEQUENCE& seq) {
  if (!preVisitExtensionRoots(seq)) return false;
  const SequenceInfo* si = seq.info();
  int lastId = -1;
  for (unsigned i = 0; i < si->numFields; ++i) {
    int id = si->ids[i];
    if (id != -1) {
      lastId = id;
      if (!seq.hasOptionalField(static_cast<unsigned>(id))) continue;
    }
    if (!visitExtensionRoot(seq, static_cast<int>(i))) return false;
  }
  if (seq.extensionMap().size() == 0) return afterVisitSequence(seq);
  if (!preVisitExtensions(seq)) return false;
  unsigned total = si->numFields + si->knownExtensions;
  for (unsigned i = si->numFields; i < total; ++i) {
    ++lastId;
    if (seq.hasOptionalField(static_cast<unsigned>(lastId)) &&
        !visitKnownExtension(seq, static_cast<int>(i)))
      return false;
  }
  return afterVisitSequence(seq);
}

bool PrimitiveChecker::do_visit(const CHOICE& value) {
  const AbstractData* selection = value.getSelection();
  return selection ? selection->accept(*this) : true;
}

bool PrimitiveChecker::do_visit(const OpenData& value) {
  return value.has_data() ? value.get_data().accept(*this) : true;
}

}  // namespace ASN1
