#!/usr/bin/python3
"""Our speed, quality and memory beside the peer tools, every tool of a job run in turn in one sitting.

Jobs (both cores; each tool's runs alternate with the others', so a change in the machine's load hits all alike):
  photos   the 40 photos fit into 640x480, JPEG quality 80 (the main job)
  source   10 of the photos at their own size, JPEG quality 80 (the window's default size rule)
  pngbmp   the 10 PNG and BMP files fit into 640x480, PNG
  heic     10 of the photos encoded once as HEIC (heif-enc -q 80), fit into 640x480, JPEG quality 80; SSIM
           against the JPEG each HEIC was made from
  listing  a dropped folder of 10,000 small images listed (bench/listing.py, when present)
  pngsize  our PNG bytes and CPU beside optipng -o2 and zopflipng on the same pixels (bench/png_size.py; not
           run by default: zopflipng takes minutes)
Printed per job and tool: median wall and CPU seconds, our ratio (theirs / ours), peak resident size, SSIM against
an exact Lanczos reference, output bytes. `floor` is libjpeg-turbo decoding each photo at 1/8 scale and nothing else.

Usage: bench/run.py [--runs N] [--jobs photos,source,...] [--tools a,b,...] [--skip-slow]
Needs the packages of packages-bench.txt; sharp is installed from npm into bench-data/sharp when npm exists.
The corpus is built once into bench-data/ (cached).
"""
import glob, json, os, resource, shutil, statistics, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, 'bench-data')
SHARED = os.path.join(os.path.dirname(ROOT), 'shared', 'bench')
BUILD = os.path.join(ROOT, 'build-bench')
BOX_W, BOX_H, QUALITY, PROCS = 640, 480, 80, 2
SHARP_VERSION = '0.34.5'


def corpus(kind='jpeg'):
    folder = os.path.join(DATA, 'corpus', 'jpeg')
    if len(glob.glob(os.path.join(folder, '*.jpg'))) < 40:
        os.makedirs(os.path.join(DATA, 'x'), exist_ok=True)  # dpkg -x needs the parent folder
        subprocess.run(['/usr/bin/python3', os.path.join(SHARED, 'make_corpus.py'), DATA], check=True)
    if kind == 'pngbmp':
        return sorted(glob.glob(os.path.join(DATA, 'corpus', 'pngbmp', '*')))
    return sorted(glob.glob(os.path.join(folder, '*.jpg')))


