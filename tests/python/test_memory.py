"""Resident memory of reading and writing, measured in fresh interpreters.

Native allocations are invisible to tracemalloc, so each measurement runs in its own
process and reads the kernel's figures (/proc/self/status: VmRSS now, VmHWM the peak,
which writing "5" to /proc/self/clear_refs resets).

Run as a script to print what a 1 MB archive can make an eager read allocate.
"""
import json
import random
import os
import subprocess
import sys
import zipfile
import zlib

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_books as hb  # noqa: E402

MIB = 1 << 20
SANITIZED = bool(os.environ.get("QUIRELO_SANITIZED"))
PACKAGE_ROOT = os.environ.get(
    "QUIRELO_PACKAGE_ROOT", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))

pytestmark = pytest.mark.skipif(SANITIZED or not os.path.exists("/proc/self/clear_refs"),
                                reason="needs the kernel's own memory figures of an uninstrumented process")

# Prepended to every measured script: the module, and the two figures.
PRELUDE = f"""
import json, sys
sys.path[:0] = [{os.path.join(PACKAGE_ROOT, "quirelo")!r}, {PACKAGE_ROOT!r}]
import _quirelo

def figure(key):
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1]) * 1024

def reset_peak():
    with open("/proc/self/clear_refs", "w") as refs:
        refs.write("5")
"""


