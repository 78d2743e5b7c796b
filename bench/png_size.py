#!/usr/bin/python3
"""Our PNG outputs beside the PNG optimisers, on the same pixels, in one sitting.

The 10 PNG and BMP files and the 40 photos fit into 640x480 and written as PNG by quendrix-batch. optipng -o2 and
zopflipng get the same pixels as a plain PNG (truecolour, stored without compression, ICC profile kept), so they
start from nothing of ours. Printed per group and tool: output bytes and their ratio to ours, the files where the
tool is smaller than we are, CPU seconds (user + sys) and the ratio theirs / ours, both for our whole run and for
our encoding alone (our PNG run less the same run writing BMP, which costs next to nothing to encode).

Usage: bench/png_size.py [--runs N] [--skip-zopfli] [--build DIR]   (also bench/run.py --jobs pngsize)
--build takes quendrix-batch from a build folder already made instead of building build-bench/.
CPU times are less sensitive to load than wall times; the byte ratios do not depend on the machine.
"""
import os, shutil, statistics, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402  (the corpus, the build and the process accounting of the main runner)

from PIL import Image  # noqa: E402


def neutral_copies(ours, folder):
    """Our outputs as plain truecolour PNGs without compression: the same pixels, none of our choices."""
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(ours):
        image = Image.open(os.path.join(ours, name))
        icc = image.info.get('icc_profile')
        has_alpha = image.mode in ('RGBA', 'LA', 'PA') or 'transparency' in image.info
        mode = ('LA' if has_alpha else 'L') if image.mode in ('1', 'L', 'LA', 'I;16') else (
            'RGBA' if has_alpha else 'RGB')
        # PIL turns 1/2/4-bit grey into L; palette and grey with transparency keep every value on conversion.
        image.convert(mode).save(os.path.join(folder, name), compress_level=0, icc_profile=icc)


def timed(per_file, files, runs, out):
    cpu = []
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)  # neither tool overwrites an output of a run before
        os.makedirs(out)
        usage = run.Usage()
        usage.streams(per_file, list(files))
        cpu.append(usage.cpu)
    return statistics.median(cpu)


def batch_cpu(files, kind, out, runs, build):
    cpu = []
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        usage = run.Usage()
        usage.parallel([run.batch_command('box:%dx%d' % (run.BOX_W, run.BOX_H), kind, out, build) + files])
        cpu.append(usage.cpu)
    return statistics.median(cpu)


def sizes(folder):
    return {os.path.splitext(n)[0]: os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)}


def group(name, files, runs, skip_zopfli, build):
    base = os.path.join(run.DATA, 'out', 'pngsize', name)
    ours, bmp, plain = (os.path.join(base, d) for d in ('ours', 'bmp', 'plain'))
    png_cpu = batch_cpu(files, 'png', ours, runs, build)
    encode_cpu = max(png_cpu - batch_cpu(files, 'bmp', bmp, runs, build), 1e-3)
    shutil.rmtree(plain, ignore_errors=True)
    neutral_copies(ours, plain)
    inputs = sorted(os.path.join(plain, n) for n in os.listdir(plain))
    tools = {'optipng -o2': lambda f, out: ['optipng', '-quiet', '-o2', '-out', os.path.join(out, os.path.basename(f)), f]}
    if not skip_zopfli:
        tools['zopflipng'] = lambda f, out: ['zopflipng', '-y', '--keepchunks=iCCP', f, os.path.join(out, os.path.basename(f))]
    our_sizes = sizes(ours)
    total = sum(our_sizes.values())
    print('\n### %s: %d files, fit into %dx%d, %d at once, median of %d runs' % (
        name, len(files), run.BOX_W, run.BOX_H, run.PROCS, runs, ))
    print('| tool | bytes | bytes ratio (theirs / ours) | files smaller than ours | CPU s | CPU ratio, whole run |'
          ' CPU ratio, encoding |')
    print('|---|---|---|---|---|---|---|')
    print('| quendrix-batch | {:,} | 1.000 | - | {:.2f} (encoding {:.2f}) | 1.00 | 1.00 |'.format(
        total, png_cpu, encode_cpu))
    for tool, command in tools.items():
        out = os.path.join(base, tool.split()[0])
        cpu = timed(lambda f: command(f, out), inputs, 1 if tool == 'zopflipng' else runs, out)
        theirs = sizes(out)
        smaller = sum(1 for k, v in theirs.items() if v < our_sizes.get(k, 0))
        print('| {} | {:,} | {:.3f} | {} | {:.2f} | {:.1f} | {:.1f} |'.format(
            tool, sum(theirs.values()), sum(theirs.values()) / total, smaller, cpu, cpu / png_cpu, cpu / encode_cpu))
    sys.stdout.flush()


def main(runs=3, skip_zopfli=False, build=None):
    print('load average before the run: %.2f' % os.getloadavg()[0])
    photos = run.corpus()
    if build is None:
        run.build()
    build = build or run.BUILD
    group('pngbmp', run.corpus('pngbmp'), runs, skip_zopfli, build)
    group('photos', photos, runs, skip_zopfli, build)


if __name__ == '__main__':
    args = sys.argv[1:]
    option = lambda name, default: args[args.index(name) + 1] if name in args else default
    main(int(option('--runs', '3')), '--skip-zopfli' in args, option('--build', None))
