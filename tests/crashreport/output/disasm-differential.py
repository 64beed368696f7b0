#!/usr/bin/env python3
"""TDisAsm against objdump and ndisasm.

Usage: disasm-differential.py kv_disasm_dump.exe some_test.exe

1. Slots: every one-byte and 0F opcode, alone and after the prefixes 66 and
   67 (and F3 for the string instructions), with every ModRM byte where the
   opcode takes one and a SIB byte when rm = 4 (all 256 SIB bytes for 8B),
   each in a 32-byte slot padded with 90. objdump and ndisasm decode the
   slots file; the instruction at each slot's start is compared.
2. Real code: every instruction start that objdump finds in the .text of a
   test executable of this build and of Wine's PE DLLs.

Lengths must be equal, and texts equal after both sides are normalised,
except for the classes listed in EXPECTED_DIFFERENCES, each with its reason.
The decoder runs under Wine (kv_disasm_dump) in the project's test prefix.
"""
import os
import re
import subprocess
import sys
from collections import Counter, defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
OBJDUMP = "i686-w64-mingw32-objdump"
WINE_DLLS = "/usr/lib/i386-linux-gnu/wine/i386-windows"
REAL_DLLS = ["ntdll.dll", "kernelbase.dll", "kernel32.dll", "user32.dll", "msvcrt.dll", "ucrtbase.dll",
             "gdi32.dll", "advapi32.dll", "comctl32.dll", "ole32.dll", "d3dx9_36.dll", "winmm.dll"]
SLOT = 32
PREFIXES = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65, 0x66, 0x67, 0xF0, 0xF2, 0xF3}

# One-byte opcodes with a ModRM byte.
ONE_MODRM = set()
for base in range(0, 0x40, 8):
    ONE_MODRM |= {base, base + 1, base + 2, base + 3}
ONE_MODRM |= {0x62, 0x63, 0x69, 0x6B, *range(0x80, 0x90), 0xC0, 0xC1, 0xC4, 0xC5, 0xC6, 0xC7,
              *range(0xD0, 0xD4), *range(0xD8, 0xE0), 0xF6, 0xF7, 0xFE, 0xFF}
TWO_NO_MODRM = {0x05, 0x06, 0x07, 0x08, 0x09, 0x0B, 0x0E, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x37, 0x77,
                *range(0x80, 0x90), 0xA0, 0xA1, 0xA2, 0xA8, 0xA9, 0xAA, *range(0xC8, 0xD0)}
STRING_OPS = {0x6C, 0x6D, 0x6E, 0x6F, *range(0xA4, 0xA8), *range(0xAA, 0xB0)}


def slot_bytes():
    slots = []
    for prefix in ([], [0x66], [0x67]):
        for op in range(256):
            if op in PREFIXES or op == 0x0F:
                continue
            if op in ONE_MODRM:
                for modrm in range(256):
                    sibs = [None]
                    if modrm >> 6 != 3 and modrm & 7 == 4 and not prefix == [0x67]:
                        sibs = range(256) if op == 0x8B and not prefix else [(modrm * 37 + op) & 0xFF, 0x25]
                    for sib in sibs:
                        slots.append(prefix + [op, modrm] + ([] if sib is None else [sib]))
            else:
                slots.append(prefix + [op])
        for op in range(256):
            if op in TWO_NO_MODRM:
                slots.append(prefix + [0x0F, op])
                continue
            for modrm in range(256):
                sib = [(modrm * 41 + op) & 0xFF] if modrm >> 6 != 3 and modrm & 7 == 4 and prefix != [0x67] else []
                slots.append(prefix + [0x0F, op, modrm] + sib)
    for op in STRING_OPS:
        slots.append([0xF3, op])
        slots.append([0xF2, op])
    for prefix in (0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65):
        slots.append([prefix, 0x8B, 0x40, 0x08])
        slots.append([prefix, 0xA1, 0x18, 0, 0, 0])
    slots.append([0xF0, 0x01, 0x08])
    return [bytes(s) + b"\x90" * (SLOT - len(s)) for s in slots]


