#!/usr/bin/env python3
"""Prints what quendrix-batch makes of a fixed set of images, as a list that two builds can be diffed by.

Usage: scripts/same-outputs.py [--batch PROGRAM] [--photos FOLDER] [--jobs N] > list.txt

Every conformance image of tests/corpus (MANIFEST.tsv) and every photo of the photo folder goes alone through
PROGRAM (default: build/quendrix-batch) once for each output type its --help names for --type, and once with
the stored output type 99, which no build knows, and each size rule (source size, box 640x480, percent 50), with quality 80, names like
the sources and its own empty target folder. For each run the list holds the exit code, every line the
program printed (scratch paths replaced by <scratch>) and the sha256 of every file left in the target folder
(so a temporary file left behind shows too). The inputs' own hashes head the list.

A reshaping that must change nothing observable keeps this list byte for byte:
    scripts/same-outputs.py --batch /tmp/before/quendrix-batch > before.txt
    scripts/same-outputs.py > after.txt && diff before.txt after.txt

The photo folder is made on first use with ImageMagick (convert, fixed seeds) when it does not exist: photo-like
noise in the shapes and variants the codecs treat differently (baseline, progressive, grey, CMYK, EXIF-turned,
ICC profile, 4:4:4, odd sizes, PNG with alpha, 16-bit and palette PNG, 24- and 32-bit BMP). Its inputs are
hashed like the corpus, so an ImageMagick that draws differently shows as changed inputs, not as changed code.
"""
import argparse
import concurrent.futures
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

UNKNOWN_TYPE = "99"  # a stored AusgabeTyp no row of the codec table has; it goes through the settings file
SIZE_RULES = ["source", "box:640x480", "percent:50"]

ICC_RGB = "/usr/share/color/icc/ghostscript/srgb.icc"

# Name, size, seed, ImageMagick options after the canvas, and the coder prefix of the output name ("PNG8:").
# Photo-like: a plasma field, softened, with grain.
PHOTOS = [
    ("p01-landscape.jpg", "2400x1600", 1, ["-quality", "92", "-sampling-factor", "2x2"], ""),
    ("p02-portrait-exif6.jpg", "2400x1600", 2, ["-quality", "90"], ""),
    ("p03-progressive.jpg", "2048x1536", 3, ["-quality", "85", "-interlace", "Plane"], ""),
    ("p04-grey.jpg", "1999x1333", 4, ["-colorspace", "Gray", "-quality", "88"], ""),
    ("p05-cmyk.jpg", "1600x1200", 5, ["-colorspace", "CMYK", "-quality", "90"], ""),
    ("p06-icc.jpg", "1800x1200", 6, ["-profile", ICC_RGB, "-quality", "90"], ""),
    ("p07-q100-444.jpg", "1201x901", 7, ["-quality", "100", "-sampling-factor", "1x1"], ""),
    ("p08-alpha.png", "1500x1000", 8, ["(", "-size", "1500x1000", "gradient:white-black", ")",
                                       "-alpha", "off", "-compose", "CopyOpacity", "-composite"], ""),
    ("p09-16bit.png", "1200x800", 9, ["-depth", "16"], ""),
    ("p10-palette.png", "1024x768", 10, ["-colors", "200"], "PNG8:"),
    ("p11-24bit.bmp", "1600x1066", 11, ["-type", "TrueColor"], "BMP3:"),
    ("p12-32bit-alpha.bmp", "800x600", 12, ["(", "-size", "800x600", "radial-gradient:white-black", ")",
                                            "-alpha", "off", "-compose", "CopyOpacity", "-composite"], "BMP:"),
]


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def add_exif_orientation(path, orientation):
    """Puts an APP1 segment with only the EXIF Orientation tag right after the JPEG's SOI marker."""
    tiff = (b"MM\x00\x2a\x00\x00\x00\x08" + b"\x00\x01" +
            b"\x01\x12\x00\x03\x00\x00\x00\x01" + bytes([0, orientation, 0, 0]) + b"\x00\x00\x00\x00")
    payload = b"Exif\x00\x00" + tiff
    with open(path, "rb") as f:
        data = f.read()
    segment = b"\xff\xe1" + (len(payload) + 2).to_bytes(2, "big") + payload
    with open(path, "wb") as f:
        f.write(data[:2] + segment + data[2:])


