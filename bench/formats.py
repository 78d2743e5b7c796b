#!/usr/bin/python3
"""WebP and AVIF output: photos fit into 640x480 at Rate 80 through quendrix-batch, against cwebp and vips for the
same format, side by side in one run: images per second, CPU seconds, bytes, SSIM against an exact reference.

Usage: bench/formats.py [--files N] [--runs N] [--build DIR]
Needs the packages of packages-bench.txt (webp for cwebp, libvips-tools). The corpus and the Release build are
bench/run.py's (bench-data/, build-bench/);
--build takes quendrix-batch from another build folder instead (say build/, RelWithDebInfo at -O3). One process per tool at a time: the batch gets --threads 1, so that
every tool encodes one image at a time.
"""
import glob, json, os, resource, shutil, statistics, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402

BOX_W, BOX_H, RATE = 640, 480, 80
# The native settings our encoders use at Rate 80 (engine/imaging/webp_codec.cpp, avif_codec.cpp), given to the
# peers so that all compare at the same encoder setting.
WEBP_Q, AVIF_QUANTIZER = 76, 26
BUILD = bench.BUILD


def shared_bench():
    """The shared bench folder (quality.py) beside the checkout, or beside a folder above it (a git worktree)."""
    folder = bench.ROOT
    while folder != os.path.dirname(folder):
        candidate = os.path.join(os.path.dirname(folder), 'shared', 'bench')
        if os.path.exists(os.path.join(candidate, 'quality.py')):
            return candidate
        folder = os.path.dirname(folder)
    return bench.SHARED


def batch(fmt):
    def run(files, out):
        settings = os.path.join(bench.DATA, 'bench-settings.ini')
        open(settings, 'w').close()
        subprocess.run([os.path.join(BUILD, 'quendrix-batch'), '--settings', settings, '--quiet',
                        '--size', 'box:%dx%d' % (BOX_W, BOX_H), '--quality', str(RATE), '--threads', '1',
                        '--type', fmt, '--names', 'source', '--target-folder', out, '--'] + files,
                       check=True, stdout=subprocess.DEVNULL)
    return run


def cwebp(files, out):
    # cwebp cannot shrink a JPEG at decode time; -resize after a full decode, as a user of the tool would.
    for f in files:
        base = os.path.splitext(os.path.basename(f))[0]
        w, h = size_of(f)
        tw, th = fit(w, h)
        subprocess.run(['cwebp', '-quiet', '-q', str(WEBP_Q), '-m', '4', '-resize', str(tw), str(th), f, '-o',
                        os.path.join(out, base + '.webp')], check=True)


def vips(suffix):
    def run(files, out):
        env = dict(os.environ, VIPS_CONCURRENCY='1')
        subprocess.run(['vipsthumbnail', '-s', '%dx%d' % (BOX_W, BOX_H), '-o', os.path.join(out, '%s' + suffix)] + files,
                       check=True, env=env, stdout=subprocess.DEVNULL)
    return run


def size_of(path):
    r = subprocess.run(['vipsheader', '-f', 'width', path], capture_output=True, text=True, check=True)
    w = int(r.stdout)
    r = subprocess.run(['vipsheader', '-f', 'height', path], capture_output=True, text=True, check=True)
    return w, int(r.stdout)


def fit(w, h):
    cw = w * BOX_H // h
    if cw <= BOX_W:
        return cw, BOX_H
    return BOX_W, h * BOX_W // w


def decode_for_quality(out, fmt):
    """quality.py reads with Pillow, which knows no AVIF: decode each file to PNG with vips."""
    if fmt != 'avif':
        return out
    png = out + '-png'
    shutil.rmtree(png, ignore_errors=True)
    os.makedirs(png)
    for f in glob.glob(os.path.join(out, '*.avif')):
        # stderr: libheif's notes on the colour description, one per file
        subprocess.run(['vips', 'copy', f, os.path.join(png, os.path.splitext(os.path.basename(f))[0] + '.png')],
                       check=True, stderr=subprocess.DEVNULL)
    return png


def main():
    args = sys.argv[1:]
    count = int(args[args.index('--files') + 1]) if '--files' in args else 10
    runs = int(args[args.index('--runs') + 1]) if '--runs' in args else 1
    load = os.getloadavg()[0]
    everything = bench.corpus()
    files = everything[::max(1, len(everything) // count)][:count]
    global BUILD
    if '--build' in args:
        BUILD = os.path.abspath(args[args.index('--build') + 1])
    else:
        bench.build()
    tools = [
        ('quendrix-batch webp', 'webp', batch('webp')),
        ('cwebp -resize', 'webp', cwebp),
        ('vipsthumbnail webp', 'webp', vips('.webp[Q=%d]' % WEBP_Q)),
        ('quendrix-batch avif', 'avif', batch('avif')),
        # libvips' Q for AVIF is libheif's quality, not a quantizer: its own default stands beside ours.
        ('vipsthumbnail avif', 'avif', vips('.avif')),
    ]
    results = []
    for name, fmt, run in tools:
        out = os.path.join(bench.DATA, 'out-formats', name.replace(' ', '-'))
        times, cpus = [], []
        for _ in range(runs):
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            usage = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            run(files, out)
            times.append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpus.append(after.ru_utime + after.ru_stime - usage.ru_utime - usage.ru_stime)
        written = sorted(glob.glob(os.path.join(out, '*.' + fmt)))
        env = dict(os.environ, QUALITY_REF_CACHE=os.path.join(bench.DATA, 'ref'))
        q = subprocess.run(['/usr/bin/python3', os.path.join(shared_bench(), 'quality.py'), os.path.dirname(files[0]),
                            decode_for_quality(out, fmt)], check=True, capture_output=True, env=env, text=True)
        quality = json.loads(q.stdout.strip().splitlines()[-1])
        results.append((name, fmt, statistics.median(times), statistics.median(cpus), quality,
                        sum(os.path.getsize(f) for f in written), len(written)))
        print('%-20s %.2f s' % (name, results[-1][2]), file=sys.stderr)

    n = len(files)
    print('\n%d photos, fit into %dx%d, Rate %d (WebP q %d, AVIF quantizer %d), one image at a time; median of %d run(s)'
          % (n, BOX_W, BOX_H, RATE, WEBP_Q, AVIF_QUANTIZER, runs))
    print('load average before the run: %.1f (shared machine: wall times are noisy, CPU seconds less so)' % load)
    print('| tool | format | files | wall s | images/s | CPU s | images per CPU s | SSIM mean / min | bytes |')
    print('|---|---|---|---|---|---|---|---|---|')
    for name, fmt, wall, cpu, q, size, written in results:
        print('| %s | %s | %d | %.2f | %.2f | %.2f | %.2f | %.4f / %.4f | %s |' % (
            name, fmt, written, wall, n / wall, cpu, n / cpu, q.get('ssim_mean', 0), q.get('ssim_min', 0),
            '{:,}'.format(size)))


if __name__ == '__main__':
    main()