# ---------------------------------------------------------------- oracles
def parse_objdump(text):
    """(address, bytes, text) per instruction of objdump -d/-D output."""
    out = []
    line_re = re.compile(r"^\s*([0-9a-f]+):\t([0-9a-f ]+?)\s*(?:\t(.*))?$")
    for line in text.splitlines():
        m = line_re.match(line)
        if not m:
            continue
        addr = int(m.group(1), 16)
        code = bytes.fromhex(m.group(2).replace(" ", ""))
        if m.group(3) is None:  # continuation of a long instruction's bytes
            if out:
                a, b, t = out[-1]
                out[-1] = (a, b + code, t)
            continue
        out.append((addr, code, m.group(3).strip()))
    return out


def objdump_binary(path):
    res = subprocess.run([OBJDUMP, "-D", "-b", "binary", "-m", "i386", "-M", "intel", "--insn-width=16", path],
                         check=True, capture_output=True, text=True)
    return parse_objdump(res.stdout)


def ndisasm_binary(path):
    res = subprocess.run(["ndisasm", "-b", "32", path], check=True, capture_output=True, text=True)
    out = []
    for line in res.stdout.splitlines():
        m = re.match(r"^([0-9A-F]{8})\s+([0-9A-F]+)\s+(.*)$", line)
        if m:
            out.append((int(m.group(1), 16), bytes.fromhex(m.group(2)), m.group(3).strip()))
        elif out and re.match(r"^\s+-([0-9A-F]+)$", line):
            a, b, t = out[-1]
            out[-1] = (a, b + bytes.fromhex(line.strip()[1:]), t)
    return out


def objdump_text_section(path):
    res = subprocess.run([OBJDUMP, "-d", "-z", "-j", ".text", "-M", "intel", "--insn-width=16", path],
                         capture_output=True, text=True)
    return parse_objdump(res.stdout)


# ---------------------------------------------------------------- decoder
def run_decoder(dump_exe, records):
    env_build = os.path.abspath(os.environ.get("KV_BUILD") or os.path.dirname(os.path.dirname(dump_exe)))
    prefix = os.path.join(env_build, "scratch-test", "prefix")
    work = os.path.join(prefix, "drive_c", "kvtest", "disasm")
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, "records.bin"), "wb") as f:
        for vaddr, code in records:
            f.write(vaddr.to_bytes(4, "little") + code[:SLOT].ljust(SLOT, b"\x90"))
    out_path = os.path.join(work, "decoded.txt")
    if os.path.exists(out_path):
        os.remove(out_path)
    subprocess.run([os.path.join(ROOT, "tools", "wine-run.sh"), dump_exe,
                    "C:\\kvtest\\disasm\\records.bin", "C:\\kvtest\\disasm\\decoded.txt"],
                   check=True, env=dict(os.environ, KV_BUILD=env_build), stdout=subprocess.DEVNULL)
    with open(out_path, encoding="latin-1") as f:
        lines = f.read().split("\n")[:-1]
    assert len(lines) == len(records), (len(lines), len(records))
    out = []
    for line in lines:
        size, _, text = line.partition("\t")
        out.append((int(size), text))
    return out


# ---------------------------------------------------------------- normalising
ALIASES = {}
for canon, others in {"z": ["e"], "nz": ["ne"], "b": ["c", "nae"], "nb": ["ae", "nc"], "nbe": ["a"],
                      "be": ["na"], "l": ["nge"], "nl": ["ge"], "le": ["ng"], "nle": ["g"], "p": ["pe"],
                      "np": ["po"]}.items():
    for stem in ("j", "set", "cmov"):
        for o in others:
            ALIASES[stem + o] = stem + canon
ALIASES.update({"loopne": "loopnz", "loope": "loopz", "sal": "shl", "pushad": "pusha", "popad": "popa",
                "pushfd": "pushf", "popfd": "popf", "iretd": "iret", "repz": "rep", "repe": "rep",
                "repnz": "repne", "wait": "fwait", "int3": "int 3", "icebp": "int1", "xlatb": "xlat",
                "retn": "ret", "fnstenv": "fnstenv", "jcxz": "jecxz"})
SIZE_WORDS = {"byte", "word", "dword", "qword", "tbyte", "tword", "fword", "xmmword", "ptr", "short", "near",
              "far", "to", "strict", "oword"}