def measure(script, *args):
    """Runs script in a fresh interpreter; it prints one JSON value, returned here."""
    done = subprocess.run([sys.executable, "-c", PRELUDE + script, *map(str, args)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


def text_block(size, seed):
    """size bytes of hexadecimal text: it deflates to about half."""
    return random.Random(seed).randbytes(size // 2 + 1).hex().encode()[:size]


def book_of(sizes, method=hb.DEFLATED, declared=None):
    """The small book plus one item per size ("m0", "m1", ...), all in the spine."""
    files = hb.book_files()
    items = tuple((f"m{i}", f"m{i}.txt", "text/plain", None) for i in range(len(sizes)))
    files[hb.OPF_PATH] = hb.package_xml(items=hb.ITEMS + items)
    extra = []
    for i, size in enumerate(sizes):
        entry = hb.member(f"OEBPS/m{i}.txt", text_block(size, i), method)
        if declared is not None:
            entry.size = declared
        extra.append(entry)
    return hb.epub(files, extra=extra)


READ_PEAK = """
path, source, lazy = sys.argv[1], sys.argv[2], sys.argv[3] == "lazy"
data = open(path, "rb").read() if source == "bytes" else None
reset_peak()
before = figure("VmRSS")
book = _quirelo._read_epub(path, lazy=lazy) if data is None else _quirelo._read_epub_bytes(data, lazy=lazy)
peak = figure("VmHWM")
kept = sum(len(item.get_content()) for item in book.get_items()) if not lazy else 0
print(json.dumps({"growth": peak - before, "kept": kept}))
"""

SIZES = [4 * MIB, 2 * MIB, 2 * MIB, MIB, 512 * 1024, 6 * MIB]
SLACK = 6 * MIB  # archive index, allocator, Python objects: measured about 3 MiB


@pytest.mark.parametrize("source", ["file", "bytes"])
@pytest.mark.parametrize("method, declared", [(hb.DEFLATED, None), (hb.STORED, None),
                                              (hb.DEFLATED, hb.MAX_ENTRY_SIZE)],
                         ids=["deflated", "stored", "deflated_declaring_limit"])
def test_eager_read_peak_is_the_kept_bytes(tmp_path, method, declared, source):
    path = tmp_path / "big.epub"
    path.write_bytes(book_of(SIZES, method, declared))
    result = measure(READ_PEAK, path, source, "eager")
    files = hb.book_files()
    assert result["kept"] == sum(SIZES) + sum(len(files["OEBPS/" + href]) for _, href, _, _ in hb.ITEMS)
    # One entry's compressed bytes are staged before inflating; an entry declaring more
    # than it holds is inflated into a larger buffer and then copied into one that fits.
    staged = max(info.compress_size for info in zipfile.ZipFile(path).infolist()) if method == hb.DEFLATED else 0
    refitted = max(SIZES) if declared else 0
    assert result["growth"] <= result["kept"] + staged + refitted + SLACK, result


def test_lazy_read_peak_is_one_copy_of_the_archive(tmp_path):
    path = tmp_path / "big.epub"
    path.write_bytes(book_of(SIZES))
    result = measure(READ_PEAK, path, "bytes", "lazy")
    assert result["growth"] <= path.stat().st_size + SLACK, result


LOOP = """
data, lazy, rounds = open(sys.argv[1], "rb").read(), sys.argv[2] == "lazy", int(sys.argv[3])

def once():
    book = _quirelo._read_epub_bytes(data, lazy=lazy)
    for item in book.get_items():
        item.get_text()
    book.to_markdown()
    book.set_title("again")
    return len(_quirelo._write_epub_bytes(book))

for _ in range(rounds // 10):
    once()
warm = figure("VmRSS")
for _ in range(rounds):
    once()
print(json.dumps({"warm": warm, "after": figure("VmRSS")}))
"""


@pytest.mark.parametrize("mode", ["eager", "lazy"])
def test_reading_and_writing_a_thousand_times_stays_flat(tmp_path, mode):
    path = tmp_path / "book.epub"
    path.write_bytes(book_of([48 * 1024, 32 * 1024, 16 * 1024]))
    result = measure(LOOP, path, mode, 1000)
    # One lost copy of the items per round would be 96 MB.
    assert result["after"] - result["warm"] < 2 * MIB, result


# --- what a 1 MB archive can ask for (printed, run as a script) ------------------------

BOMB_PEAK = """
path = sys.argv[1]
data = open(path, "rb").read()
reset_peak()
before = figure("VmRSS")
book = _quirelo._read_epub_bytes(data)
print(json.dumps({"growth": figure("VmHWM") - before,
                  "kept": sum(len(item.get_content()) for item in book.get_items())}))
"""


def bomb_archive(entries, listings=1, *, aliases=0):
    """entries honest 100 MiB zero entries, each listed `listings` times in the manifest,
    plus `aliases` central records sharing the first entry's data, each listed once."""
    files = hb.book_files()
    items = [(f"z{e}_{n}", f"z{e}.bin", "application/octet-stream", None)
             for e in range(entries) for n in range(listings)]
    items += [(f"a{n}", f"a{n:06}.bin", "application/octet-stream", None) for n in range(aliases)]
    files[hb.OPF_PATH] = hb.package_xml(items=hb.ITEMS + tuple(items))
    extra = [hb.zeros_member(f"OEBPS/z{e}.bin", hb.MAX_ENTRY_SIZE) for e in range(entries)]
    entries_list = [hb.member(name, data, hb.STORED if name == "mimetype" else hb.DEFLATED)
                    for name, data in files.items()] + extra
    first = len(entries_list) - len(extra)
    return hb.build_zip(entries_list, aliases=[(f"OEBPS/a{n:06}.bin".encode(), first) for n in range(aliases)])


def report(tmp_path, full=False):
    """The figures, as lines; full adds the 1 MB archive itself (about 1 GB resident)."""
    lines = []
    one_entry = len(hb.zeros_stream(hb.MAX_ENTRY_SIZE)[0])
    lines.append(f"one 100 MiB zero entry deflates to {one_entry} bytes (ratio {hb.MAX_ENTRY_SIZE / one_entry:.0f})")
    cases = [("1 entry listed 4 times", lambda: bomb_archive(1, 4))]
    if full:
        cases += [("1 entry listed once", lambda: bomb_archive(1)),
                  ("1 entry + 3 aliases", lambda: bomb_archive(1, aliases=3)),
                  ("9 entries (~1 MB archive)", lambda: bomb_archive(9))]
    for label, build in cases:
        archive = build()
        path = tmp_path / "bomb.epub"
        path.write_bytes(archive)
        result = measure(BOMB_PEAK, path)
        lines.append(f"{label}: archive {len(archive)} bytes, eager read kept {result['kept'] >> 20} MiB, "
                     f"peak growth {result['growth'] >> 20} MiB")
    # Per extra manifest item (deflated package document) and per extra central record.
    opf_small = len(zlib.compress(hb.package_xml(items=hb.ITEMS), 9))
    many = tuple((f"i{n}", "z.bin", "application/octet-stream", None) for n in range(100_000))
    per_item = (len(zlib.compress(hb.package_xml(items=hb.ITEMS + many), 9)) - opf_small) / len(many)
    per_alias = 46 + len("OEBPS/a000000.bin")
    budget = MIB - one_entry
    lines.append(f"each further manifest item naming the same entry costs {per_item:.2f} archive bytes; "
                 f"a 1 MB archive holds {budget / per_item:,.0f} of them: "
                 f"{budget / per_item * hb.MAX_ENTRY_SIZE / 2**40:,.0f} TiB requested by an eager read")
    lines.append(f"each aliasing central record costs {per_alias} bytes (+{per_item:.2f} in the manifest): "
                 f"{budget / (per_alias + per_item):,.0f} aliases, "
                 f"{budget / (per_alias + per_item) * hb.MAX_ENTRY_SIZE / 2**40:,.0f} TiB")
    return lines


def test_report_what_a_small_archive_can_ask_for(tmp_path):
    # Prints figures (pytest -s); the assertion only pins what the figures rest on: every
    # listing of the same entry is inflated and kept on its own.
    lines = report(tmp_path)
    print("\n".join(lines))
    assert "listed 4 times: archive" in lines[1] and "kept 400 MiB" in lines[1]


if __name__ == "__main__":
    import pathlib
    import tempfile

    with tempfile.TemporaryDirectory() as folder:
        print("\n".join(report(pathlib.Path(folder), full=True)))
