#!/usr/bin/env python3
"""Writes the small seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; run this again only to change them:
    python3 fuzz/make_seeds.py [--wacsim BUILD/bin/wacsim]
Products are a few framelets of narrow rows, so each seed stays within a few kilobytes. With
--wacsim, one-framelet products of the sample simulator are added too (cut to their label and two
rows, except the small ultraviolet one), with their labels and index lines.
"""
import glob
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")

WAVELENGTHS = {
    "ME": ["643"],
    "UE": ["321", "360"],
    "VE": ["415", "566", "604", "643", "689"],
    "CE": ["321", "360", "415", "566", "604", "643", "689"],
}
FRAMELET_HEIGHT = {"ME": 14, "UE": 8, "VE": 70, "CE": 78}


def wavelength_value(kind, form):
    items = WAVELENGTHS[kind]
    if form == "unit-per-item":
        return ["(" + ", ".join(w + " <nm>" for w in items) + ")"]
    if form == "unit-after-list":
        return ["(" + ", ".join(items) + ") <nm>"]
    if form == "over-lines":
        lines = ["(" + items[0] + " <nm>,"]
        lines += ["    " + w + " <nm>," for w in items[1:-1]]
        lines += ["    " + items[-1] + " <nm>)"] if len(items) > 1 else []
        if len(items) == 1:
            lines = ["(" + items[0] + " <nm>)"]
        return lines
    return [items[0] + " <nm>"]


def label(kind, framelets, width, *, form="unit-per-item", end="END", nframes=True, bits="8",
          padded=True, records=None, lines=None):
    product_id = "M1%08d%s" % (framelets * 1000 + width, kind)
    rows = framelets * FRAMELET_HEIGHT[kind] if lines is None else lines

    def kv(key, value):
        return (key.ljust(32) if padded else key) + "= " + str(value)

    wl = wavelength_value(kind, form)
    text = [
        kv("PDS_VERSION_ID", "PDS3"),
        "",
        "/* FILE FORMAT AND LENGTH */",
        kv("RECORD_TYPE", "FIXED_LENGTH"),
        kv("RECORD_BYTES", width),
        kv("FILE_RECORDS", "FILERECORDS"),
        kv("LABEL_RECORDS", "LABELRECORDS"),
        kv("^IMAGE", "IMAGEPOINTER"),
        kv("PRODUCT_ID", '"%s"' % product_id if form == "quoted-id" else product_id),
        kv("INSTRUMENT_ID", '"LROC"'),
        kv("EXPOSURE_DURATION", "9.2 <ms>"),
    ]
    if nframes:
        text.append(kv("LRO:NFRAMES", framelets))
    text.append(kv("CENTER_FILTER_WAVELENGTH", wl[0]))
    text += wl[1:]
    text += [
        "OBJECT = IMAGE",
        "  " + kv("LINES", rows),
        "  " + kv("LINE_SAMPLES", width),
        "  " + kv("SAMPLE_TYPE", "LSB_INTEGER"),
        "  " + kv("SAMPLE_BITS", bits),
        "END_OBJECT = IMAGE",
        end,
    ]
    size = sum(len(t) + 2 for t in text)
    if records is None:
        records = (size + width - 1) // width
    text = [t.replace("LABELRECORDS", str(records)).replace("IMAGEPOINTER", str(records + 1))
            .replace("FILERECORDS", str(records + rows)) for t in text]
    body = "".join(t + "\r\n" for t in text).encode("ascii")
    return body.ljust(records * width, b" "), rows


def image(rows, width):
    return bytes(((r * 7 + c * 3) & 0xFF) for r in range(rows) for c in range(width))


