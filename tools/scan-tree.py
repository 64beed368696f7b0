#!/usr/bin/env python3
"""Makes a folder tree for the junk-file scan's peer test and benchmark.

    scan-tree.py OUT [--folders N] [--files N] [--hit-rate R] [--seed S] [--factory-masks] [--find]
    scan-tree.py OUT --time-find RUNS [--factory-masks]

OUT/tree/     the tree: N folders, N files, names drawn so that about R of the
              files match one of the factory's inclusive masks, with mixed case,
              several dots, leading dots and near misses (a.tmp.bak, twain12.mtx);
OUT/masks.txt the masks for the scan, one a line: "I mask" to include,
              "X mask" to exclude (a mask with a backslash is matched against
              the whole path);
OUT/found.txt with --find: what GNU find with the equivalent -iname/-ipath
              patterns finds, paths relative to OUT/tree, "/" separated.

Names avoid what Windows or Wine treat specially (\\ / : * ? " < > |, a
trailing dot or blank, two names in one folder differing only in case) and
what fnmatch treats unlike the scan ("[", a "?" right after a "*").
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import time

# The factory's inclusive masks, in the factory's order (check flag, mask).
FACTORY_INCLUSIVE = [
    (1, "~*.*"), (1, "system.1st"), (1, "suhdlog.dat"), (1, "scandisk.log"), (1, "twain???.mtx"),
    (1, "modemdet.txt"), (1, "iebak.dat"), (0, "file_id.diz"), (1, "ffastun.*"), (1, "chklist.*"),
    (1, "anti-vir.dat"), (1, "0*.nch"), (0, "*log.txt"), (0, "*.MDMP"), (1, "*.~*"), (1, "*.___"),
    (1, "_detmp.*"), (1, "*._dd"), (1, "*.^"), (1, "*.wbk"), (1, "*.tmp"), (1, "*.temp"), (1, "*.spc"),
    (1, "*.sik"), (1, "*.prv"), (0, "*.old"), (1, "*.nu3"), (0, "*.nav"), (0, "*.MS"), (1, "*.gid"),
    (1, "*.fts"), (1, "*.ftg"), (1, "*.fnd"), (1, "*.err"), (1, "*.dmp"), (1, "*.db$"), (1, "*.cpy"),
    (0, "*.chk"), (0, "*.bk?"), (0, "*.bak"), (1, "*.?~?"), (1, "*.??~"), (1, "*.?$?"), (1, "*.---"),
    (1, "*.$db"), (1, "*.$$$"), (1, "pspbrwse.jbf"), (1, "*__ofidx*.*"), (1, "mscreate.dir"),
    (1, "*.cdr_"), (1, "*.wlg"), (0, "*.xlk"), (1, "icq*.log"), (0, "Thumbs.db"), (1, "*._mp"),
    (1, "*.$a"), (1, "ZALog*.txt"),
]
FACTORY_EXCLUSIVE = ["OPA*.bak"]

# Extra masks of the peer check: name masks and whole-path masks.
EXTRA_INCLUSIVE = ["backup?.*", "a*b*c.dat", "*.log", "core.*"]
EXTRA_EXCLUSIVE = ["keep*", "*.keep.tmp", "*\\dir0003\\*", "*\\pinned*\\*.tmp"]

# Name parts that hit the masks above, and parts that come close without hitting.
HITS = [
    "~WRL{n}.tmp", "~$doc{n}.docx", "report{n}.TMP", "x{n}.temp", "SYSTEM.1ST", "suhdlog.dat", "ScanDisk.log",
    "twain{d3}.mtx", "modemdet.txt", "IEBAK.dat", "ffastun.{n}", "chklist.ms", "anti-vir.dat",
    "0{n}.nch", "page{n}.~ma", "f{n}.___", "_detmp.{n}", "c{n}._dd", "note{n}.^", "letter{n}.wbk",
    "p{n}.spc", "s{n}.sik", "v{n}.prv", "v{n}.nu3", "win{n}.gid", "help{n}.fts", "help{n}.FTG",
    "search{n}.fnd", "build{n}.err", "crash{n}.dmp", "t{n}.db$", "c{n}.cpy", "x{n}.a~b", "x{n}.ab~",
    "r{n}.a$b", "z{n}.---", "d{n}.$db", "dos{n}.$$$", "pspbrwse.jbf", "x__ofidx{n}.bin", "mscreate.dir",
    "art{n}.cdr_", "dr{n}.wlg", "icq{n}.log", "i{n}._mp", "cad{n}.$a", "ZALog{n}.txt", ".tmp",
    "a.b.c{n}.tmp", "Backup{d1}.zip", "a{n}b{n}c.dat", "core.{n}",
    "install{n}.log",
]
NEAR = [
    "file{n}.tmp.bak", "twain{n}{n}.mtx", "notes{n}.txt", "a{n}.tmpx", "OPA{n}.bak", "keep{n}.tmp",
    "x{n}.keep.tmp", "readme{n}.md", "x{n}.b~", "image{n}.jpg", "lib{n}.dll", "main{n}.cpp", "data{n}.db",
    "zalog{n}", "icq{n}.txt", "backup{n}{n}.zip", "abc{n}.dat", "core{n}", "log{n}.txt.gz", ".hidden{n}",
]
NORMAL_EXT = ["txt", "dll", "jpg", "png", "cpp", "h", "exe", "ini", "xml", "html", "pdf", "doc", "mp3", "dat"]


def make_name(rng, pool, index):
    text = rng.choice(pool)
    return text.format(n=index, d1=rng.randint(0, 9), d3=f"{rng.randint(0, 999):03d}")


def normal_name(rng, index):
    stem = rng.choice(["file", "Image", "module", "Data", "part", "x"]) + str(index)
    return f"{stem}.{rng.choice(NORMAL_EXT)}"


def mixed_case(rng, name):
    roll = rng.random()
    if roll < 0.1:
        return name.upper()
    if roll < 0.2:
        return name.lower()
    return name


def build(out, folders, files, hit_rate, seed):
    rng = random.Random(seed)
    tree = os.path.join(out, "tree")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(tree)
    paths = [tree]
    depth = {tree: 0}
    for i in range(folders):
        parent = rng.choice(paths)
        if depth[parent] >= 8:
            parent = tree
        name = f"dir{i:04d}" if rng.random() < 0.8 else rng.choice(["Temp", "cache", "v1.2", "pinned", "Logs"]) + f"{i}"
        path = os.path.join(parent, name)
        os.mkdir(path)
        paths.append(path)
        depth[path] = depth[parent] + 1
    taken = {path: set() for path in paths}
    for i in range(files):
        folder = rng.choice(paths)
        roll = rng.random()
        if roll < hit_rate:
            name = make_name(rng, HITS, i)
        elif roll < hit_rate * 2:
            name = make_name(rng, NEAR, i)
        else:
            name = normal_name(rng, i)
        name = mixed_case(rng, name)
        if name.lower() in taken[folder]:
            continue
        taken[folder].add(name.lower())
        with open(os.path.join(folder, name), "wb"):
            pass
    return tree


def write_masks(out, factory_only):
    inclusive = [mask for _, mask in FACTORY_INCLUSIVE] if not factory_only else \
        [mask for checked, mask in FACTORY_INCLUSIVE if checked]
    exclusive = list(FACTORY_EXCLUSIVE)
    if not factory_only:
        inclusive += EXTRA_INCLUSIVE
        exclusive += EXTRA_EXCLUSIVE
    with open(os.path.join(out, "masks.txt"), "w", newline="\n") as masks:
        for mask in inclusive:
            masks.write(f"I {mask}\n")
        for mask in exclusive:
            masks.write(f"X {mask}\n")
    return inclusive, exclusive


def find_test(mask):
    # A mask with a backslash is matched against the whole path.
    if "\\" in mask:
        return ["-ipath", mask.replace("\\", "/")]
    return ["-iname", mask]


def alternatives(masks):
    expression = ["("]
    for i, mask in enumerate(masks):
        if i:
            expression.append("-o")
        expression += find_test(mask)
    return expression + [")"]


def find_command(tree, inclusive, exclusive):
    command = ["find", tree, "-type", "f"] + alternatives(inclusive)
    if exclusive:
        command += ["!"] + alternatives(exclusive)
    return command + ["-printf", "%P\\n"]


def run_find(out, tree, inclusive, exclusive):
    env = dict(os.environ, LC_ALL="C")
    found = subprocess.run(find_command(tree, inclusive, exclusive), check=True, capture_output=True, text=True,
                           env=env).stdout
    with open(os.path.join(out, "found.txt"), "w", newline="\n") as result:
        result.write(found)
    return len(found.splitlines())


def time_find(tree, inclusive, exclusive, runs):
    """GNU find on the same tree, natively and warm: the median of `runs` runs."""
    env = dict(os.environ, LC_ALL="C")
    command = find_command(tree, inclusive, exclusive)
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, env=env)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, env=env)
        times.append(time.perf_counter() - start)
    times.sort()
    return times[len(times) // 2], times[0], times[-1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--folders", type=int, default=60)
    parser.add_argument("--files", type=int, default=3000)
    parser.add_argument("--hit-rate", type=float, default=0.3)
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--factory-masks", action="store_true", help="only the factory's checked masks")
    parser.add_argument("--find", action="store_true", help="write found.txt with GNU find's verdict")
    parser.add_argument("--time-find", type=int, metavar="RUNS", help="only time GNU find on an existing tree")
    args = parser.parse_args()
    tree = os.path.join(args.out, "tree")
    if args.time_find:
        inclusive, exclusive = write_masks(args.out, args.factory_masks)
        median, low, high = time_find(tree, inclusive, exclusive, args.time_find)
        print(f"GNU find, native: median {median:.3f} s (min {low:.3f}, max {high:.3f}) over {args.time_find} runs")
        return
    build(args.out, args.folders, args.files, args.hit_rate, args.seed)
    inclusive, exclusive = write_masks(args.out, args.factory_masks)
    if args.find:
        count = run_find(args.out, tree, inclusive, exclusive)
        print(f"scan-tree: {count} files found by find", file=sys.stderr)


if __name__ == "__main__":
    main()
