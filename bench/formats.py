#!/usr/bin/python3
"""WebP and AVIF output: photos fit into 640x480 at Rate 80 through quendrix-batch, against cwebp, vipsthumbnail
and sharp (when npm can install it) for the same format, side by side in one run.

Per tool, at its own default setting (the peers' WebP at our q): wall and CPU seconds (median of the runs), images
per second, SSIM against an exact reference, bytes. Then, because a peer's default lands at another quality than
ours, each peer is run at the settings around our SSIM, and its bytes at exactly our SSIM are interpolated between
the two settings that bracket it: "bytes at our SSIM" is the number the goal is about.

Usage: bench/formats.py [--files N] [--runs N] [--build DIR]
Needs the packages of packages-bench.txt (webp for cwebp, libvips-tools, libavif-bin for avifdec). The corpus and
the Release build are bench/run.py's (bench-data/, build-bench/); --build takes quendrix-batch from another build
folder instead. Every tool encodes one image at a time: the batch gets --threads 1, vips and sharp one thread.
"""
import glob, json, os, resource, shutil, statistics, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402

BOX_W, BOX_H, RATE = 640, 480, 80
# Our WebP quality at Rate 80 (engine/imaging/webp_codec.cpp); the peers' WebP starts at the same q.
WEBP_Q = 76
BUILD = bench.BUILD
SETTING_STEP = 2  # between the settings tried around our SSIM


def batch(fmt):
    def run(files, out, setting):
        command = bench.batch_command('box:%dx%d' % (BOX_W, BOX_H), fmt, out, build=BUILD, quality=setting, threads=1)
        subprocess.run(command + files, check=True, stdout=subprocess.DEVNULL)
    return run


def cwebp(files, out, setting):
    # cwebp cannot shrink a JPEG at decode time; -resize after a full decode, as a user of the tool would.
    for f in files:
        base = os.path.splitext(os.path.basename(f))[0]
        tw, th = fit(*size_of(f))
        subprocess.run(['cwebp', '-quiet', '-q', str(setting), '-m', '4', '-resize', str(tw), str(th), f, '-o',
                        os.path.join(out, base + '.webp')], check=True)


def vips(fmt):
    def run(files, out, setting):
        subprocess.run(['vipsthumbnail', '-s', '%dx%d' % (BOX_W, BOX_H),
                        '-o', os.path.join(out, '%%s.%s[Q=%d]' % (fmt, setting))] + files,
                       check=True, env=bench.SINGLE, stdout=subprocess.DEVNULL)
    return run


def sharp(modules, fmt, chroma=None):
    script = os.path.join(bench.ROOT, 'bench', 'sharp_job.js')

    def run(files, out, setting):
        job = dict(box=[BOX_W, BOX_H], format=fmt, quality=setting, fastShrinkOnLoad=False, parallel=1,
                   concurrency=1, chromaSubsampling=chroma, out=out)
        subprocess.run(['node', script, json.dumps(job)] + files, check=True,
                       env=dict(os.environ, NODE_PATH=modules))
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
    """quality.py reads with Pillow, which knows no AVIF: avifdec decodes each file to an 8-bit PNG, rounding
    10-bit samples as a viewer on an 8-bit screen does."""
    if fmt != 'avif':
        return out
    png = out + '-png'
    shutil.rmtree(png, ignore_errors=True)
    os.makedirs(png)
    for f in glob.glob(os.path.join(out, '*.avif')):
        subprocess.run(['avifdec', '--depth', '8', f, os.path.join(png, os.path.basename(f)[:-len('.avif')] + '.png')],
                       check=True, stdout=subprocess.DEVNULL)
    return png


class Tool:
    def __init__(self, name, fmt, run, default, ours=False):
        self.name, self.fmt, self.run, self.default, self.ours = name, fmt, run, default, ours
        self.points = {}  # setting -> (ssim mean, ssim min, bytes)

    def measure(self, files, setting, out):
        if setting not in self.points:
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            self.run(files, out, setting)
            q = bench.quality(files, decode_for_quality(out, self.fmt))
            written = glob.glob(os.path.join(out, '*.' + self.fmt))
            if len(written) != len(files) or 'ssim_mean' not in q:
                sys.exit('%s at %s wrote %d of %d files' % (self.name, setting, len(written), len(files)))
            self.points[setting] = (q['ssim_mean'], q['ssim_min'], sum(os.path.getsize(f) for f in written))
        return self.points[setting]

    def bytes_at(self, files, target, out):
        """Bytes at SSIM `target`, between the two settings that bracket it; None when no setting reaches it."""
        setting = self.default
        below = self.measure(files, setting, out)[0] < target
        step = SETTING_STEP if below else -SETTING_STEP
        while 0 <= setting + step <= 100:
            (s1, _, b1), (s2, _, b2) = self.points[setting], self.measure(files, setting + step, out)
            setting += step
            if (s2 >= target) == below:
                return b1 + (b2 - b1) * (target - s1) / (s2 - s1) if s2 != s1 else b2
        return None