STRING_STEMS = {"movs", "cmps", "stos", "lods", "scas", "ins", "outs"}
IGNORED_PREFIX_WORDS = {"ds", "es", "fs", "gs", "cs", "ss", "data16", "addr16", "data32", "addr32", "o16",
                        "a16", "o32", "a32", "bnd", "notrack"}
REG_RE = re.compile(r"^(e?[abcd]x|[abcd][lh]|e?[sd]i|e?[sb]p|[c-gs]s|mm[0-7]|st\(\d\)|st|cr\d|dr\d|tr\d|eiz|xmm\d+)$")


def number(token):
    t = token.lower()
    neg = t.startswith("-")
    t = t.lstrip("+-")
    if re.fullmatch(r"\$[0-9a-f]+", t):
        v = int(t[1:], 16)
    elif re.fullmatch(r"0x[0-9a-f]+", t):
        v = int(t, 16)
    elif re.fullmatch(r"[0-9]+", t):
        v = int(t)
    else:
        return None
    return (-v if neg else v) & 0xFFFFFFFF


def canonical_memory(inner):
    """A memory expression as (sorted register terms, displacement)."""
    terms = re.findall(r"([+-]?)\s*([^+-]+)", inner.replace(" ", ""))
    regs, disp = [], 0
    for sign, term in terms:
        if "*" in term:
            reg, scale = term.split("*")
            if reg != "eiz":
                regs.append(reg + "*" + scale if scale != "1" else reg)
            continue
        n = number(sign + term)
        if n is None:
            regs.append(term)
        else:
            disp = (disp + n) & 0xFFFFFFFF
    if any(r.split("*")[0] in ("bx", "si", "di", "bp") for r in regs) or inner.replace(" ", "") in ("bx", "si", "di", "bp"):
        disp &= 0xFFFF  # 16-bit addressing wraps
    return "[" + "+".join(sorted(regs)) + ("" if disp == 0 else "+%x" % disp) + "]"


def normalise(text, tool):
    t = re.sub(r" <[^>]*>", "", text.lower().strip())
    if tool == "objdump":  # relative targets in a linked image are bare hex
        t = re.sub(r"^((?:[a-z0-9]+ +)*?(?:j|call|loop)\S*\s+)([0-9a-f]+)$", r"\g<1>0x\2", t)
    if t.startswith("db ") or "  //" in t:
        return ("db",)
    if tool == "ours":
        t = re.sub(r"(?<![$\w])c([0-7])\b", r"cr\1", t)
        t = re.sub(r"(?<![$\w])d([0-7])\b", r"dr\1", t)
        t = re.sub(r"(?<![$\w])t([0-7])\b", r"tr\1", t)
    if tool == "ndisasm":
        t = re.sub(r"\bst([0-7])\b", r"st(\1)", t)
        t = re.sub(r"\bst0\b", "st(0)", t)
    t = t.replace("st(0)", "st")
    t = re.sub(r"\s*,\s*", ",", t)
    words = t.split(None, 1)
    if not words:
        return ()
    # Leading prefixes (rep, lock, segment words) then the mnemonic.
    head = []
    rest = t
    while True:
        w = rest.split(None, 1)
        if not w:
            break
        word = ALIASES.get(w[0], w[0])
        if word in IGNORED_PREFIX_WORDS and len(w) > 1 and not w[1].startswith(":"):
            rest = w[1]
            continue
        if word in ("rep", "repne", "lock") and len(w) > 1:
            head.append(word)
            rest = w[1]
            continue
        break
    w = rest.split(None, 1)
    mnemonic = ALIASES.get(w[0], w[0])
    operands = w[1] if len(w) > 1 else ""
    if mnemonic == "xchg" and operands in ("ax,ax", "eax,eax"):
        mnemonic, operands = "nop", ""
    if mnemonic.startswith("prefetch"):
        mnemonic = "prefetch"
    if operands == "3" and mnemonic == "int":
        mnemonic, operands = "int 3", ""
    if mnemonic in STRING_STEMS and operands:
        size = re.search(r"\b(byte|word|dword)\b", operands)
        reg = re.search(r"\b(al|ax|eax)\b", operands)
        letter = {"byte": "b", "word": "w", "dword": "d", "al": "b", "ax": "w", "eax": "d"}[
            (size or reg).group(1)] if (size or reg) else ""
        mnemonic, operands = mnemonic + letter, ""
    if mnemonic in ("xlat",):
        operands = ""
    ops = []
    for op in (operands.split(",") if operands else []):
        op = " ".join(x for x in op.split() if x not in SIZE_WORDS)
        m = re.fullmatch(r"((?:[c-gs]s):)?\[(.*)\]", op)
        if m:
            ops.append((m.group(1) or "").replace("ds:", "") + canonical_memory(m.group(2)))
            continue
        m = re.fullmatch(r"((?:[c-gs]s):)?([0-9a-fx$+-]+)", op)
        if m and m.group(1) and number(m.group(2)) is not None:  # objdump's seg:offset memory form
            ops.append(m.group(1).replace("ds:", "") + canonical_memory(m.group(2)))
            continue
        if op.startswith("[") is False and re.fullmatch(r"(0x[0-9a-f]+|\$[0-9a-f]+):(0x[0-9a-f]+|\$[0-9a-f]+)", op):
            a, b = op.split(":")
            ops.append("far %x:%x" % (number(a), number(b)))
            continue
        n = number(op)
        ops.append(n if n is not None else op)
    if mnemonic == "xchg":
        ops = sorted(ops, key=str)
    return tuple(head + [mnemonic] + ops)