def make_photos(folder):
    if shutil.which("convert") is None:
        sys.exit("same-outputs: the photo folder %s is missing and ImageMagick's convert is not installed" % folder)
    partial = folder + ".partial"  # renamed when complete, so a broken-off run leaves no half set behind
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    for name, size, seed, options, coder in PHOTOS:
        command = ["convert", "-seed", str(seed), "-size", size, "plasma:", "-blur", "0x1.5",
                   "-attenuate", "0.4", "+noise", "Gaussian"] + options + [coder + os.path.join(partial, name)]
        subprocess.run(command, check=True)
        if "exif6" in name:
            add_exif_orientation(os.path.join(partial, name), 6)
    os.rename(partial, folder)


def inputs(corpus, photos):
    """(set, relative path, absolute path) of every input, in a fixed order."""
    found = []
    with open(os.path.join(corpus, "MANIFEST.tsv"), encoding="utf-8") as manifest:
        next(manifest)
        for line in manifest:
            relative = line.rstrip("\n").split("\t")[0]
            if relative:
                found.append(("corpus", relative, os.path.join(corpus, relative)))
    for name in sorted(os.listdir(photos)):
        found.append(("photos", name, os.path.join(photos, name)))
    return found


def run_one(batch, scratch, settings_files, job):
    index, (kind, relative, source), output_type, size = job
    target = os.path.join(scratch, "out-%06d" % index)
    os.mkdir(target)
    settings = settings_files[output_type if output_type == UNKNOWN_TYPE else "plain"]
    command = [batch, "--settings", settings, "--quiet", "--threads", "0", "--names", "source", "--quality", "80",
               "--enlarge", "--accept", "jpg,bmp,png", "--size", size, "--target-folder", target + "/"]
    if output_type != UNKNOWN_TYPE:
        command += ["--type", output_type]
    command += ["--", source]
    environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": scratch, "LC_ALL": "C.UTF-8",
                   "XDG_CONFIG_HOME": os.path.join(scratch, "config")}
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=environment,
                            cwd=scratch, timeout=600)
    head = "%s/%s\t%s\t%s\t" % (kind, relative, output_type, size)
    lines = [head + "exit %d" % result.returncode]
    text = result.stdout.decode("utf-8", "backslashreplace").replace(scratch, "<scratch>")
    text = text.replace(os.path.dirname(source), "<source-folder>")
    lines += [head + "msg " + line for line in text.splitlines()]
    for name in sorted(os.listdir(target)):
        path = os.path.join(target, name)
        lines.append(head + "out %s %d %s" % (name, os.path.getsize(path), sha256(path)))
    shutil.rmtree(target)
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--batch", default=os.path.join(ROOT, "build", "quendrix-batch"))
    parser.add_argument("--corpus", default=os.path.join(ROOT, "tests", "corpus"))
    parser.add_argument("--photos", default=os.path.join(tempfile.gettempdir(), "quendrix-same-outputs-photos"))
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()
    batch = os.path.abspath(args.batch)
    if not os.access(batch, os.X_OK):
        sys.exit("same-outputs: no program at %s" % batch)
    if not os.path.isdir(args.photos):
        make_photos(args.photos)

    help_text = subprocess.run([batch, "--help"], stdout=subprocess.PIPE, check=True).stdout.decode()
    words = re.search(r"--type ([a-z|]+)", help_text)
    if not words:
        sys.exit("same-outputs: %s --help names no output types" % batch)
    output_types = words.group(1).split("|") + [UNKNOWN_TYPE]

    sources = inputs(os.path.abspath(args.corpus), os.path.abspath(args.photos))
    out = sys.stdout
    for kind, relative, path in sources:
        out.write("%s/%s\tinput %d %s\n" % (kind, relative, os.path.getsize(path), sha256(path)))

    jobs = [(i, source, t, s) for i, (source, t, s) in enumerate(
        (source, t, s) for source in sources for t in output_types for s in SIZE_RULES)]
    runs = outputs = failures = 0
    with tempfile.TemporaryDirectory(prefix="quendrix-same-outputs-") as scratch:
        settings_files = {"plain": os.path.join(scratch, "plain.ini"), UNKNOWN_TYPE: os.path.join(scratch, "unknown.ini")}
        with open(settings_files["plain"], "w") as f:
            f.write("")
        with open(settings_files[UNKNOWN_TYPE], "w") as f:
            f.write("[Parameter]\nAusgabeTyp=%s\n" % UNKNOWN_TYPE)
        with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            for lines in pool.map(lambda job: run_one(batch, scratch, settings_files, job), jobs):
                runs += 1
                outputs += sum(1 for line in lines if "\tout " in line)
                failures += 0 if lines[0].endswith("\texit 0") else 1
                out.write("".join(line + "\n" for line in lines))
    out.flush()
    print("same-outputs: %d inputs, %d runs, %d outputs, %d runs with a non-zero exit" %
          (len(sources), runs, outputs, failures), file=sys.stderr)


if __name__ == "__main__":
    main()
