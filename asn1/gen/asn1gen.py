#!/usr/bin/env python3
"""Generate the C++ classes and constant type-information records of one
ASN.1 module for the velmard ASN.1 runtime (asn1/asn1.h).

Usage: asn1gen.py MODULE.asn --out-dir DIR --include-prefix PREFIX
                  [--search DIR ...]

Writes DIR/<MODULE>.h and DIR/<MODULE>.cpp.  Imported modules are read from
<search>/<NAME>/<NAME>.asn so that their types can be resolved; their headers
are included as "<PREFIX>/<NAME>.h".

Only the subset of ASN.1 that the message modules use is accepted; anything
else stops the generation with "file:line: error: ..." naming the construct.
"""

import argparse
import os
import re
import sys

# ---------------------------------------------------------------------------
# Errors and tokens


class GenError(Exception):
    def __init__(self, path, line, message):
        Exception.__init__(self, "%s:%d: error: %s" % (path, line, message))


class Token:
    __slots__ = ("kind", "text", "line")

    def __init__(self, kind, text, line):
        self.kind = kind  # 'id', 'num', 'str', 'sym', 'eof'
        self.text = text
        self.line = line

    def __repr__(self):
        return "%s %r" % (self.kind, self.text)


SYMBOLS = ["::=", "...", "..", "[[", "]]", "{", "}", "(", ")", ",", ";", "|", "^", "[", "]", ".", "<", ">", "@", "!", ":", "&"]
IDENT_RE = re.compile(r"[A-Za-z][A-Za-z0-9]*(?:-[A-Za-z0-9]+)*")
NUM_RE = re.compile(r"-?[0-9]+")


def tokenize(path, text):
    """Returns the tokens and the per-line annotations (--@name, --@alias)."""
    tokens = []
    notes = {}
    line = 1
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
            continue
        if c in " \t\r\f":
            i += 1
            continue
        if text.startswith("--", i):
            # A comment runs to the end of the line or to the next "--".
            j = i + 2
            while j < n and text[j] != "\n" and not text.startswith("--", j):
                j += 1
            body = text[i + 2:j].strip()
            if body.startswith("@"):
                m = re.match(r"@name\s+(\S+)\s*$", body)
                if m:
                    notes.setdefault(line, {})["name"] = m.group(1)
                elif re.match(r"@alias\s*$", body):
                    notes.setdefault(line, {})["alias"] = True
                else:
                    raise GenError(path, line, "unknown annotation '--%s'" % body)
            i = j + 2 if text.startswith("--", j) else j
            continue
        if text.startswith("/*", i):
            raise GenError(path, line, "block comments '/* */' are not supported")
        if c == '"':
            j = i + 1
            s = []
            while True:
                if j >= n:
                    raise GenError(path, line, "unterminated string")
                if text[j] == '"':
                    if j + 1 < n and text[j + 1] == '"':
                        s.append('"')
                        j += 2
                        continue
                    break
                if text[j] == "\n":
                    raise GenError(path, line, "string across lines is not supported")
                s.append(text[j])
                j += 1
            tokens.append(Token("str", "".join(s), line))
            i = j + 1
            continue
        m = NUM_RE.match(text, i)
        if m and (c.isdigit() or (c == "-" and i + 1 < n and text[i + 1].isdigit())):
            tokens.append(Token("num", m.group(0), line))
            i = m.end()
            continue
        m = IDENT_RE.match(text, i)
        if m:
            tokens.append(Token("id", m.group(0), line))
            i = m.end()
            continue
        for s in SYMBOLS:
            if text.startswith(s, i):
                tokens.append(Token("sym", s, line))
                i += len(s)
                break
        else:
            raise GenError(path, line, "unexpected character %r" % c)
    tokens.append(Token("eof", "", line))
    return tokens, notes


# ---------------------------------------------------------------------------
# Syntax tree

class Type:
    """kind: BOOLEAN NULL INTEGER ENUMERATED OCTET BIT STRING BMP TIME OID
    OPEN SEQUENCE SEQOF CHOICE REF"""

    def __init__(self, kind, line):
        self.kind = kind
        self.line = line
        self.constraint = None   # (ctype, lower, upper) for INTEGER
        self.size = None         # (ctype, lower, upper) for sized kinds
        self.string = None       # IA5String, ...
        self.alphabet = None     # permitted characters (FROM)
        self.element = None      # SEQUENCE OF element
        self.set_of = False
        self.ref = None          # (module or None, name)
        self.items = None        # components / alternatives / enumerators
        self.extendable = False


class Item:
    def __init__(self, name, exact, line):
        self.name = name      # ASN.1 spelling as written
        self.exact = exact    # spelling for name tables
        self.line = line
        self.type = None
        self.optional = False
        self.extension = False
        self.value = None     # enumerators
        self.alias = False


class Assignment:
    def __init__(self, name, exact, type_, line):
        self.name = name
        self.exact = exact
        self.type = type_
        self.line = line


class Module:
    def __init__(self, name, path):
        self.name = name
        self.path = path
        self.imports = {}      # type name -> module name
        self.import_order = []
        self.import_lines = {}  # module name -> line of its IMPORTS entry
        self.assignments = []
        self.by_name = {}


# ---------------------------------------------------------------------------
# Parser

STRING_TYPES = {
    "IA5String": "IA5String", "NumericString": "NumericString",
    "PrintableString": "PrintableString", "VisibleString": "VisibleString",
    "GeneralString": "GeneralString",
}
INT_MAX = 2147483647
UINT_MAX = 4294967295
INT_MIN = -2147483648