def timed(tool, files, runs, out):
    walls, cpus = [], []
    for _ in range(runs):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        tool.run(files, out, tool.default)
        walls.append(time.perf_counter() - start)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpus.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
    return statistics.median(walls), statistics.median(cpus)


def main():
    args = sys.argv[1:]
    count = int(args[args.index('--files') + 1]) if '--files' in args else 40
    runs = int(args[args.index('--runs') + 1]) if '--runs' in args else 1
    load = os.getloadavg()[0]
    everything = bench.corpus()
    files = everything[::max(1, len(everything) // count)][:count]
    global BUILD
    if '--build' in args:
        BUILD = os.path.abspath(args[args.index('--build') + 1])
    else:
        bench.build()
    modules = bench.sharp_modules()
    tools = [Tool('quendrix-batch', 'webp', batch('webp'), RATE, ours=True),
             Tool('cwebp -resize', 'webp', cwebp, WEBP_Q),
             Tool('vipsthumbnail', 'webp', vips('webp'), WEBP_Q)]
    if modules:
        tools.append(Tool('sharp', 'webp', sharp(modules, 'webp'), WEBP_Q))
    tools += [Tool('quendrix-batch', 'avif', batch('avif'), RATE, ours=True),
              # libvips' and sharp's Q for AVIF is libheif's quality, not a quantizer: their own default, 50.
              Tool('vipsthumbnail', 'avif', vips('avif'), 50)]
    if modules:
        # sharp's AVIF keeps full chroma (4:4:4) by default, which the luma SSIM does not see; with 4:2:0 it
        # spends its bytes as the others do.
        tools += [Tool('sharp', 'avif', sharp(modules, 'avif'), 50),
                  Tool('sharp 4:2:0', 'avif', sharp(modules, 'avif', '4:2:0'), 50)]

    print('%d photos, fit into %dx%d, Rate %d; median of %d run(s); load average before the run: %.2f%s'
          % (len(files), BOX_W, BOX_H, RATE, runs, load, '' if modules else '; sharp skipped (no npm)'))
    for fmt in ('webp', 'avif'):
        group = [t for t in tools if t.fmt == fmt]
        ours = group[0]
        rows = []
        for tool in group:
            out = os.path.join(bench.DATA, 'out-formats', '%s-%s' % (fmt, tool.name.replace(' ', '-').replace(':', '')))
            wall, cpu = timed(tool, files, runs, out)
            rows.append((tool, wall, cpu, tool.measure(files, tool.default, out)))
            print('%-16s %-5s %.2f s' % (tool.name, fmt, wall), file=sys.stderr)
        target = ours.points[ours.default][0]
        print('\n### %s\n' % fmt.upper())
        print('| tool | setting | wall s | images/s | CPU s | CPU ratio | SSIM mean / min | bytes | bytes at our SSIM '
              '| bytes ratio |')
        print('|---|---|---|---|---|---|---|---|---|---|')
        our_cpu = rows[0][2]
        for tool, wall, cpu, (ssim, ssim_min, size) in rows:
            at = size if tool.ours else tool.bytes_at(
                files, target, os.path.join(bench.DATA, 'out-formats', 'sweep-%s' % fmt))
            print('| %s | %s | %.2f | %.2f | %.2f | %.2f | %.4f / %.4f | %s | %s | %s |' % (
                tool.name, ('Rate %d' if tool.ours else 'q %d') % tool.default, wall, len(files) / wall, cpu,
                cpu / our_cpu, ssim, ssim_min, '{:,}'.format(size), '{:,.0f}'.format(at) if at else '-',
                '%.3f' % (at / rows[0][3][2]) if at else '-'))
        print('\nSettings tried (SSIM mean, bytes): ' + '; '.join(
            '%s %s' % (t.name, ', '.join('q %d: %.4f, %s' % (s, p[0], '{:,}'.format(p[2]))
                                         for s, p in sorted(t.points.items()))) for t in group if not t.ours))
    print('\nCPU ratio: the tool\'s CPU seconds over ours. Bytes ratio: the peer\'s bytes at our SSIM over ours '
          '(above 1: we write fewer).')


if __name__ == '__main__':
    main()