def build():
    if not os.path.exists(os.path.join(BUILD, 'build.ninja')):
        subprocess.run(['cmake', '-S', ROOT, '-B', BUILD, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release',
                        '-DBUILD_TESTING=OFF'], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', BUILD, '--target', 'qx_bench', 'quendrix-batch'], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, 'bench', 'qx_bench')


def sharp_modules():
    """The folder holding sharp's node_modules, installed on first use; None without node and npm."""
    folder = os.path.join(DATA, 'sharp')
    if os.path.exists(os.path.join(folder, 'node_modules', 'sharp')):
        return os.path.join(folder, 'node_modules')
    if not shutil.which('npm') or not shutil.which('node'):
        return None
    os.makedirs(folder, exist_ok=True)
    done = subprocess.run(['npm', 'install', '--no-audit', '--no-fund', 'sharp@' + SHARP_VERSION], cwd=folder,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return os.path.join(folder, 'node_modules') if done.returncode == 0 else None


def heic_photos(photos):
    """Every fourth photo as HEIC, encoded once by libheif's own heif-enc (x265) at quality 80."""
    folder = os.path.join(DATA, 'corpus', 'heic')
    os.makedirs(folder, exist_ok=True)
    made = []
    for photo in photos[::4]:
        target = os.path.join(folder, os.path.splitext(os.path.basename(photo))[0] + '.heic')
        if not os.path.exists(target):
            subprocess.run(['heif-enc', '-q', str(QUALITY), photo, '-o', target + '.part'], check=True,
                           stdout=subprocess.DEVNULL)
            os.rename(target + '.part', target)
        made.append(target)
    return made


def split(files, n):
    return [files[i::n] for i in range(n)]


class Usage:
    """CPU seconds and the largest peak resident size of the processes one run started."""

    def __init__(self):
        self.cpu = 0.0
        self.peak_kb = 0

    def wait(self, proc, name):
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        self.cpu += usage.ru_utime + usage.ru_stime
        self.peak_kb = max(self.peak_kb, usage.ru_maxrss)
        if proc.returncode != 0:
            err = proc.stderr.read().decode(errors='replace') if proc.stderr else ''
            raise RuntimeError('%s failed (%d): %s' % (name, proc.returncode, err[-500:]))

    def parallel(self, commands, env=None):
        procs = [subprocess.Popen(c, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env) for c in commands]
        for proc, command in zip(procs, commands):
            self.wait(proc, command[0])

    def streams(self, per_file, files, env=None):
        """One process per file, PROCS streams of them side by side."""
        parts = split(files, PROCS)
        running = {}
        for i, part in enumerate(parts):
            if part:
                running[i] = subprocess.Popen(per_file(part.pop(0)), stdout=subprocess.DEVNULL,
                                              stderr=subprocess.PIPE, env=env)
        while running:
            for i in list(running):
                self.wait(running[i], 'stream')
                if parts[i]:
                    running[i] = subprocess.Popen(per_file(parts[i].pop(0)), stdout=subprocess.DEVNULL,
                                                  stderr=subprocess.PIPE, env=env)
                else:
                    del running[i]


SINGLE = dict(os.environ, MAGICK_THREAD_LIMIT='1', OMP_NUM_THREADS='1', VIPS_CONCURRENCY='1')


def batch_command(size, kind, out, build=BUILD, quality=QUALITY, threads=PROCS):
    """quendrix-batch of `build` on a job, to be followed by the files."""
    settings = os.path.join(DATA, 'bench-settings.ini')
    open(settings, 'w').close()  # settings from an empty file, every value from the options
    return [os.path.join(build, 'quendrix-batch'), '--settings', settings, '--quiet', '--size', size, '--quality',
            str(quality), '--threads', str(threads), '--type', kind, '--names', 'source', '--target-folder', out, '--']


def quendrix_batch(size, kind):
    return lambda usage, files, out: usage.parallel([batch_command(size, kind, out) + files])


def sharp(modules, box, fmt, fast=True):
    script = os.path.join(ROOT, 'bench', 'sharp_job.js')
    env = dict(os.environ, NODE_PATH=modules or '')

    def run(usage, files, out):
        job = dict(box=box, format=fmt, quality=QUALITY, fastShrinkOnLoad=fast, parallel=PROCS, out=out)
        usage.parallel([['node', script, json.dumps(job)] + files], env)
    return run


def vipsthumbnail(suffix):
    return lambda usage, files, out: usage.parallel(
        [['vipsthumbnail', '-s', '%dx%d' % (BOX_W, BOX_H), '-o', os.path.join(out, '%s' + suffix)] + part
         for part in split(files, PROCS)], SINGLE)


def tools(job, bench, modules):
    box = '%dx%d' % (BOX_W, BOX_H)
    found = {}
    if job == 'photos':
        found = {
            'quendrix-batch': quendrix_batch('box:' + box, 'jpg'),
            'quendrix': lambda usage, files, out: usage.parallel(
                [[bench, '--threads', str(PROCS), '--box', box, '--quality', str(QUALITY), '--out', out] + files]),
            'vipsthumbnail': vipsthumbnail('.jpg[Q=%d]' % QUALITY),
            'sharp': sharp(modules, [BOX_W, BOX_H], 'jpeg'),
            'sharp-exact': sharp(modules, [BOX_W, BOX_H], 'jpeg', fast=False),
            'mogrify-hint': lambda usage, files, out: usage.parallel(
                [['mogrify', '-path', out, '-define', 'jpeg:size=%dx%d' % (BOX_W * 2, BOX_H * 2), '-resize', box,
                  '-quality', str(QUALITY)] + part for part in split(files, PROCS)], SINGLE),
            'mogrify': lambda usage, files, out: usage.parallel(
                [['mogrify', '-path', out, '-resize', box, '-quality', str(QUALITY)] + part
                 for part in split(files, PROCS)], SINGLE),
            'floor': lambda usage, files, out: usage.streams(
                lambda f: ['djpeg', '-scale', '1/8', '-outfile', os.devnull, f], files),
        }
    elif job == 'source':
        found = {
            'quendrix-batch': quendrix_batch('source', 'jpg'),
            'vips-copy': lambda usage, files, out: usage.streams(
                lambda f: ['vips', 'copy', f, os.path.join(out, os.path.basename(f)) +
                           '[Q=%d,optimize_coding]' % QUALITY], files, SINGLE),
            'sharp': sharp(modules, None, 'jpeg'),
        }
    elif job == 'heic':
        def convert_then_thumbnail(f, out):
            decoded = os.path.join(out, os.path.splitext(os.path.basename(f))[0] + '.png')
            return ['sh', '-c', 'heif-convert -q 100 "$1" "$2" >/dev/null && vipsthumbnail -s %s -o "%%s.jpg[Q=%d]" '
                    '"$2" && rm "$2"' % (box, QUALITY), 'sh', f, decoded]
        found = {
            'quendrix-batch': quendrix_batch('box:' + box, 'jpg'),
            'vipsthumbnail': vipsthumbnail('.jpg[Q=%d]' % QUALITY),
            'heif-convert+vips': lambda usage, files, out: usage.streams(
                lambda f: convert_then_thumbnail(f, out), files, SINGLE),
        }
        if not shutil.which('heif-convert'):
            found.pop('heif-convert+vips')
    elif job == 'pngbmp':
        found = {  # sharp is left out: its libvips reads no BMP
            'quendrix-batch': quendrix_batch('box:' + box, 'png'),
            'vipsthumbnail': vipsthumbnail('.png'),
        }
    if modules is None:
        found = {k: v for k, v in found.items() if not k.startswith('sharp')}
    if not shutil.which('djpeg'):
        found.pop('floor', None)
    return found


def quality(files, out):
    env = dict(os.environ, QUALITY_REF_CACHE=os.path.join(DATA, 'ref'))
    # quality.py takes a folder of sources; the jobs take a part of one, so the sources are linked into a folder.
    sources = os.path.join(DATA, 'out', 'sources-' + os.path.basename(out.rstrip('/')))
    shutil.rmtree(sources, ignore_errors=True)
    os.makedirs(sources)
    for f in files:
        os.symlink(f, os.path.join(sources, os.path.basename(f)))
    q = subprocess.run(['/usr/bin/python3', os.path.join(SHARED, 'quality.py'), sources, out],
                       capture_output=True, env=env, text=True)
    shutil.rmtree(sources, ignore_errors=True)
    lines = q.stdout.strip().splitlines()
    return json.loads(lines[-1]) if q.returncode == 0 and lines else {}


def run_job(job, files, runs, wanted, bench, modules, skip_slow, references=None):
    chosen = {name: run for name, run in tools(job, bench, modules).items()
              if (not wanted or name in wanted) and not (skip_slow and name == 'mogrify')}
    samples = {name: [] for name in chosen}
    for r in range(runs):
        for name, run in chosen.items():
            if name == 'mogrify' and r > 0:
                continue  # plain mogrify decodes at full size: one run is enough
            out = os.path.join(DATA, 'out', job, name)
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            subprocess.run(['sync'])
            usage = Usage()
            start = time.perf_counter()
            run(usage, files, out)
            samples[name].append((time.perf_counter() - start, usage.cpu, usage.peak_kb))
    results = {}
    for name, got in samples.items():
        out = os.path.join(DATA, 'out', job, name)
        results[name] = dict(seconds=statistics.median(g[0] for g in got), cpu=statistics.median(g[1] for g in got),
                             peak_mb=max(g[2] for g in got) / 1024.0, times=[round(g[0], 3) for g in got],
                             quality=quality(references or files, out) if name != 'floor' else {})
        print('%-8s %-14s %s' % (job, name, json.dumps(results[name])), file=sys.stderr)
    return results


def report(job, files, runs, results):
    ours = results.get('quendrix-batch') or results.get('quendrix')
    print('\n### %s: %d files, %d at once, median of %d runs' % (job, len(files), PROCS, runs))
    print('| tool | wall s | wall ratio | CPU s | CPU ratio | peak MB | SSIM mean / min | output bytes |')
    print('|---|---|---|---|---|---|---|---|')
    for name, r in results.items():
        q = r['quality']
        print('| %s | %.2f | %.2f | %.2f | %.2f | %.0f | %s | %s |' % (
            name, r['seconds'], r['seconds'] / ours['seconds'] if ours else float('nan'), r['cpu'],
            r['cpu'] / ours['cpu'] if ours else float('nan'), r['peak_mb'],
            '%.4f / %.4f' % (q['ssim_mean'], q['ssim_min']) if q else '-',
            '{:,}'.format(q['bytes']) if q else '-'))
    floor = results.get('floor')
    if floor and ours:
        print('our CPU over the decode floor: %.2f' % (ours['cpu'] / floor['cpu']))


def main():
    args = sys.argv[1:]
    option = lambda name, default: args[args.index(name) + 1] if name in args else default
    runs = int(option('--runs', '3'))
    jobs = option('--jobs', 'photos,source,pngbmp,listing').split(',')
    wanted = option('--tools', '').split(',') if '--tools' in args else None
    load = os.getloadavg()[0]
    photos = corpus()
    bench = build()
    modules = sharp_modules()
    print('load average before the run: %.2f%s' % (load, '' if modules else '; sharp skipped (no npm)'))
    for job in jobs:
        if job == 'pngsize':
            import png_size
            png_size.main(runs)
            continue
        if job == 'listing':
            listing = os.path.join(ROOT, 'bench', 'listing.py')
            if os.path.exists(listing):
                print('\n### listing')
                sys.stdout.flush()
                subprocess.run(['/usr/bin/python3', listing], check=True)
            continue
        files = {'photos': photos, 'source': photos[::4], 'heic': heic_photos(photos) if job == 'heic' else None,
                 'pngbmp': corpus('pngbmp')}[job]
        results = run_job(job, files, runs, wanted, bench, modules, '--skip-slow' in args,
                          photos[::4] if job == 'heic' else None)
        report(job, files, runs, results)
        sys.stdout.flush()


if __name__ == '__main__':
    main()