class Parser:
    def __init__(self, path, text):
        self.path = path
        self.tokens, self.notes = tokenize(path, text)
        self.pos = 0
        self.used_notes = set()

    # -- token helpers
    def peek(self, k=0):
        return self.tokens[min(self.pos + k, len(self.tokens) - 1)]

    def next(self):
        t = self.tokens[self.pos]
        if t.kind != "eof":
            self.pos += 1
        return t

    def error(self, message, tok=None):
        tok = tok or self.peek()
        return GenError(self.path, tok.line, message)

    def unsupported(self, what, tok=None):
        return self.error("unsupported construct: %s" % what, tok)

    def is_sym(self, s, k=0):
        t = self.peek(k)
        return t.kind == "sym" and t.text == s

    def is_id(self, s, k=0):
        t = self.peek(k)
        return t.kind == "id" and t.text == s

    def expect_sym(self, s):
        t = self.next()
        if t.kind != "sym" or t.text != s:
            raise self.error("expected '%s', found '%s'" % (s, t.text or "end of file"), t)
        return t

    def expect_kw(self, s):
        t = self.next()
        if t.kind != "id" or t.text != s:
            raise self.error("expected '%s', found '%s'" % (s, t.text or "end of file"), t)
        return t

    def expect_id(self, what):
        t = self.next()
        if t.kind != "id":
            raise self.error("expected %s, found '%s'" % (what, t.text or "end of file"), t)
        return t

    def expect_number(self):
        t = self.next()
        if t.kind != "num":
            raise self.error("expected a number, found '%s'" % (t.text or "end of file"), t)
        return int(t.text)

    def exact_name(self, tok):
        note = self.notes.get(tok.line, {})
        if "name" in note and (tok.line, "name") not in self.used_notes:
            self.used_notes.add((tok.line, "name"))
            return note["name"]
        return tok.text

    def alias_mark(self, line):
        if self.notes.get(line, {}).get("alias"):
            self.used_notes.add((line, "alias"))
            return True
        return False

    # -- module
    def parse_module(self):
        name_tok = self.expect_id("a module name")
        module = Module(name_tok.text, self.path)
        if self.is_sym("{"):
            raise self.unsupported("module object identifier")
        self.expect_kw("DEFINITIONS")
        if self.is_id("AUTOMATIC"):
            self.next()
            self.expect_kw("TAGS")
        else:
            raise self.error("only 'DEFINITIONS AUTOMATIC TAGS' modules are supported")
        if self.is_id("EXTENSIBILITY"):
            raise self.unsupported("EXTENSIBILITY IMPLIED")
        self.expect_sym("::=")
        self.expect_kw("BEGIN")
        if self.is_id("EXPORTS"):
            raise self.unsupported("EXPORTS")
        if self.is_id("IMPORTS"):
            self.next()
            self.parse_imports(module)
        while not self.is_id("END"):
            if self.peek().kind == "eof":
                raise self.error("missing END")
            module_assignment = self.parse_assignment()
            if module_assignment.name in module.by_name:
                raise GenError(self.path, module_assignment.line,
                               "type '%s' defined twice" % module_assignment.name)
            module.by_name[module_assignment.name] = module_assignment
            module.assignments.append(module_assignment)
        self.next()
        if self.peek().kind != "eof":
            raise self.error("text after END")
        for line, note in self.notes.items():
            for key in note:
                if (line, key) not in self.used_notes:
                    raise GenError(self.path, line, "annotation '--@%s' does not belong to any name" % key)
        return module

    def parse_imports(self, module):
        while not self.is_sym(";"):
            names = []
            while True:
                t = self.expect_id("an imported type name")
                if t.text[0].islower():
                    raise self.unsupported("import of value '%s'" % t.text, t)
                names.append(t)
                if self.is_sym(","):
                    self.next()
                    continue
                break
            self.expect_kw("FROM")
            src_tok = self.expect_id("a module name")
            src = src_tok.text
            module.import_lines.setdefault(src, src_tok.line)
            if self.is_sym("{"):
                raise self.unsupported("module object identifier in IMPORTS")
            if src not in module.import_order:
                module.import_order.append(src)
            for t in names:
                if t.text in module.imports:
                    raise GenError(self.path, t.line, "'%s' imported twice" % t.text)
                module.imports[t.text] = src
        self.next()

    def parse_assignment(self):
        t = self.expect_id("a type assignment")
        if not t.text[0].isupper():
            raise self.unsupported("value assignment '%s'" % t.text, t)
        if self.is_sym("{"):
            raise self.unsupported("parameterized type '%s'" % t.text, t)
        exact = self.exact_name(t)
        self.expect_sym("::=")
        type_ = self.parse_type()
        return Assignment(t.text, exact, type_, t.line)

    # -- types
    def parse_type(self):
        t = self.peek()
        if t.kind == "sym" and t.text == "[":
            raise self.unsupported("explicit tag (all tags are automatic)", t)
        if t.kind != "id":
            raise self.error("expected a type, found '%s'" % (t.text or "end of file"), t)
        word = t.text
        self.next()
        line = t.line
        if word == "BOOLEAN":
            ty = Type("BOOLEAN", line)
        elif word == "NULL":
            ty = Type("NULL", line)
        elif word == "INTEGER":
            ty = Type("INTEGER", line)
            if self.is_sym("{"):
                raise self.unsupported("INTEGER with named numbers")
            if self.is_sym("("):
                ty.constraint = self.parse_value_constraint()
        elif word == "ENUMERATED":
            ty = self.parse_enumerated(line)
        elif word == "OCTET" or word == "BIT":
            self.expect_kw("STRING")
            ty = Type("OCTET" if word == "OCTET" else "BIT", line)
            if word == "BIT" and self.is_sym("{"):
                raise self.unsupported("BIT STRING with named bits")
            self.parse_string_constraints(ty, allow_from=False)
        elif word in STRING_TYPES:
            ty = Type("STRING", line)
            ty.string = word
            self.parse_string_constraints(ty, allow_from=True)
        elif word == "BMPString":
            ty = Type("BMP", line)
            self.parse_string_constraints(ty, allow_from=False)
        elif word == "GeneralizedTime":
            ty = Type("TIME", line)
        elif word == "OBJECT":
            self.expect_kw("IDENTIFIER")
            ty = Type("OID", line)
        elif word == "ANY":
            if self.is_id("DEFINED"):
                raise self.unsupported("ANY DEFINED BY")
            ty = Type("OPEN", line)
        elif word == "SEQUENCE" or word == "SET":
            ty = self.parse_sequence_like(word, line)
        elif word == "CHOICE":
            ty = self.parse_choice(line)
        elif word in ("REAL", "UTCTime", "UTF8String", "TeletexString", "T61String",
                      "VideotexString", "GraphicString", "UniversalString",
                      "ObjectDescriptor", "EXTERNAL", "EMBEDDED", "CHARACTER",
                      "RELATIVE-OID", "CLASS", "INSTANCE", "TYPE-IDENTIFIER"):
            raise self.unsupported(word, t)
        elif word[0].isupper():
            ty = Type("REF", line)
            if self.is_sym("."):
                self.next()
                ty.ref = (word, self.expect_id("a type name").text)
            else:
                ty.ref = (None, word)
            if self.is_sym("("):
                raise self.unsupported("constraint on a type reference")
            if self.is_sym("{"):
                raise self.unsupported("parameterized type reference")
        else:
            raise self.error("expected a type, found '%s'" % word, t)
        if self.is_sym("("):
            written = {"OCTET": "OCTET STRING", "BIT": "BIT STRING", "OBJECT": "OBJECT IDENTIFIER"}
            raise self.unsupported("constraint on %s" % written.get(word, word))
        return ty

    def parse_bound(self, allow_max):
        t = self.next()
        if t.kind == "num":
            return int(t.text)
        if t.kind == "id" and t.text == "MAX" and allow_max:
            return "MAX"
        if t.kind == "id" and t.text == "MIN":
            raise self.unsupported("MIN bound", t)
        raise self.error("expected a bound, found '%s'" % (t.text or "end of file"), t)

    def parse_range(self):
        """lo..hi | v, optionally followed by ', ...'; inside parentheses."""
        start = self.peek()
        lo = self.parse_bound(False)
        if self.is_sym(".."):
            self.next()
            hi = self.parse_bound(True)
        else:
            hi = lo
        ext = False
        if self.is_sym(","):
            self.next()
            self.expect_sym("...")
            ext = True
            if self.is_sym(","):
                raise self.unsupported("extension additions in a constraint")
        if self.is_sym("|") or self.is_sym("^"):
            raise self.unsupported("union or intersection of ranges", self.peek())
        if hi != "MAX" and hi < lo:
            raise self.error("empty range %d..%d" % (lo, hi), start)
        if hi == "MAX":
            if ext:
                raise self.unsupported("extendable range with MAX", start)
            return (1, lo, None)
        return (3 if ext else 2, lo, hi)

    def parse_value_constraint(self):
        tok = self.expect_sym("(")
        if self.is_id("SIZE") or self.is_id("FROM"):
            raise self.unsupported("%s constraint on INTEGER" % self.peek().text)
        c = self.parse_range()
        self.expect_sym(")")
        ctype, lo, hi = c
        if lo < INT_MIN or lo > INT_MAX:
            raise GenError(self.path, tok.line, "lower bound %d does not fit a 32-bit INTEGER" % lo)
        if hi is not None:
            if lo < 0 and hi > INT_MAX:
                raise GenError(self.path, tok.line, "range %d..%d does not fit a 32-bit INTEGER" % (lo, hi))
            if hi > UINT_MAX:
                raise GenError(self.path, tok.line, "upper bound %d does not fit 32 bits" % hi)
        return c

    def parse_size(self):
        self.expect_kw("SIZE")
        tok = self.expect_sym("(")
        c = self.parse_range()
        self.expect_sym(")")
        if c[1] < 0:
            raise GenError(self.path, tok.line, "negative size bound")
        if c[2] is not None and c[2] > UINT_MAX:
            raise GenError(self.path, tok.line, "size bound %d does not fit 32 bits" % c[2])
        return c

    def parse_alphabet(self):
        self.expect_kw("FROM")
        self.expect_sym("(")
        chars = set()
        while True:
            t = self.next()
            if t.kind != "str":
                raise self.unsupported("permitted alphabet other than quoted characters", t)
            if self.is_sym(".."):
                self.next()
                t2 = self.next()
                if t2.kind != "str" or len(t.text) != 1 or len(t2.text) != 1:
                    raise self.error("a character range needs single characters", t2)
                for code in range(ord(t.text), ord(t2.text) + 1):
                    chars.add(chr(code))
            else:
                chars.update(t.text)
            if self.is_sym("|"):
                self.next()
                continue
            break
        self.expect_sym(")")
        for ch in chars:
            if ord(ch) > 255:
                raise self.error("permitted character %r is not a single octet" % ch)
        return "".join(sorted(chars))

    def parse_string_constraints(self, ty, allow_from):
        while self.is_sym("("):
            self.next()
            while True:
                if self.is_id("SIZE"):
                    if ty.size is not None:
                        raise self.error("SIZE given twice")
                    ty.size = self.parse_size()
                elif self.is_id("FROM") and allow_from:
                    if ty.alphabet is not None:
                        raise self.error("FROM given twice")
                    ty.alphabet = self.parse_alphabet()
                else:
                    raise self.unsupported("constraint '%s' on this type" % self.peek().text)
                if self.is_sym("^"):
                    self.next()
                    continue
                break
            self.expect_sym(")")

    def parse_enumerated(self, line):
        ty = Type("ENUMERATED", line)
        ty.items = []
        self.expect_sym("{")
        in_ext = False
        while True:
            if self.is_sym("..."):
                if in_ext:
                    raise self.error("second extension marker")
                self.next()
                in_ext = True
                ty.extendable = True
            else:
                t = self.expect_id("an enumerator")
                item = Item(t.text, self.exact_name(t), t.line)
                if not self.is_sym("("):
                    raise self.error("enumerator '%s' needs an explicit number" % t.text, t)
                self.next()
                item.value = self.expect_number()
                self.expect_sym(")")
                item.extension = in_ext
                item.alias = self.alias_mark(t.line)
                ty.items.append(item)
            if self.is_sym(","):
                self.next()
                continue
            break
        self.expect_sym("}")
        if not ty.items:
            raise self.error("ENUMERATED without enumerators")
        return ty

    def parse_components(self, what):
        items = []
        extendable = False
        in_ext = False
        self.expect_sym("{")
        if self.is_sym("}"):
            self.next()
            return items, extendable
        while True:
            if self.is_sym("..."):
                if in_ext:
                    raise self.unsupported("second extension marker in %s" % what)
                self.next()
                in_ext = True
                extendable = True
            elif self.is_sym("[["):
                raise self.unsupported("extension addition group [[ ]] in %s" % what)
            elif self.is_id("COMPONENTS"):
                raise self.unsupported("COMPONENTS OF")
            else:
                t = self.expect_id("a component name")
                if not t.text[0].islower():
                    raise self.error("component name '%s' must begin with a lower-case letter" % t.text, t)
                item = Item(t.text, self.exact_name(t), t.line)
                item.type = self.parse_type()
                item.extension = in_ext
                if self.is_id("OPTIONAL"):
                    if what == "CHOICE":
                        raise self.error("OPTIONAL in a CHOICE")
                    self.next()
                    item.optional = True
                elif self.is_id("DEFAULT"):
                    raise self.unsupported("DEFAULT")
                items.append(item)
            if self.is_sym(","):
                self.next()
                continue
            break
        self.expect_sym("}")
        return items, extendable

    def parse_sequence_like(self, word, line):
        size = None
        if self.is_sym("("):
            self.next()
            size = self.parse_size()
            self.expect_sym(")")
        elif self.is_id("SIZE"):
            size = self.parse_size()
        if self.is_id("OF"):
            self.next()
            if self.peek().kind == "id" and self.peek().text[0].islower():
                raise self.unsupported("named element in %s OF" % word)
            ty = Type("SEQOF", line)
            ty.set_of = word == "SET"
            ty.size = size
            ty.element = self.parse_type()
            return ty
        if size is not None:
            raise self.error("SIZE before a %s that is not a list" % word)
        if word == "SET":
            raise self.unsupported("SET")
        ty = Type("SEQUENCE", line)
        ty.items, ty.extendable = self.parse_components("SEQUENCE")
        return ty

    def parse_choice(self, line):
        ty = Type("CHOICE", line)
        ty.items, ty.extendable = self.parse_components("CHOICE")
        if not ty.items:
            raise self.error("CHOICE without alternatives")
        return ty