def product(kind, framelets, width, **kw):
    head, rows = label(kind, framelets, width, **kw)
    return head + image(rows, width)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def loader_seeds():
    t = "fuzz_edr_loader"
    write(t, "me-4-framelets", product("ME", 4, 48))
    write(t, "ue-4-framelets", product("UE", 4, 128))
    write(t, "ve-1-framelet", product("VE", 1, 32, form="unit-after-list"))
    write(t, "ve-3-framelets", product("VE", 3, 32))
    write(t, "ce-1-framelet-over-lines", product("CE", 1, 40, form="over-lines"))
    write(t, "ce-quoted-id-lowercase-end", product("CE", 1, 24, form="quoted-id", end="End"))
    write(t, "me-no-nframes-unpadded", product("ME", 3, 32, nframes=False, padded=False))
    write(t, "me-16-bits", product("ME", 2, 32, bits="16"))
    full = product("UE", 4, 64)
    write(t, "ue-truncated-in-row", full[:-40])
    write(t, "ue-short-at-row", full[:-64 * 9])
    write(t, "ue-extra-data", full + b"\0" * 100)
    head, _ = label("ME", 2, 32, lines=2147483647)
    write(t, "me-claims-2147483647-lines", head + image(5, 32))
    head, _ = label("ME", 2, 32)
    write(t, "me-no-end", head.replace(b"\r\nEND\r\n", b"\r\nEN D\r\n") + image(4, 32))


def label_seeds():
    t = "fuzz_label_values"
    for kind, form in [("CE", "unit-per-item"), ("VE", "unit-after-list"), ("CE", "over-lines"),
                       ("ME", "single"), ("UE", "quoted-id")]:
        head, _ = label(kind, 2, 64, form=form)
        write(t, "%s-%s" % (kind.lower(), form), head.rstrip(b" "))
    head, _ = label("ME", 2, 64, end="end", padded=False)
    write(t, "me-unpadded-lowercase-end", head.rstrip(b" ") + b"\x1a trailing bytes")
    write(t, "tabs-and-equals", b"\tLINES\t=  1000 \r\nA = B = C\nLINES\nlines = 3\r\nEND\n")


def index_line(product_id, start, end):
    """One index record: character fields in double quotes at the places the lookup cuts."""
    line = [" "] * 900

    def put(position, text):
        for i, ch in enumerate(text):
            line[position - 1 + i] = ch

    put(1, '"WAC_EDR","LROLRC_0001","DATA/SCI/2010059/WAC/%s.IMG",' % product_id)
    put(100, '"%s",' % product_id)
    put(310, '"%s",' % start)
    put(337, '"%s",' % end)
    for pos, value in [(749, "-1.234"), (756, "12.345"), (763, "-3.456"), (770, "45.678"),
                       (796, "-2.345"), (803, "44.567"), (810, "-1.111"), (817, "50.222"),
                       (824, "-9.333"), (831, "49.444"), (838, "-9.555"), (845, "40.666"),
                       (852, "-1.777"), (859, "40.888"), (866, "45.1234"), (883, "1"),
                       (887, "+X")]:
        put(pos, value)
    return "".join(line).rstrip() + "\r\n"


def index_seeds():
    t = "fuzz_index_lookup"
    pid = "M126534360CE"
    write(t, "one-line", index_line(pid, "2010-04-22T00:11:33.636", "2010-04-22T00:11:45.012")
          .encode())
    lines = (index_line("M126534359ME", "2010-04-22T00:10:00.000", "2010-04-22T00:10:10.000") +
             pid + " at the start does not count\r\n" +
             index_line(pid, "2012-02-29T23:59:59.999", "2012-03-01T00:00:00.000") +
             index_line(pid, "2013-01-01T00:00:00.000", "2013-01-01T00:00:01.000"))
    write(t, "three-lines-leap-day", lines.encode())
    short = index_line(pid, "2010-03-07T10:00:00.000", "2010-03-07T10:00:01.000")[:500] + "\n"
    write(t, "short-line", short.encode())
    write(t, "own-identifier",
          b"\xf0M1X\n" + index_line("M1X", "2010-13-01T00:00:00.000", "bad").encode())


