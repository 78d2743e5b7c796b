#!/usr/bin/python3
"""CPU cost of quendrix-batch --max-size against the plain encode on the benchmark photos, in one run.

Usage: bench/max_size.py [--limit KB] [--size box:640x480|source] [--runs N] [--files N]
Each run is one quendrix-batch process on one thread over the same photos; the CPU time of the child
(user + system) divided by the number of photos is the cost per image. The limit is chosen below the plain
output size of most photos, so that the search runs. Needs bench-data/ as bench/run.py builds it and a
build in build/ (scripts/build.sh).
"""
import argparse, glob, os, resource, shutil, statistics, subprocess, sys, tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, 'bench-data')
BATCH = os.path.join(ROOT, 'build', 'quendrix-batch')


def cpu_of(args):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(args, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--limit', type=int, default=40, help='KB per file (default 40)')
    parser.add_argument('--size', default='box:640x480')
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--files', type=int, default=40)
    options = parser.parse_args()
    files = sorted(glob.glob(os.path.join(DATA, 'corpus', 'jpeg', '*.jpg')))[:options.files]
    if not files:
        sys.exit('no photos in bench-data/corpus/jpeg: run bench/run.py once, or python3 make_corpus.py bench-data')
    work = tempfile.mkdtemp(prefix='qx-maxsize-')
    settings = os.path.join(work, 'settings.ini')
    open(settings, 'w').close()
    base = [BATCH, '--settings', settings, '--quiet', '--size', options.size, '--quality', '80', '--threads', '1',
            '--type', 'jpg']
    plain, limited = [], []
    try:
        for _ in range(options.runs):  # interleaved, so that load on the machine hits both alike
            for target, extra, times in (('plain', [], plain), ('limited', ['--max-size', str(options.limit)], limited)):
                out = os.path.join(work, target)
                shutil.rmtree(out, ignore_errors=True)
                times.append(cpu_of(base + extra + ['--target-folder', out] + files) / len(files))
        sizes = [os.path.getsize(os.path.join(work, 'limited', f)) for f in os.listdir(os.path.join(work, 'limited'))]
        over = sum(1 for s in sizes if s > options.limit * 1024)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    p, l = statistics.median(plain), statistics.median(limited)
    print('photos %d, size %s, quality 80, limit %d KB, %d runs (medians)' % (len(files), options.size, options.limit,
                                                                             options.runs))
    print('plain encode      %.3f s CPU per image' % p)
    print('with --max-size   %.3f s CPU per image' % l)
    print('ratio             %.2f (goal: at most 4)' % (l / p))
    print('outputs above the limit (quality 0 reached): %d of %d' % (over, len(sizes)))


if __name__ == '__main__':
    main()
