#!/usr/bin/python3
"""The main job (fit into 640x480, JPEG quality 80, both cores) through quendrix-batch, our imaging layer alone
(bench/qx_bench) and the peers,
side by side in one run: images per second, our ratio to each peer, and SSIM against an exact reference.

Usage: bench/run.py [--runs N] [--skip-slow] [--tools a,b,...]
Needs the packages of packages-bench.txt. The corpus is built once into bench-data/ (cached).
"""
import glob, json, os, resource, shutil, statistics, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, 'bench-data')
SHARED = os.path.join(os.path.dirname(ROOT), 'shared', 'bench')
BUILD = os.path.join(ROOT, 'build-bench')
BOX_W, BOX_H, QUALITY, PROCS = 640, 480, 80, 2


def corpus():
    folder = os.path.join(DATA, 'corpus', 'jpeg')
    if len(glob.glob(os.path.join(folder, '*.jpg'))) < 40:
        os.makedirs(os.path.join(DATA, 'x'), exist_ok=True)  # dpkg -x needs the parent folder
        subprocess.run(['/usr/bin/python3', os.path.join(SHARED, 'make_corpus.py'), DATA], check=True)
    return sorted(glob.glob(os.path.join(folder, '*.jpg')))


def build():
    if not os.path.exists(os.path.join(BUILD, 'build.ninja')):
        subprocess.run(['cmake', '-S', ROOT, '-B', BUILD, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release',
                        '-DBUILD_TESTING=OFF'], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', BUILD, '--target', 'qx_bench', 'quendrix-batch'], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, 'bench', 'qx_bench')


def batch(files, out):
    # The program as users run it: settings from an empty file, every value from the options.
    settings = os.path.join(DATA, 'bench-settings.ini')
    open(settings, 'w').close()
    subprocess.run([os.path.join(BUILD, 'quendrix-batch'), '--settings', settings, '--quiet',
                    '--size', 'box:%dx%d' % (BOX_W, BOX_H), '--quality', str(QUALITY), '--threads', str(PROCS),
                    '--type', 'jpg', '--names', 'source', '--target-folder', out, '--'] + files,
                   check=True, stdout=subprocess.DEVNULL)


def split(files, n):
    return [files[i::n] for i in range(n)]


def parallel(commands, env=None):
    procs = [subprocess.Popen(c, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env) for c in commands]
    for p in procs:
        _, err = p.communicate()
        if p.returncode != 0:
            raise RuntimeError('%s failed: %s' % (commands[0][0], err.decode(errors='replace')[-500:]))


def tools(bench):
    single = dict(os.environ, MAGICK_THREAD_LIMIT='1', OMP_NUM_THREADS='1', VIPS_CONCURRENCY='1')
    hint = '%dx%d' % (BOX_W * 2, BOX_H * 2)
    return {
        'quendrix-batch': batch,
        'quendrix': lambda files, out: subprocess.run(
            [bench, '--threads', str(PROCS), '--box', '%dx%d' % (BOX_W, BOX_H), '--quality', str(QUALITY),
             '--out', out] + files, check=True, stdout=subprocess.DEVNULL),
        'vipsthumbnail': lambda files, out: parallel(
            [['vipsthumbnail', '-s', '%dx%d' % (BOX_W, BOX_H), '-o', os.path.join(out, '%%s.jpg[Q=%d]' % QUALITY)] + part
             for part in split(files, PROCS)], single),
        'mogrify-hint': lambda files, out: parallel(
            [['mogrify', '-path', out, '-define', 'jpeg:size=' + hint, '-resize', '%dx%d' % (BOX_W, BOX_H),
              '-quality', str(QUALITY)] + part for part in split(files, PROCS)], single),
        'mogrify': lambda files, out: parallel(
            [['mogrify', '-path', out, '-resize', '%dx%d' % (BOX_W, BOX_H), '-quality', str(QUALITY)] + part
             for part in split(files, PROCS)], single),
    }


LOAD = 0.0


def main():
    global LOAD
    LOAD = os.getloadavg()[0]
    args = sys.argv[1:]
    runs = int(args[args.index('--runs') + 1]) if '--runs' in args else 3
    wanted = args[args.index('--tools') + 1].split(',') if '--tools' in args else None
    files = corpus()
    bench = build()
    megapixels = 0
    results = {}
    for name, run in tools(bench).items():
        if wanted and name not in wanted:
            continue
        if '--skip-slow' in args and name == 'mogrify':
            continue
        out = os.path.join(DATA, 'out', name)
        times, cpus = [], []
        for r in range(runs if name != 'mogrify' else 1):  # plain mogrify decodes at full size: one run is enough
            shutil.rmtree(out, ignore_errors=True)
            os.makedirs(out)
            subprocess.run(['sync'])
            usage = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            run(files, out)
            times.append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpus.append(after.ru_utime + after.ru_stime - usage.ru_utime - usage.ru_stime)
        env = dict(os.environ, QUALITY_REF_CACHE=os.path.join(DATA, 'ref'))
        q = subprocess.run(['/usr/bin/python3', os.path.join(SHARED, 'quality.py'), os.path.dirname(files[0]), out],
                           check=True, capture_output=True, env=env, text=True)
        quality = json.loads(q.stdout.strip().splitlines()[-1])
        results[name] = dict(seconds=statistics.median(times), times=times, cpu=statistics.median(cpus), quality=quality,
                             count=len(glob.glob(os.path.join(out, '*'))))
        print('%-14s %s' % (name, json.dumps(results[name])), file=sys.stderr)

    n = len(files)
    ours = results.get('quendrix-batch') or results.get('quendrix')
    print('\n%d JPEGs, fit into %dx%d, quality %d, %d at once; median of %d runs' % (n, BOX_W, BOX_H, QUALITY, PROCS, runs))
    # CPU seconds are what a loaded machine distorts least; wall time is what a user sees.
    print('load average before the run: %.1f' % LOAD)
    print('| tool | wall s | images/s | quendrix-batch ratio | CPU s | images per CPU s | quendrix-batch CPU ratio | SSIM mean / min | MS-SSIM mean | output bytes |')
    print('|---|---|---|---|---|---|---|---|---|---|')
    for name, r in results.items():
        ips = n / r['seconds']
        ratio = (n / ours['seconds']) / ips if ours else float('nan')
        cpu_ratio = r['cpu'] / ours['cpu'] if ours else float('nan')
        q = r['quality']
        print('| %s | %.2f | %.1f | %.2f | %.2f | %.1f | %.2f | %.4f / %.4f | %.4f | %s |' % (
            name, r['seconds'], ips, ratio, r['cpu'], n / r['cpu'], cpu_ratio,
            q.get('ssim_mean', 0), q.get('ssim_min', 0), q.get('msssim_mean', 0),
            '{:,}'.format(q.get('bytes', 0))))


if __name__ == '__main__':
    main()