def same_operand(a, b):
    if isinstance(a, int) and isinstance(b, int):
        if a == b:
            return True
        for bits in (16, 8):
            mask = (1 << bits) - 1
            if a & mask == b & mask and (min(a, b) <= mask):
                return True
        return False
    return a == b


def same_text(ours, theirs):
    if len(ours) == len(theirs) - 1 and len(theirs) >= 3 and theirs[1] == "st" and ours[0] == theirs[0]:
        theirs = (theirs[0],) + theirs[2:]  # fadd st,st(1) is written fadd st(1) here
    return len(ours) == len(theirs) and all(same_operand(a, b) for a, b in zip(ours, theirs))


# ---------------------------------------------------------------- expected differences
def has_prefix(code, p):
    i = 0
    while i < len(code) and code[i] in PREFIXES:
        if code[i] == p:
            return True
        i += 1
    return False


def opcode(code):
    i = 0
    while i < len(code) and code[i] in PREFIXES:
        i += 1
    if i < len(code) and code[i] == 0x0F and i + 1 < len(code):
        return (0x0F, code[i + 1], code[i + 2] if i + 2 < len(code) else 0)
    return (code[i] if i < len(code) else 0, code[i + 1] if i + 1 < len(code) else 0)


def ours_undefined(code, text, oracle):
    return "  //" in text


def oracle_undefined(code, text, oracle):
    return any(bad in oracle for bad in ("(bad)", ".byte", "?,", ",?", "\tdb ", "db 0x")) or oracle.startswith("db ")


def sse_form_of_mmx_opcode(code, text, oracle):
    op = opcode(code)
    return op[0] == 0x0F and any(has_prefix(code, p) for p in (0x66, 0xF2, 0xF3)) and "xmm" in oracle


def hint_space(code, text, oracle):
    op = opcode(code)
    return op[0] == 0x0F and 0x18 <= op[1] <= 0x1F


def taken_over_group_forms(code, text, oracle):
    op = opcode(code)
    if op[0] == 0x0F:
        return op[1] in (0x00, 0x01, 0xC7) and (op[2] >> 6 == 3 or op[1] == 0x00)
    return (op[0] in (0xC6, 0xC7) and op[1] == 0xF8) or (op[0] == 0x8F and (op[1] >> 3) & 7 != 0) or \
        (op[0] in (0xC4, 0xC5) and op[1] >> 6 == 3)


def fwait_joined(code, text, oracle):
    i = code.index(0x9B) if 0x9B in code[:4] else -1
    return i >= 0 and opcode(code)[0] == 0x9B and len(code) > i + 1 and 0xD8 <= code[i + 1] <= 0xDF