# ---------------------------------------------------------------------------
# Resolution and C++ emission

CPP_KEYWORDS = set("""alignas alignof and and_eq asm auto bitand bitor bool break case catch char
char16_t char32_t class compl const constexpr const_cast continue decltype default delete do
double dynamic_cast else enum explicit export extern false float for friend goto if inline int
long mutable namespace new noexcept not not_eq nullptr operator or or_eq private protected
public register reinterpret_cast return short signed sizeof static static_assert static_cast
struct switch template this thread_local throw true try typedef typeid typename union unsigned
using virtual void volatile wchar_t while xor xor_eq NULL""".split())

# Members of the generated classes that an enumerator must not hide.
RESERVED_MEMBERS = {"theInfo", "create", "do_clone", "getValue", "setValue", "NamedNumber",
                    "info", "Id", "OptionalId", "FieldIndex"}

CONSTRAINT_NAMES = {0: "ASN1::Unconstrained", 1: "ASN1::PartiallyConstrained",
                    2: "ASN1::FixedConstraint", 3: "ASN1::ExtendableConstraint"}

STRING_TABLES = {
    # name: (tag, table symbol, table size, index bits, unaligned, aligned, table chars)
    "NumericString": (18, "ASN1::NumericStringSet", 11, 4, 4, 4, " 0123456789"),
    "PrintableString": (19, "ASN1::PrintableStringSet", 74, 7, 7, 8,
                        " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
    "VisibleString": (26, "ASN1::VisibleStringSet", 95, 7, 7, 8, "".join(chr(c) for c in range(0x20, 0x7F))),
    "IA5String": (22, "ASN1::IA5StringSet", 128, 7, 7, 8, "".join(chr(c) for c in range(0, 0x80))),
    "GeneralString": (27, "ASN1::GeneralStringSet", 256, 8, 8, 8, "".join(chr(c) for c in range(0, 0x100))),
}


def ident(name):
    """The C++ spelling of an ASN.1 name: a hyphen becomes an underscore."""
    return name.replace("-", "_")


def count_bits(n):
    k = 0
    while (1 << k) < n:
        k += 1
    return k


def c_string(s):
    out = ['"']
    for ch in s:
        o = ord(ch)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= o < 0x7F and ch != "?":
            out.append(ch)
        else:
            out.append('\\%03o' % o)
    out.append('"')
    return "".join(out)


class Resolved:
    """A type as C++ sees it."""

    def __init__(self, kind, cpp, info, line):
        self.kind = kind          # kind after following references
        self.cpp = cpp            # C++ type of the value object
        self.info = info          # expression of its record's address
        self.line = line
        self.enum_cpp = None      # ENUMERATED: class that holds NamedNumber
        self.int_unsigned = False


class Generator:
    def __init__(self, path, search, include_prefix):
        self.search = search
        self.include_prefix = include_prefix
        self.modules = {}
        self.main = self.load_file(path)

    def load_file(self, path):
        try:
            with open(path, encoding="utf-8") as f:
                text = f.read()
        except OSError as e:
            raise GenError(path, 0, "cannot read: %s" % e.strerror)
        module = Parser(path, text).parse_module()
        self.modules[module.name] = module
        return module

    def load_module(self, name, path, line):
        if name in self.modules:
            return self.modules[name]
        for d in self.search:
            p = os.path.join(d, name, name + ".asn")
            if os.path.exists(p):
                return self.load_file(p)
        raise GenError(path, line, "imported module '%s' not found" % name)

    # -- resolution
    def lookup(self, module, name, line):
        """(module, assignment) that a type reference names."""
        if name in module.by_name:
            return module, module.by_name[name]
        if name in module.imports:
            src = self.load_module(module.imports[name], module.path, line)
            if name not in src.by_name:
                raise GenError(module.path, line, "module '%s' does not define '%s'" % (src.name, name))
            return src, src.by_name[name]
        raise GenError(module.path, line, "undefined type '%s'" % name)

    def class_name(self, module, assignment):
        return "%s::%s" % (module.name, ident(assignment.exact))

    def resolve(self, module, ty, owner_info=None, depth=0):
        """Resolved view of a type used as a component, alternative, element
        or alias.  owner_info names the record to emit for a constrained
        string component (None: the type must not need its own record)."""
        if depth > 50:
            raise GenError(module.path, ty.line, "circular type definition")
        k = ty.kind
        if k == "REF":
            mod_name, name = ty.ref
            if mod_name is not None:
                if mod_name != module.name and mod_name not in module.import_order:
                    raise GenError(module.path, ty.line, "module '%s' is not imported" % mod_name)
                src = self.load_module(mod_name, module.path, ty.line)
                if name not in src.by_name:
                    raise GenError(module.path, ty.line, "module '%s' does not define '%s'" % (mod_name, name))
                src_mod, a = src, src.by_name[name]
            else:
                src_mod, a = self.lookup(module, name, ty.line)
            return self.resolve_assignment(src_mod, a, depth + 1)
        if k == "BOOLEAN":
            return Resolved(k, "ASN1::BOOLEAN", "&ASN1::BOOLEAN::theInfo", ty.line)
        if k == "NULL":
            return Resolved(k, "ASN1::Null", "&ASN1::Null::theInfo", ty.line)
        if k == "TIME":
            return Resolved(k, "ASN1::GeneralizedTime", "&ASN1::GeneralizedTime::theInfo", ty.line)
        if k == "OID":
            return Resolved(k, "ASN1::OBJECT_IDENTIFIER", "&ASN1::OBJECT_IDENTIFIER::theInfo", ty.line)
        if k == "OPEN":
            return Resolved(k, "ASN1::OpenData", "&ASN1::OpenData::theInfo", ty.line)
        if k == "INTEGER":
            if ty.constraint is None:
                return Resolved(k, "ASN1::INTEGER", "&ASN1::INTEGER::theInfo", ty.line)
            ctype, lo, hi = ty.constraint
            upper = 0xFFFFFFFF if hi is None else (hi & 0xFFFFFFFF)
            cpp = "ASN1::Constrained_INTEGER<%s, %d, %du>" % (CONSTRAINT_NAMES[ctype], lo, upper)
            r = Resolved(k, cpp, "&%s::theInfo" % cpp, ty.line)
            r.int_unsigned = lo >= 0
            return r
        if k == "SEQOF":
            if ty.element.kind in ("SEQUENCE", "CHOICE", "ENUMERATED", "SEQOF"):
                raise GenError(module.path, ty.element.line,
                               "unsupported construct: inline %s as a list element (name the type)" % ty.element.kind)
            el = self.resolve(module, ty.element, None, depth + 1)
            if ty.size is None:
                cons = "ASN1::EmptyConstraint"
            else:
                ctype, lo, hi = ty.size
                cons = "ASN1::SizeConstraint<%s, %d, %du>" % (CONSTRAINT_NAMES[ctype], lo,
                                                              0xFFFFFFFF if hi is None else hi)
            tmpl = "ASN1::SET_OF" if ty.set_of else "ASN1::SEQUENCE_OF"
            cpp = "%s<%s, %s>" % (tmpl, el.cpp, cons)
            return Resolved(k, cpp, "&%s::theInfo" % cpp, ty.line)
        if k in ("OCTET", "BIT", "STRING", "BMP"):
            base = {"OCTET": "ASN1::OCTET_STRING", "BIT": "ASN1::BIT_STRING",
                    "BMP": "ASN1::BMPString"}.get(k) or "ASN1::" + ty.string
            if ty.size is None and ty.alphabet is None:
                return Resolved(k, base, "&%s::theInfo" % base, ty.line)
            if owner_info is None:
                raise GenError(module.path, ty.line,
                               "unsupported construct: constrained %s here (name the type)" % base[6:])
            return Resolved(k, base, "&" + owner_info, ty.line)
        if k in ("SEQUENCE", "CHOICE", "ENUMERATED"):
            raise GenError(module.path, ty.line,
                           "unsupported construct: inline %s (define it as a named type)" % k)
        raise GenError(module.path, ty.line, "unsupported construct: %s" % k)

    def resolve_assignment(self, module, a, depth=0):
        ty = a.type
        cls = self.class_name(module, a)
        if ty.kind in ("SEQUENCE", "CHOICE", "ENUMERATED"):
            r = Resolved(ty.kind, cls, "&%s::theInfo" % cls, a.line)
            if ty.kind == "ENUMERATED":
                r.enum_cpp = cls
            return r
        if ty.kind in ("OCTET", "BIT", "STRING", "BMP") and (ty.size is not None or ty.alphabet is not None):
            return Resolved(ty.kind, cls, "&%s::theInfo" % cls, a.line)
        r = self.resolve(module, ty, None, depth + 1)
        # An alias names the same C++ type through a typedef.
        return self._alias(r, cls)

    def _alias(self, r, cls):
        out = Resolved(r.kind, cls, "&%s::theInfo" % cls, r.line)
        out.enum_cpp = r.enum_cpp
        out.int_unsigned = r.int_unsigned
        return out


# ---------------------------------------------------------------------------

def size_record(size):
    if size is None:
        return "ASN1::Unconstrained, 0, 0xFFFFFFFFu"
    ctype, lo, hi = size
    return "%s, %d, %du" % (CONSTRAINT_NAMES[ctype], lo, 0xFFFFFFFF if hi is None else hi)


def string_record(ty, create, path):
    """Initializer of the record of a constrained string-like type."""
    if ty.kind in ("OCTET", "BIT"):
        tag = 4 if ty.kind == "OCTET" else 3
        return "ASN1::ConstrainedInfo", "{{%s, %d}, %s}" % (create, tag, size_record(ty.size))
    if ty.kind == "BMP":
        return ("ASN1::BMPStringInfo",
                "{{{%s, 30}, %s}, 0, 0xFFFF, 16, 16}" % (create, size_record(ty.size)))
    tag, table, count, index_bits, ua, al, chars = STRING_TABLES[ty.string]
    if ty.alphabet is not None:
        for ch in ty.alphabet:
            if ch not in chars:
                raise GenError(path, ty.line, "character %r is not a %s character" % (ch, ty.string))
        table = c_string(ty.alphabet)
        count = len(ty.alphabet)
        index_bits = count_bits(count)
        ua = index_bits
        al = 0 if index_bits == 0 else 1
        while al < index_bits:
            al *= 2
    return ("ASN1::StringInfo",
            "{{{%s, %d}, %s}, %s, %d, %d, %d, %d}" % (create, tag, size_record(ty.size), table, count,
                                                      index_bits, ua, al))


class Emitter:
    def __init__(self, gen):
        self.gen = gen
        self.m = gen.main
        self.h = []
        self.c = []
        self.names = {}

    def fail(self, line, message):
        raise GenError(self.m.path, line, message)

    def run(self):
        m = self.m
        self.h.append("// Generated from %s by asn1gen.py; do not edit." % os.path.basename(m.path))
        guard = "VELMARD_" + re.sub(r"[^A-Z0-9]", "_", ("%s/%s.h" % (self.gen.include_prefix, m.name)).upper())
        self.h.append("#ifndef " + guard)
        self.h.append("#define " + guard)
        self.h.append("")
        self.h.append('#include <string>')
        self.h.append('#include <vector>')
        self.h.append("")
        self.h.append('#include "asn1/asn1.h"')
        for imp in m.import_order:
            self.gen.load_module(imp, m.path, m.import_lines[imp])
            self.h.append('#include "%s/%s.h"' % (self.gen.include_prefix, imp))
        self.h.append("")
        self.h.append("namespace %s {" % m.name)
        self.c.append("// Generated from %s by asn1gen.py; do not edit." % os.path.basename(m.path))
        self.c.append('#include "%s/%s.h"' % (self.gen.include_prefix, m.name))
        self.c.append("")
        self.c.append("#include <boost/cast.hpp>")
        self.c.append("")
        self.c.append("namespace %s {" % m.name)

        seen_cpp = {}
        for a in m.assignments:
            cpp = ident(a.exact)
            if cpp in seen_cpp:
                self.fail(a.line, "types '%s' and '%s' have the same C++ name '%s'" % (seen_cpp[cpp], a.name, cpp))
            if cpp in CPP_KEYWORDS:
                self.fail(a.line, "type name '%s' is a C++ keyword" % a.name)
            seen_cpp[cpp] = a.name

        self.check_cycles()
        classes = [a for a in m.assignments if self.is_class(a)]
        if classes:
            for a in classes:
                self.h.append("class %s;" % ident(a.exact))
            self.h.append("")
        # Aliases, in an order where every typedef follows the ones it uses.
        aliases = [a for a in m.assignments if not self.is_class(a)]
        done = set()
        pending = list(aliases)
        while pending:
            progress = False
            for a in list(pending):
                deps = self.alias_deps(a)
                if all(d in done for d in deps):
                    r = self.gen.resolve(m, a.type, None)
                    self.h.append("typedef %s %s;" % (r.cpp, ident(a.exact)))
                    done.add(a.name)
                    pending.remove(a)
                    progress = True
            if not progress:
                self.fail(pending[0].line, "circular type alias '%s'" % pending[0].name)
        if aliases:
            self.h.append("")
        # Enumerations and strings first: other classes name their members.
        order = [a for a in classes if a.type.kind not in ("SEQUENCE", "CHOICE")] + \
                [a for a in classes if a.type.kind in ("SEQUENCE", "CHOICE")]
        for a in order:
            k = a.type.kind
            if k == "ENUMERATED":
                self.emit_enumerated(a)
            elif k == "SEQUENCE":
                self.emit_sequence(a)
            elif k == "CHOICE":
                self.emit_choice(a)
            else:
                self.emit_string_class(a)
        self.h.append("}  // namespace %s" % m.name)
        self.h.append("")
        self.h.append("#endif  // " + guard)
        self.c.append("}  // namespace %s" % m.name)
        return "\n".join(self.h) + "\n", "\n".join(self.c) + "\n"

    def check_cycles(self):
        """A SEQUENCE that holds itself through components that always
        exist could never be constructed."""
        def target(module, ty):
            if ty.kind != "REF":
                return None
            mod_name, name = ty.ref
            if mod_name is not None:
                src = self.gen.load_module(mod_name, module.path, ty.line)
                return (src, src.by_name.get(name)) if name in src.by_name else None
            return self.gen.lookup(module, name, ty.line)

        def visit(module, a, path):
            key = (module.name, a.name)
            if key in path:
                names = [n for _, n in path[path.index(key):]] + [a.name]
                raise GenError(self.m.path, a.line if module is self.m else 0,
                               "type '%s' contains itself through components that are always present (%s)"
                               % (a.name, " -> ".join(names)))
            if a.type.kind == "REF":
                t = target(module, a.type)
                if t:
                    visit(t[0], t[1], path + [key])
                return
            if a.type.kind != "SEQUENCE":
                return
            for it in a.type.items:
                if it.optional:
                    continue
                t = target(module, it.type)
                if t:
                    visit(t[0], t[1], path + [key])

        for a in self.m.assignments:
            visit(self.m, a, [])

    def is_class(self, a):
        t = a.type
        return t.kind in ("SEQUENCE", "CHOICE", "ENUMERATED") or (
            t.kind in ("OCTET", "BIT", "STRING", "BMP") and (t.size is not None or t.alphabet is not None))

    def alias_deps(self, a):
        deps = []
        t = a.type
        while t is not None:
            if t.kind == "REF" and t.ref[0] in (None, self.m.name) and t.ref[1] in self.m.by_name:
                target = self.m.by_name[t.ref[1]]
                if not self.is_class(target):
                    deps.append(target.name)
            t = t.element if t.kind == "SEQOF" else None
        return deps

    # -- pieces shared by SEQUENCE and CHOICE
    def check_member_names(self, items, what):
        seen = {}
        for it in items:
            cpp = ident(it.exact)
            if not re.match(r"^[A-Za-z_][A-Za-z0-9_]*$", cpp):
                self.fail(it.line, "name '%s' cannot be a C++ identifier" % it.exact)
            if cpp in seen:
                self.fail(it.line, "%s '%s' and '%s' have the same C++ name '%s'" % (what, seen[cpp], it.name, cpp))
            seen[cpp] = it.name
            names = [i.exact for i in items]
            if names.count(it.exact) > 1:
                self.fail(it.line, "%s '%s' appears twice" % (what, it.exact))

    def item_types(self, cls, items):
        """Resolved types of components, with records for constrained strings."""
        out = []
        for idx, it in enumerate(items):
            t = it.type
            record = None
            if t.kind in ("OCTET", "BIT", "STRING", "BMP") and (t.size is not None or t.alphabet is not None):
                record = "%s::%s_info" % (cls, ident(it.exact))
            r = self.gen.resolve(self.m, t, record)
            out.append((it, r, record))
        return out

    def emit_member_records(self, cls, typed):
        for it, r, record in typed:
            if record is None:
                continue
            rtype, init = string_record(it.type, "&%s::create" % r.cpp, self.m.path)
            self.h_members.append("  static const %s %s_info;" % (rtype, ident(it.exact)))
            self.c.append("const %s %s::%s_info = %s;" % (rtype, cls, ident(it.exact), init))

    def accessor(self, cls, index, it, r, choice):
        name = ident(it.exact)
        t = r.cpp
        if choice:
            self.h_members.append("  %s& get_%s();" % (t, name))
            self.h_members.append("  const %s& get_%s() const;" % (t, name))
            self.h_members.append("  %s& select_%s();" % (t, name))
            self.c.append("%s& %s::get_%s() {" % (t, cls, name))
            self.c.append("  if (choiceID != %d || !choice) select(%d);" % (index, index))
            self.c.append("  return *boost::polymorphic_downcast<%s*>(choice.get());" % t)
            self.c.append("}")
            self.c.append("const %s& %s::get_%s() const {" % (t, cls, name))
            self.c.append("  if (choiceID != %d || !choice) {" % index)
            self.c.append("    static const %s absent;" % t)
            self.c.append("    return absent;")
            self.c.append("  }")
            self.c.append("  return *boost::polymorphic_downcast<const %s*>(choice.get());" % t)
            self.c.append("}")
            self.c.append("%s& %s::select_%s() {" % (t, cls, name))
            self.c.append("  setSelection(%d, ASN1::AbstractData::create(selectionInfos[%d]));" % (index, index))
            self.c.append("  return *boost::polymorphic_downcast<%s*>(choice.get());" % t)
            self.c.append("}")
        else:
            self.h_members.append("  %s& get_%s();" % (t, name))
            self.h_members.append("  const %s& get_%s() const;" % (t, name))
            self.c.append("%s& %s::get_%s() {" % (t, cls, name))
            self.c.append("  return *boost::polymorphic_downcast<%s*>(createField(%d));" % (t, index))
            self.c.append("}")
            self.c.append("const %s& %s::get_%s() const {" % (t, cls, name))
            self.c.append("  const ASN1::AbstractData* field = getField(%d);" % index)
            self.c.append("  if (!field) {")
            self.c.append("    static const %s absent;" % t)
            self.c.append("    return absent;")
            self.c.append("  }")
            self.c.append("  return *boost::polymorphic_downcast<const %s*>(field);" % t)
            self.c.append("}")
            # Setters write the component object only, never its presence bit.
            k = r.kind
            if k == "NULL":
                return
            if k == "INTEGER":
                arg, body = ("unsigned value", "static_cast<int>(value)") if r.int_unsigned else ("int value", "value")
                stmt = "get_%s().setValue(%s);" % (name, body)
            elif k == "BOOLEAN":
                arg, stmt = "bool value", "get_%s().setValue(value);" % name
            elif k == "ENUMERATED":
                arg, stmt = "%s::NamedNumber value" % r.enum_cpp, "get_%s().setFromInt(value);" % name
            elif k == "STRING":
                arg, stmt = "const std::string& value", "get_%s().assign(value);" % name
            elif k == "OCTET":
                arg, stmt = "const std::vector<char>& value", "get_%s().assign(value.begin(), value.end());" % name
            else:
                arg, stmt = "const %s& value" % t, "get_%s() = value;" % name
            self.h_members.append("  void set_%s(%s);" % (name, arg))
            self.c.append("void %s::set_%s(%s) { %s }" % (cls, name, arg, stmt))

    def constructors(self, cls, base, after_default=(), after_info=(), assign=None):
        """Default, record and copy constructors and the copy assignment that
        every generated class has; the assignment copies the value only."""
        h = self.h
        h.append("  %s() : %s(&theInfo) {}" % (cls, base))
        h.extend(after_default)
        h.append("  explicit %s(const void* info) : %s(info) {}" % (cls, base))
        h.extend(after_info)
        h.append("  %s(const %s&) = default;" % (cls, cls))
        h.append("  %s& operator=(const %s& other) {" % (cls, cls))
        h.append("    %s" % (assign or "%s::operator=(other);" % base))
        h.append("    return *this;")
        h.append("  }")

    def finish_class(self, cls, rtype, extra_private=None):
        h = self.h
        h.extend(self.h_members)
        h.append("")
        h.append("  static const %s theInfo;" % rtype)
        h.append("  static ASN1::AbstractData* create(const void* info);")
        h.append("  ASN1::AbstractData* do_clone() const override;")
        if extra_private:
            h.append("")
            h.append(" private:")
            h.extend(extra_private)
        h.append("};")
        h.append("")
        c = self.c
        c.append("ASN1::AbstractData* %s::create(const void* info) { return new %s(info); }" % (cls, cls))
        c.append("ASN1::AbstractData* %s::do_clone() const { return new %s(*this); }" % (cls, cls))
        c.append("")

    # -- ENUMERATED
    def emit_enumerated(self, a):
        ty = a.type
        cls = ident(a.exact)
        if cls in ("ENUMERATED",):
            self.fail(a.line, "type name '%s' clashes with the runtime" % cls)
        values = {}
        root = [it for it in ty.items if not it.extension]
        highest = max(it.value for it in root)
        for it in ty.items:
            if not (INT_MIN <= it.value <= INT_MAX):
                self.fail(it.line, "enumerator value %d does not fit 32 bits" % it.value)
            if it.value in values:
                if not it.alias:
                    self.fail(it.line, "enumerator '%s' repeats the value %d of '%s' (mark it --@alias)"
                              % (it.name, it.value, values[it.value]))
            else:
                if it.alias:
                    self.fail(it.line, "enumerator '%s' is marked --@alias but repeats no value" % it.name)
                values[it.value] = it.name
            if it.extension and it.value <= highest:
                self.fail(it.line, "extension enumerator '%s' must be above the root values" % it.name)
        self.check_member_names(ty.items, "enumerator")
        self.h.append("class %s : public ASN1::ENUMERATED {" % cls)
        self.h.append(" public:")
        self.h.append("  enum NamedNumber {")
        for it in ty.items:
            self.h.append("    %s = %d," % (self.enum_ident(it, cls), it.value))
        self.h.append("  };")
        self.h.append("")
        self.constructors(cls, "ASN1::ENUMERATED",
                          after_default=["  %s(NamedNumber v) : ASN1::ENUMERATED(&theInfo) { value = v; }" % cls],
                          assign="value = other.value;")
        self.h.append("  %s& operator=(NamedNumber v) {" % cls)
        self.h.append("    value = v;")
        self.h.append("    return *this;")
        self.h.append("  }")
        self.h.append("  // The stored number; a decoded value need not be one of the names.")
        self.h.append("  NamedNumber getValue() const { return static_cast<NamedNumber>(value); }")
        self.h_members = []
        table = []
        prev = None
        for it in ty.items:
            expected = 0 if prev is None else prev + 1
            table.append(it.exact if it.value == expected else "%s=%d" % (it.exact, it.value))
            prev = it.value
        self.finish_class(cls, "ASN1::EnumeratedInfo", ["  static const char* const names[];"])
        self.c.append("const char* const %s::names[] = {%s};" % (cls, ", ".join(c_string(s) for s in table)))
        self.c.append("const ASN1::EnumeratedInfo %s::theInfo = {{&%s::create, 10}, %s, %d, names, %d};"
                      % (cls, cls, "true" if ty.extendable else "false", highest, len(table)))
        self.c.append("")

    def enum_ident(self, it, cls):
        n = ident(it.exact)
        if n in CPP_KEYWORDS or n in RESERVED_MEMBERS or n == cls:
            n += "_"
        return n

    # -- strings with their own record
    def emit_string_class(self, a):
        ty = a.type
        cls = ident(a.exact)
        base = {"OCTET": "ASN1::OCTET_STRING", "BIT": "ASN1::BIT_STRING",
                "BMP": "ASN1::BMPString"}.get(ty.kind) or "ASN1::" + ty.string
        rtype, init = string_record(ty, "&%s::create" % cls, self.m.path)
        h = self.h
        h.append("class %s : public %s {" % (cls, base))
        h.append(" public:")
        self.constructors(cls, base)
        h.append("  using %s::operator=;" % base)
        self.h_members = []
        self.finish_class(cls, rtype)
        self.c.append("const %s %s::theInfo = %s;" % (rtype, cls, init))
        self.c.append("")

    # -- SEQUENCE
    def root_then_additions(self, a, what):
        """The items of a SEQUENCE or CHOICE split into root items and
        extension additions, in that order; a root item after the additions
        would need a second extension marker."""
        items = a.type.items
        self.check_member_names(items, what)
        root = [it for it in items if not it.extension]
        ext = [it for it in items if it.extension]
        if items != root + ext:
            self.fail(a.line, "unsupported construct: root %ss after extension additions" % what)
        return root, ext

    def emit_sequence(self, a):
        ty = a.type
        cls = ident(a.exact)
        root, ext = self.root_then_additions(a, "component")
        items = root + ext  # field order: root fields, then extension additions
        typed = self.item_types(cls, items)
        h = self.h
        h.append("class %s : public ASN1::SEQUENCE {" % cls)
        h.append(" public:")
        opt_ids = []
        next_opt = 0
        for it in root:
            if it.optional:
                opt_ids.append(next_opt)
                next_opt += 1
            else:
                opt_ids.append(-1)
        num_optional = next_opt
        # Extension additions take the optional numbers after the root ones.
        ext_ids = [num_optional + k for k in range(len(ext))]
        if items:
            h.append("  enum FieldIndex {")
            for i, it in enumerate(items):
                h.append("    f_%s = %d," % (ident(it.exact), i))
            h.append("  };")
        optional_names = [(it, opt_ids[i]) for i, it in enumerate(root) if opt_ids[i] >= 0] + \
                         [(it, ext_ids[k]) for k, it in enumerate(ext)]
        if optional_names:
            h.append("  enum OptionalId {")
            for it, oid in optional_names:
                h.append("    o_%s = %d," % (ident(it.exact), oid))
            h.append("  };")
        h.append("")
        self.constructors(cls, "ASN1::SEQUENCE")
        h.append("  ~%s() override;" % cls)
        h.append("")
        self.h_members = []
        self.c.append("%s::~%s() {}" % (cls, cls))
        self.emit_member_records(cls, typed)
        for i, (it, r, record) in enumerate(typed):
            self.accessor(cls, i, it, r, choice=False)
        private = []
        n = len(items)
        if n:
            private.append("  static const void* const fieldInfos[];")
            private.append("  static const int fieldIds[];")
            private.append("  static const char* const fieldNames[];")
        mandatory_ext = [k for k, it in enumerate(ext) if not it.optional]
        if mandatory_ext:
            private.append("  static const unsigned char initialExtensions[];")
        self.finish_class(cls, "ASN1::SequenceInfo", private)
        if n:
            self.c.append("const void* const %s::fieldInfos[] = {%s};" % (cls, ", ".join(r.info for _, r, _ in typed)))
            self.c.append("const int %s::fieldIds[] = {%s};" % (cls, ", ".join(str(x) for x in opt_ids + [0] * len(ext))))
            self.c.append("const char* const %s::fieldNames[] = {%s};" % (cls, ", ".join(c_string(it.exact) for it in items)))
        init_ext = "nullptr"
        if mandatory_ext:
            octets = [0] * ((len(ext) + 7) // 8)
            for k in mandatory_ext:
                octets[k // 8] |= 0x80 >> (k % 8)
            self.c.append("const unsigned char %s::initialExtensions[] = {%s};" % (cls, ", ".join("0x%02X" % o for o in octets)))
            init_ext = "initialExtensions"
        self.c.append("const ASN1::SequenceInfo %s::theInfo = {{&%s::create, 16}, %s, %s, %s, %d, %d, %d, %s, nullptr, %s};"
                      % (cls, cls, "true" if ty.extendable else "false",
                         "fieldInfos" if n else "nullptr", "fieldIds" if n else "nullptr",
                         len(root), len(ext), num_optional, init_ext, "fieldNames" if n else "nullptr"))
        self.c.append("")

    # -- CHOICE
    def emit_choice(self, a):
        ty = a.type
        cls = ident(a.exact)
        root, ext = self.root_then_additions(a, "alternative")
        items = root + ext
        if not root:
            self.fail(a.line, "CHOICE without root alternatives")
        typed = self.item_types(cls, items)
        h = self.h
        h.append("class %s : public ASN1::CHOICE {" % cls)
        h.append(" public:")
        h.append("  enum Id {")
        for i, it in enumerate(items):
            h.append("    e_%s = %d," % (ident(it.exact), i))
        h.append("  };")
        h.append("")
        self.constructors(cls, "ASN1::CHOICE",
                          after_info=["  %s(int id, ASN1::AbstractData* value) : ASN1::CHOICE(&theInfo, id, value) {}" % cls])
        h.append("  ~%s() override;" % cls)
        h.append("")
        h.append("  // get_ of another alternative than the selected one selects it afresh;")
        h.append("  // the const form then gives an empty value instead.")
        self.h_members = []
        self.c.append("%s::~%s() {}" % (cls, cls))
        self.emit_member_records(cls, typed)
        for i, (it, r, record) in enumerate(typed):
            self.accessor(cls, i, it, r, choice=True)
        private = ["  static const void* const selectionInfos[];",
                   "  static const char* const selectionNames[];"]
        self.finish_class(cls, "ASN1::ChoiceInfo", private)
        self.c.append("const void* const %s::selectionInfos[] = {%s};" % (cls, ", ".join(r.info for _, r, _ in typed)))
        self.c.append("const char* const %s::selectionNames[] = {%s};" % (cls, ", ".join(c_string(it.exact) for it in items)))
        self.c.append("const ASN1::ChoiceInfo %s::theInfo = {{&%s::create, 0}, %s, selectionInfos, %d, %d, nullptr, selectionNames};"
                      % (cls, cls, "true" if ty.extendable else "false", len(root), len(items)))
        self.c.append("")


def write_if_changed(path, text):
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


def main(argv):
    ap = argparse.ArgumentParser(description="ASN.1 to C++ generator for the velmard runtime")
    ap.add_argument("source")
    ap.add_argument("--out-dir", required=True)
    ap.add_argument("--include-prefix", required=True)
    ap.add_argument("--search", action="append", default=[])
    args = ap.parse_args(argv)
    try:
        search = args.search or [os.path.dirname(os.path.dirname(os.path.abspath(args.source)))]
        gen = Generator(args.source, search, args.include_prefix)
        header, source = Emitter(gen).run()
    except GenError as e:
        sys.stderr.write(str(e) + "\n")
        return 1
    name = gen.main.name
    expected = os.path.splitext(os.path.basename(args.source))[0]
    if name != expected:
        sys.stderr.write("%s:1: error: module '%s' must be in a file named %s.asn\n" % (args.source, name, name))
        return 1
    out = args.out_dir
    os.makedirs(out, exist_ok=True)
    write_if_changed(os.path.join(out, name + ".h"), header)
    write_if_changed(os.path.join(out, name + ".cpp"), source)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
