#!/usr/bin/python3
"""Bytes at equal look: our encoders beside the peer encoders on the same pixels, in one run.

Usage: bench/equal_look.py [--files N] [--quick] [--batch PATH [--label NAME]]...
The first N photos of the corpus (default 40) are fit into 640x480 once, by the first quendrix-batch, as lossless PNG
(metadata stripped); every encoder gets exactly these pixels: the PNGs, or PPM copies of them for cjpeg. Each encoder
runs over a sweep of its settings; every lossy output is decoded (dwebp, avifdec --depth 8, djxl) and scored against
its PNG by butteraugli's 3-norm (libjxl's butteraugli_main) and by MS-SSIM on BT.601 luma (five scales, 11x11
Gaussian windows of sigma 1.5, the usual weights). An encoder's curve is its total bytes against the mean of each
score; the bytes it needs at the look our JPEG has at Rate 60, 80 and 90 (WebP, AVIF, JPEG XL: ours at Rate 80) are
interpolated linearly in log bytes between the two settings around that look. A look outside an encoder's sweep is
marked, not extrapolated. Also printed: CPU seconds (user + sys of the children) per encoded image as a ratio to
ours (reading the input included: PPM for cjpeg, PNG for the others), and the lossless bytes and CPU of our PNG
against optipng -o2 and zopflipng on the same pixels (handed to them as uncompressed PNGs, so that they start from
none of our choices; zopflipng keeps iCCP as in png_size.py).

Peers: cjpeg -optimize (libjpeg-turbo), mozjpeg through sharp (its `mozjpeg` preset, 4:2:0 like cjpeg), cwebp -m 6,
avifenc at speed 6 and 4:2:0 (the chroma we write up to Rate 89) with --min = --max quantizer, cjxl at a distance.
Ours: quendrix-batch --size source at each Rate, two workers; peers run two files at a time, one thread each.
--batch (repeatable) names a quendrix-batch to measure, default build/quendrix-batch; the first is the yardstick,
the others are labelled by --label in the same order (default ours-2, ...), e.g. to set a change against main.
--quick: 10 photos and three or four settings per encoder.
Needs the corpus (bench/run.py builds bench-data/), a build (scripts/build.sh), the packages of
packages-bench.txt (libjpeg-turbo-progs, webp, libavif-bin, libjxl-devtools, optipng, zopfli, python3-numpy,
python3-scipy, python3-pil) and node with npm for sharp (installed into bench-data/sharp as bench/run.py does;
left out without npm). Run with /usr/bin/python3. 40 photos take about 20 CPU minutes, most of them in the
measuring: some 11 minutes on a quiet 2-core machine.
"""
import argparse, glob, json, math, os, re, resource, shutil, subprocess, sys, tempfile, time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import numpy as np
from PIL import Image
from scipy import ndimage

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402  (the corpus folder and sharp's install)
import png_size  # noqa: E402  (uncompressed copies for the PNG optimisers)

PROCS = 2
SWEEPS = {  # name: (settings of the full run, of --quick); avifenc takes a quantizer, cjxl a distance
    'ours jpg': ((50, 60, 70, 80, 90, 95), (60, 80, 90)),
    'ours': ((70, 80, 90), (70, 80, 90)),
    'mozjpeg': ((40, 55, 70, 80, 88, 94, 98), (50, 75, 90, 97)),
    'cjpeg': ((40, 55, 70, 80, 88, 94, 98), (50, 75, 90, 97)),
    'cwebp': ((50, 65, 75, 85, 95), (60, 80, 95)),
    'avifenc': ((40, 34, 28, 22, 16), (36, 28, 18)),
    'cjxl': ((3.4, 2.4, 1.7, 1.2, 0.8), (2.6, 1.7, 1.0)),
}
TARGETS = {'jpg': (60, 80, 90), 'webp': (80,), 'avif': (80,), 'jxl': (80,)}
DECODERS = {'webp': lambda f, png: ['dwebp', '-quiet', f, '-o', png],
            'avif': lambda f, png: ['avifdec', '-j', '1', '--depth', '8', f, png],
            'jxl': lambda f, png: ['djxl', f, png, '--bits_per_sample=8', '--num_threads=1']}
MS_SSIM_WEIGHTS = (0.0448, 0.2856, 0.3001, 0.2363, 0.1333)
WINDOW = np.exp(-np.arange(-5, 6) ** 2 / (2 * 1.5 ** 2))
WINDOW /= WINDOW.sum()


def call(args, env=None):
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
    if done.returncode != 0:
        raise RuntimeError('%s failed (%d): %s' % (' '.join(args[:3]), done.returncode, done.stderr[-500:]))
    return done.stdout


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def two_at_a_time(function, items):
    with ThreadPoolExecutor(PROCS) as pool:
        list(pool.map(function, items))


def luma(path):
    return np.asarray(Image.open(path).convert('RGB'), dtype=np.float64) @ np.array([0.299, 0.587, 0.114])


def ms_ssim(a, b):
    """Five-scale MS-SSIM: contrast-structure at every scale, luminance at the coarsest, over the windows that fit
    inside the image; 2x2 means between the scales."""
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    blur = lambda x: ndimage.correlate1d(ndimage.correlate1d(x, WINDOW, axis=0), WINDOW, axis=1)[5:-5, 5:-5]
    score = 1.0
    for scale, weight in enumerate(MS_SSIM_WEIGHTS):
        mu_a, mu_b = blur(a), blur(b)
        var_a, var_b, cov = blur(a * a) - mu_a ** 2, blur(b * b) - mu_b ** 2, blur(a * b) - mu_a * mu_b
        cs = (2 * cov + c2) / (var_a + var_b + c2)
        if scale == len(MS_SSIM_WEIGHTS) - 1:
            return score * np.mean((2 * mu_a * mu_b + c1) / (mu_a ** 2 + mu_b ** 2 + c1) * cs) ** weight
        score *= max(np.mean(cs), 0.0) ** weight
        h, w = a.shape[0] // 2 * 2, a.shape[1] // 2 * 2
        a, b = (x[:h, :w].reshape(h // 2, 2, w // 2, 2).mean(axis=(1, 3)) for x in (a, b))


def measure(pair):
    """Butteraugli 3-norm and luma MS-SSIM of one output against its reference PNG (in a worker process)."""
    reference, output = pair
    fmt = output.rsplit('.', 1)[1]
    decoded = output + '.png' if fmt in DECODERS else output
    try:
        if fmt in DECODERS:
            call(DECODERS[fmt](output, decoded))
        text = call(['butteraugli_main', reference, decoded])
        return float(re.search(r'3-norm:\s*([0-9.]+)', text).group(1)), ms_ssim(luma(reference), luma(decoded))
    finally:
        if decoded != output and os.path.exists(decoded):
            os.remove(decoded)


class Encoder:
    def __init__(self, name, fmt, sweep, encode, ours=False):
        self.name, self.fmt, self.sweep, self.encode, self.ours = name, fmt, sweep, encode, ours
        self.points = {}  # setting -> [bytes, mean butteraugli, mean MS-SSIM]
        self.cpu = 0.0

    def bytes_at(self, target, column):
        """Bytes at the look `target` (column 1 butteraugli, 2 MS-SSIM) and a mark: '' when the sweep brackets it,
        '>' (needs more than the sweep's largest) or '<' (less than its smallest) when not."""
        sign = -1 if column == 1 else 1  # higher is better for both
        points = sorted((p[0], sign * p[column]) for p in self.points.values())
        for (b1, m1), (b2, m2) in zip(points, points[1:]):
            if m1 != m2 and min(m1, m2) <= sign * target <= max(m1, m2):
                t = (sign * target - m1) / (m2 - m1)
                return math.exp(math.log(b1) + t * (math.log(b2) - math.log(b1))), ''
        best = max(points, key=lambda p: p[1])
        return (points[-1][0], '>') if sign * target > best[1] else (points[0][0], '<')


def ours_command(batch, settings, kind, out, files, quality=None, size='source'):
    return [batch, '--settings', settings, '--quiet', '--metadata', 'strip', '--size', size, '--threads', str(PROCS),
            '--type', kind, '--names', 'source', '--target-folder', out] + (
        ['--quality', str(quality)] if quality is not None else []) + ['--'] + files


def encoders(builds, settings, refs, ppms, stems, quick, modules):
    pngs = [os.path.join(refs, s + '.png') for s in stems]
    sweep = lambda name: SWEEPS[name][1 if quick else 0]

    def ours(batch, kind):
        return lambda q, out: call(ours_command(batch, settings, kind, out, pngs, q))

    def each_file(command, ext):  # command(input png, input ppm, setting, output) -> arguments
        return lambda q, out: two_at_a_time(lambda s: call(command(
            os.path.join(refs, s + '.png'), os.path.join(ppms, s + '.ppm'), q, os.path.join(out, s + ext))), stems)

    def sharp(q, out):
        job = dict(box=None, format='jpeg', quality=q, mozjpeg=True, parallel=PROCS, concurrency=1, out=out)
        call(['node', os.path.join(run.ROOT, 'bench', 'sharp_job.js'), json.dumps(job)] + pngs,
             env=dict(os.environ, NODE_PATH=modules))

    found = []
    for fmt in TARGETS:
        found += [Encoder(label, fmt, sweep('ours jpg' if fmt == 'jpg' else 'ours'), ours(batch, fmt), True)
                  for label, batch in builds]
        if fmt == 'jpg':
            if modules:
                found.append(Encoder('mozjpeg (sharp)', fmt, sweep('mozjpeg'), sharp))
            found.append(Encoder('cjpeg -optimize', fmt, sweep('cjpeg'), each_file(
                lambda png, ppm, q, o: ['cjpeg', '-quality', str(q), '-optimize', '-outfile', o, ppm], '.jpg')))
        elif fmt == 'webp':
            found.append(Encoder('cwebp -m 6', fmt, sweep('cwebp'), each_file(
                lambda png, ppm, q, o: ['cwebp', '-quiet', '-q', str(q), '-m', '6', png, '-o', o], '.webp')))
        elif fmt == 'avif':
            found.append(Encoder('avifenc -s 6', fmt, sweep('avifenc'), each_file(
                lambda png, ppm, q, o: ['avifenc', '-s', '6', '-j', '1', '-y', '420', '--min', str(q), '--max', str(q),
                                        png, o], '.avif')))
        else:
            found.append(Encoder('cjxl', fmt, sweep('cjxl'), each_file(
                lambda png, ppm, d, o: ['cjxl', png, o, '-d', str(d), '--num_threads=0'], '.jxl')))
    return found


def setting_name(encoder, setting):
    if encoder.ours:
        return 'Rate %d' % setting
    return {'avif': 'quantizer %d', 'jxl': 'd %.1f'}.get(encoder.fmt, 'q %d') % setting


def sweep_all(found, refs, stems, scratch):
    pairs = []
    for e in found:
        for setting in e.sweep:
            out = os.path.join(scratch, 'out', '%s-%s-%s' % (e.fmt, re.sub(r'\W+', '_', e.name), setting))
            os.makedirs(out)
            before = children_cpu()
            e.encode(setting, out)
            e.cpu += children_cpu() - before
            written = [os.path.join(out, s + '.' + e.fmt) for s in stems]
            missing = [w for w in written if not os.path.exists(w)]
            if missing:
                sys.exit('%s at %s wrote no %s' % (e.name, setting, ', '.join(missing[:3])))
            e.points[setting] = [sum(os.path.getsize(w) for w in written)]
            pairs += [(e, setting, os.path.join(refs, s + '.png'), w) for s, w in zip(stems, written)]
        print('encoded: %-16s %-4s CPU %.1f s' % (e.name, e.fmt, e.cpu), file=sys.stderr, flush=True)
    with ProcessPoolExecutor(PROCS) as pool:
        scores = list(pool.map(measure, [(r, w) for _, _, r, w in pairs], chunksize=4))
    for e in found:
        for setting in e.sweep:
            got = [score for (pe, ps, _, _), score in zip(pairs, scores) if pe is e and ps == setting]
            e.points[setting] += [sum(g[0] for g in got) / len(got), sum(g[1] for g in got) / len(got)]


def report_format(fmt, group, files):
    yardstick = group[0]
    print('\n## %s (%d photos)\n' % ({'jpg': 'JPEG', 'jxl': 'JPEG XL'}.get(fmt, fmt.upper()), files))
    print('| encoder | setting | bytes | butteraugli 3-norm (mean) | MS-SSIM (mean) |\n|---|---|---|---|---|')
    for e in group:
        for setting in e.sweep:
            size, ba, ms = e.points[setting]
            print('| %s | %s | {:,} | %.3f | %.5f |'.format(size) % (e.name, setting_name(e, setting), ba, ms))
    shown = lambda at: ('%s{:,.0f}' % at[1]).format(at[0]) + ('*' if at[1] else '')
    ratio = lambda ours, at: '-' if at[1] else '%.3f' % (ours / at[0])
    for rate in TARGETS[fmt]:
        ours, ba, ms = yardstick.points[rate]
        print('\nAt the look of %s Rate %d (butteraugli %.3f, MS-SSIM %.5f):\n' % (yardstick.name, rate, ba, ms))
        print('| encoder | bytes at equal butteraugli | ours / theirs | bytes at equal MS-SSIM | ours / theirs |')
        print('|---|---|---|---|---|')
        for e in group:
            by_ba, by_ms = e.bytes_at(ba, 1), e.bytes_at(ms, 2)
            print('| %s | %s | %s | %s | %s |' % (e.name, shown(by_ba), ratio(ours, by_ba), shown(by_ms),
                                                 ratio(ours, by_ms)))
    per_image = lambda e: e.cpu / len(e.sweep) / files
    print('\n| encoder | CPU s per image (mean over its sweep) | CPU ratio (theirs / ours) |\n|---|---|---|')
    for e in group:
        print('| %s | %.3f | %.2f |' % (e.name, per_image(e), per_image(e) / per_image(yardstick)))


def lossless(builds, settings, refs, scratch):
    plain = os.path.join(scratch, 'plain')
    png_size.neutral_copies(refs, plain)
    inputs = sorted(glob.glob(os.path.join(plain, '*.png')))
    tools = [(label, lambda out, b=batch: call(ours_command(b, settings, 'png', out, inputs)))
             for label, batch in builds]
    tools += [('optipng -o2', lambda out: two_at_a_time(lambda f: call(
        ['optipng', '-quiet', '-o2', '-out', os.path.join(out, os.path.basename(f)), f]), inputs)),
              ('zopflipng', lambda out: two_at_a_time(lambda f: call(
                  ['zopflipng', '-y', '--keepchunks=iCCP', f, os.path.join(out, os.path.basename(f))]), inputs))]
    rows = []
    for name, encode in tools:
        out = os.path.join(scratch, 'lossless', re.sub(r'\W+', '_', name))
        os.makedirs(out)
        before = children_cpu()
        encode(out)
        rows.append((name, sum(os.path.getsize(f) for f in glob.glob(os.path.join(out, '*.png'))),
                     children_cpu() - before))
    print('\n## Lossless PNG (%d photos, from uncompressed PNGs of the same pixels)\n' % len(inputs))
    print('| tool | bytes | ours / theirs | CPU s | CPU ratio (theirs / ours) |\n|---|---|---|---|---|')
    for name, size, cpu in rows:
        print('| %s | {:,} | %.3f | %.2f | %.2f |'.format(size) % (name, rows[0][1] / size, cpu, cpu / rows[0][2]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--files', type=int)
    parser.add_argument('--quick', action='store_true')
    parser.add_argument('--batch', action='append', help='a quendrix-batch to measure (repeatable)')
    parser.add_argument('--label', action='append', default=[], help='its name in the tables, in --batch order')
    options = parser.parse_args()
    batches = [os.path.abspath(b) for b in options.batch or [os.path.join(run.ROOT, 'build', 'quendrix-batch')]]
    labels = [options.label[i] if i < len(options.label) else 'ours-%d' % (i + 1) if i else 'ours'
              for i in range(len(batches))]
    builds = list(zip(labels, batches))
    count = options.files or (10 if options.quick else 40)
    photos = sorted(glob.glob(os.path.join(run.DATA, 'corpus', 'jpeg', '*.jpg')))[:count]
    if not photos or not all(os.access(b, os.X_OK) for b in batches):
        sys.exit('needs bench-data/corpus/jpeg (bench/run.py builds it) and %s' % ', '.join(batches))
    modules = run.sharp_modules()
    start, load = time.monotonic(), os.getloadavg()[0]
    scratch = tempfile.mkdtemp(prefix='qx-look-')
    try:
        settings, refs, ppms = (os.path.join(scratch, n) for n in ('settings.ini', 'png', 'ppm'))
        open(settings, 'w').close()  # every value from the options
        call(ours_command(batches[0], settings, 'png', refs, photos, size='box:640x480'))
        os.makedirs(ppms)
        stems = sorted(os.path.splitext(n)[0] for n in os.listdir(refs))
        for s in stems:
            image = Image.open(os.path.join(refs, s + '.png'))
            image.save(os.path.join(ppms, s + '.ppm'))  # PPM or PGM, as cjpeg reads them
        found = encoders(builds, settings, refs, ppms, stems, options.quick, modules)
        sweep_all(found, refs, stems, scratch)
        print('# Bytes at equal look: %d photos fit into 640x480 by %s, load average before the run %.2f%s' % (
            len(stems), batches[0], load, '' if modules else '; mozjpeg (sharp) left out: no npm'))
        for label, batch in builds:
            print('%s: %s' % (label, batch))
        for fmt in TARGETS:
            report_format(fmt, [e for e in found if e.fmt == fmt], len(stems))
        lossless(builds, settings, refs, scratch)
        print('\n* outside the encoder\'s sweep, not extrapolated: > needs more bytes than its finest setting wrote, '
              '< fewer than its coarsest. ours / theirs below 1: we write fewer bytes.')
        print('Run time %.0f s.' % (time.monotonic() - start))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == '__main__':
    main()