def segment_register_width(code, text, oracle):
    op = opcode(code)
    return op[0] in (0x8C, 0x8E) or (op[0] == 0x0F and op[1] in (0x00, 0x01, 0x02, 0x03))


def sixteen_bit_targets(code, text, oracle):
    op = opcode(code)
    relative = op[0] in (0xE8, 0xE9, 0xEB, *range(0x70, 0x80), *range(0xE0, 0xE4)) or \
        (op[0] == 0x0F and 0x80 <= op[1] <= 0x8F)
    return relative and (has_prefix(code, 0x66) or has_prefix(code, 0x67))


def unused_prefix(code, text, oracle):
    return any(has_prefix(code, p) for p in (0xF0, 0xF2, 0xF3)) and opcode(code)[0] not in STRING_OPS


def operand_size_suffix(code, text, oracle):
    op = opcode(code)
    environment = op[0] in (0xD9, 0xDD) and op[1] >> 6 != 3 and (op[1] >> 3) & 7 in (4, 6)
    return has_prefix(code, 0x66) and (environment or op[0] in (0x60, 0x61, 0x9C, 0x9D, 0xC2, 0xC3, 0xCA, 0xCB,
                                                                0xCF, 0x9A, 0xEA, 0xC8, 0xC9))


# Each class: (name, why, test(code, our text, oracle text)). The first that
# holds names a difference; a difference no class holds fails the test.
EXPECTED_DIFFERENCES = [
    ("oracle-undefined", "the oracle has no instruction here ((bad), .byte, db, or an undefined segment "
     "register): undefined encodings, undocumented forms such as salc and F6 /1, memory-only operands "
     "with a register ModRM (lea, les, bound, far call through a register); lengths after an undefined "
     "byte are the oracle's guess", oracle_undefined),
    ("table-undefined", "the table leaves the opcode undefined and shows its bytes as DB: SSE and later "
     "(0F 10-17, 28-2F, 50-5F, C2-C6, 0F 38/3A maps, 0F AE, B8, B9, FF, 3DNow! 0F 0D/0F); the DB takes "
     "the opcode bytes only, the oracle also its ModRM and operands", ours_undefined),
    ("sse-prefixed-mmx", "66, F2 or F3 before an MMX opcode makes its SSE2 form (xmm registers); the table "
     "shows the MMX form", sse_form_of_mmx_opcode),
    ("hint-space", "0F 18-1F: the table shows prefetch and hint nops; newer CPUs name some of them "
     "(prefetchw, bndldx, endbr32)", hint_space),
    ("taken-over-forms", "register and reg-field forms that later extensions took over (0F 01 and 0F C7 "
     "with mod 3, C6/C7 F8 xabort/xbegin, 8F /1-7 as the XOP prefix, C4/C5 with mod 3 as the VEX prefix); the table "
     "keeps the older meaning",
     taken_over_group_forms),
    ("fwait-joined", "objdump shows 9B (fwait) and the x87 instruction after it as one (fstsw for 9B DF E0); "
     "the table decodes wait on its own, as the processor counts it", fwait_joined),
    ("segment-register-width", "mov to or from a segment register and the descriptor-table group with a "
     "register operand: the table names the 16-bit register (ax), objdump the 32-bit one (eax)",
     segment_register_width),
    ("sixteen-bit-targets", "relative branches after 66 or 67: the oracles wrap the target to 16 bits "
     "and name the cx forms; the table keeps the 32-bit target", sixteen_bit_targets),
    ("unused-prefix", "rep, repne or lock before an instruction that has no such form: the table keeps "
     "the prefix as a word (rep nop), the oracle renames the pair (pause, tzcnt, popcnt) or drops it",
     unused_prefix),
    ("operand-size-suffix", "66 before ret, retf, iret, pusha, pushf, enter, leave, far branches and the x87 environment "
     "instructions: "
     "objdump adds a w suffix or a 16-bit operand the table does not show", operand_size_suffix),
]


def classify(code, ours_len, theirs_len, ours_text, theirs_raw):
    """The name of the expected difference, or None."""
    if os.environ.get("KV_DISASM_RAW"):
        return None
    for name, _, test in EXPECTED_DIFFERENCES:
        if test(code, ours_text, theirs_raw):
            return name
    return None


