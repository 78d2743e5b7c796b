#!/usr/bin/python3
"""Quality chosen per image (--auto-quality) against one quality for all, on the benchmark photos, in one run.

Usage: bench/auto_quality.py [--distances 2,3] [--quality 80] [--size box:640x480] [--files N]
For the plain job (Rate for every photo) and for each distance: the total output bytes, the butteraugli
3-norm of every output against the same batch's lossless PNG (the resized image), measured by libjxl's
butteraugli_main for all jobs alike, its worst and mean, and the CPU time of the quendrix-batch child
(user + system) as a ratio to the plain job's. Needs bench-data/ as bench/run.py builds it, a build in build/
(scripts/build.sh) or the quendrix-batch that QX_BATCH names (a Release build, such as build-bench/, gives
the CPU ratios that hold for users), and butteraugli_main (libjxl-devtools).
"""
import argparse, glob, json, os, re, resource, shutil, subprocess, sys, tempfile
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, 'bench-data')
BATCH = os.environ.get('QX_BATCH', os.path.join(ROOT, 'build', 'quendrix-batch'))


def cpu_of(args):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def distance(reference, output):
    text = subprocess.run(['butteraugli_main', reference, output], check=True, capture_output=True, text=True).stdout
    return float(re.search(r'3-norm:\s*([0-9.]+)', text).group(1))


def measure(folder, references):
    outputs = sorted(glob.glob(os.path.join(folder, '*.jpg')))
    pairs = [(os.path.join(references, os.path.basename(o)[:-4] + '.png'), o) for o in outputs]
    with ThreadPoolExecutor(2) as pool:
        distances = list(pool.map(lambda p: distance(*p), pairs))
    return sum(os.path.getsize(o) for o in outputs), distances


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--distances', default='2,3')
    parser.add_argument('--quality', default='80')
    parser.add_argument('--size', default='box:640x480')
    parser.add_argument('--files', type=int, default=40)
    options = parser.parse_args()
    photos = sorted(glob.glob(os.path.join(DATA, 'corpus', 'jpeg', '*.jpg')))[:options.files]
    if not photos or not os.path.exists(BATCH):
        sys.exit('needs bench-data/corpus/jpeg (bench/run.py builds it) and build/quendrix-batch')
    scratch = tempfile.mkdtemp(prefix='qx-auto-')
    settings = os.path.join(scratch, 'quendrix.ini')
    open(settings, 'w').write('[Parameter]\nThreadAnzahl=2\n')
    base = [BATCH, '--settings', settings, '--quiet', '--size', options.size, '--quality', options.quality]
    try:
        references = os.path.join(scratch, 'png')
        subprocess.run(base + ['--type', 'png', '--target-folder', references] + photos, check=True)
        jobs = [('Rate ' + options.quality, [])] + [
            ('distance ' + d, ['--auto-quality', d]) for d in options.distances.split(',')]
        plain_cpu = plain_bytes = None
        print('%-14s %12s %8s %10s %10s %8s' % ('job', 'bytes', 'vs Rate', 'worst d', 'mean d', 'CPU x'))
        for name, extra in jobs:
            folder = os.path.join(scratch, name.replace(' ', '-'))
            cpu = cpu_of(base + ['--type', 'jpg', '--target-folder', folder] + extra + photos)
            total, distances = measure(folder, references)
            plain_cpu = plain_cpu or cpu
            plain_bytes = plain_bytes or total
            print('%-14s %12d %7.1f%% %10.3f %10.3f %8.2f  (CPU %.1f s)' % (
                name, total, 100.0 * (total - plain_bytes) / plain_bytes, max(distances),
                sum(distances) / len(distances), cpu / plain_cpu, cpu), flush=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == '__main__':
    main()