def settings_seeds():
    t = "fuzz_settings"
    defaults = ("[Quelmar parameters]\r\nUV_Band1_ID=321\r\nUV_Band2_ID=360\r\nVis_Band1_ID=415\r\n"
                "Vis_Band2_ID=566\r\nVis_Band3_ID=604\r\nVis_Band4_ID=643\r\nVis_Band5_ID=689\r\n"
                "CCD_pixel_spacing=0.009\r\nUV_Band1_Offset=1.0\r\nUV_Band2_Offset=-1.1\r\n"
                "Vis_Band1_Offset=0.45\r\nVis_Band2_Offset=0.225\r\nVis_Band3_Offset=0.0\r\n"
                "Vis_Band4_Offset=-0.225\r\nVis_Band5_Offset=-0.45\r\nk1_uv=-0.024\r\n"
                "k2_uv=-0.007\r\nk1_visible=-0.0099\r\nk2_visible=-0.0005\r\nNoDataColor=255\r\n")
    # Mode byte: bit 0 structured, bit 1 invert, bit 2 vertical correction, high nibble product.
    write(t, "ce-band3-defaults", bytes([0x04, 2, 0, 2]) + defaults.encode())
    write(t, "ue-band1-defaults", bytes([0x20, 0, 1, 18]) + defaults.encode())
    write(t, "me-zero-coefficients",
          bytes([0x36, 0, 0, 14]) + b"[quelmar PARAMETERS]\nk1_visible = 0\nk2_visible=0\n"
          b"NoDataColor=16711680\n")
    write(t, "ve-tiny-pitch", bytes([0x14, 1, 0, 16]) + b"[Quelmar parameters]\nCCD_pixel_spacing=1e-6\n")
    write(t, "structured-extremes", bytes([0x05, 2, 3, 0x81]) + bytes([7, 0, 7, 5, 17, 12, 18, 13]))
    write(t, "ce-narrow-shrinking", bytes([0x47, 3, 9, 0x80]) + bytes([17, 21, 18, 20, 7, 26]))


def numeric_seeds():
    t = "fuzz_numeric_entry"
    for i, text in enumerate([b"11", b"2,15", b"$1F", b"-2147483648", b"2147483648", b"1e4000",
                              b"  12 ", b"-.5e-3", b"0x7FFFFFFF", b"1,2,3"]):
        write(t, "text-%d" % i, bytes([0x80]) + bytes([i * 37 % 256, 0x21, 1, 1, 0, 1, 0, 1]) + text)


def wacsim_seeds(wacsim):
    with tempfile.TemporaryDirectory() as out:
        for kind in ["UE", "ME", "VE", "CE"]:
            subprocess.run([wacsim, "--kind", kind, "--framelets", "1", "--width", "704",
                            "--seed", "7", "--output-dir", out], check=True,
                           stdout=subprocess.DEVNULL)
        for path in sorted(glob.glob(os.path.join(out, "*.IMG"))):
            data = open(path, "rb").read()
            kind = path[-6:-4].lower()
            records = int(re.search(rb"LABEL_RECORDS\s*=\s*(\d+)", data).group(1))
            area = records * 704
            if kind == "ue":
                write("fuzz_edr_loader", "wacsim-ue-1-framelet", data)
            else:
                write("fuzz_edr_loader", "wacsim-%s-label-and-2-rows" % kind, data[:area + 2 * 704])
            write("fuzz_label_values", "wacsim-%s-label" % kind, data[:area].rstrip(b" "))
        index = open(os.path.join(out, "CUMINDEX.TAB"), "rb").read()
        first_id = re.search(rb"M1\d{8}[A-Z]E", index).group(0)
        write("fuzz_index_lookup", "wacsim-cumindex", b"\xf0" + first_id + b"\n" + index)
        os.remove(os.path.join(out, "CUMINDEX.TAB"))
        subprocess.run([wacsim, "--index-lines", "3", "--seed", "3", "--output-dir", out],
                       check=True, stdout=subprocess.DEVNULL)
        write("fuzz_index_lookup", "wacsim-synthetic-index",
              open(os.path.join(out, "CUMINDEX.TAB"), "rb").read())


if __name__ == "__main__":
    loader_seeds()
    label_seeds()
    index_seeds()
    settings_seeds()
    numeric_seeds()
    if len(sys.argv) == 3 and sys.argv[1] == "--wacsim":
        wacsim_seeds(sys.argv[2])