def compare(label, records, decoded, oracles, report, text_checks=True):
    failures = []
    stats = Counter()
    for i, ((vaddr, code), (size, text)) in enumerate(zip(records, decoded)):
        answers = [o[i] for o in oracles if o[i] is not None]
        if not answers:
            continue
        stats["compared"] += 1
        ours = normalise(text, "ours")
        length_ok = any(size == len(b) for _, b, _ in answers)
        text_ok = not text_checks or any(same_text(ours, normalise(t, tool)) for tool, b, t in answers)
        if length_ok and text_ok:
            continue
        tool, theirs_bytes, theirs_text = answers[0]
        reason = classify(code, size, len(theirs_bytes), text, " ".join(t for _, _, t in answers))
        kind = ("length" if not length_ok else "text")
        if reason:
            report[(kind, reason)] += 1
            stats["expected " + kind] += 1
        else:
            stats["unexpected " + kind] += 1
            failures.append(kind[0].upper() + " %s %08x %s: ours %d %r, %s %d %r" % (
                label, vaddr, code[:max(size, len(theirs_bytes))].hex(" "), size, text, tool, len(theirs_bytes),
                theirs_text))
    return stats, failures


def main():
    dump_exe, test_exe = sys.argv[1], sys.argv[2]
    work = os.path.join(os.environ.get("KV_BUILD", os.path.dirname(os.path.dirname(dump_exe))), "disasm-diff")
    os.makedirs(work, exist_ok=True)
    report = Counter()
    all_failures = []

    slots = slot_bytes()
    slots_path = os.path.join(work, "slots.bin")
    with open(slots_path, "wb") as f:
        f.write(b"".join(slots))
    records = [(i * SLOT, s) for i, s in enumerate(slots)]
    objdump = {a: ("objdump", b, t) for a, b, t in objdump_binary(slots_path)}
    ndisasm = {a: ("ndisasm", b, t) for a, b, t in ndisasm_binary(slots_path)}
    real_sets = []
    for path in [test_exe] + [os.path.join(WINE_DLLS, d) for d in REAL_DLLS]:
        if not os.path.exists(path):
            continue
        insns = objdump_text_section(path)
        stream = {}
        for a, b, _ in insns:
            for k, byte in enumerate(b):
                stream[a + k] = byte
        recs = []
        for a, b, _ in insns:
            code = bytes(stream.get(a + k, 0x90) for k in range(SLOT))
            recs.append((a, code))
        real_sets.append((os.path.basename(path), recs, [("objdump", b, t) for _, b, t in insns]))

    all_records = records + [r for _, recs, _ in real_sets for r in recs]
    decoded = run_decoder(dump_exe, all_records)
    slot_decoded, rest = decoded[:len(records)], decoded[len(records):]
    stats, failures = compare("slot", records, slot_decoded,
                              [[objdump.get(a) for a, _ in records], [ndisasm.get(a) for a, _ in records]], report)
    print("slots:", dict(stats))
    all_failures += failures
    for name, recs, answers in real_sets:
        part, rest = rest[:len(recs)], rest[len(recs):]
        stats, failures = compare(name, recs, part, [answers], report)
        print(name + ":", dict(stats))
        all_failures += failures

    print("\nexpected differences (count, kind, class):")
    for (kind, reason), n in sorted(report.items(), key=lambda x: -x[1]):
        print("  %8d  %-6s %s" % (n, kind, reason))
    print("\nthe classes:")
    for name, why, _ in EXPECTED_DIFFERENCES:
        print("  %s: %s" % (name, why))
    if os.environ.get("KV_DISASM_RAW"):
        groups = Counter()
        examples = {}
        for f in all_failures:
            parts = f.split()
            key = " ".join(parts[3:5]) if parts[3] in ("0f", "66", "67", "f3", "f2") else parts[3]
            kind = parts[0]
            groups[(kind, key)] += 1
            examples.setdefault((kind, key), f)
        for k, n in groups.most_common(400):
            print(n, k, examples[k])
    if all_failures:
        print("\n%d unexpected differences, first 60:" % len(all_failures))
        for f in all_failures[:60]:
            print("  " + f)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
