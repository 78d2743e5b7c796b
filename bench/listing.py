#!/usr/bin/python3
"""Listing a dropped folder of 10,000 small images: through the intake alone and through the window (offscreen),
each warm (one untimed run, then the median of N). The goal is under 2 s for each; for 100,000 (--images)
under 10 s. With --batch, quendrix-batch then compresses the whole folder once, and its peak resident size is
printed (goal: under 200 MB).

Usage: bench/listing.py [--runs N] [--images N] [--batch] [--binary PATH] [--no-build]
The folder is made once in bench-data/listing-N/ (hard links of a few small images from tests/corpus, in a few
subfolders, plus files the filter passes over: other types and a .jpg that is no image).
"""
import json, os, shutil, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGES = int(sys.argv[sys.argv.index('--images') + 1]) if '--images' in sys.argv else 10000
DATA = os.path.join(ROOT, 'bench-data', 'listing' if IMAGES == 10000 else 'listing-%d' % IMAGES)
BUILD = os.path.join(ROOT, 'build-bench')
CORPUS = os.path.join(ROOT, 'tests', 'corpus')
GOAL = 2.0 if IMAGES <= 10000 else 10.0
SOURCES = ['generated/jpeg/odd-size-17x13.jpg', 'pillow/orientation_rectangle.jpg', 'bmpsuite/g/pal1.bmp',
           'generated/size/1x1.bmp', 'pngsuite/basn0g02.png', 'generated/size/1x1.png']
# Passed over: types never accepted, and an accepted extension that does not open as an image.
OTHERS = [('generated/not-image/photo.jpg', 'kaputt%05d.jpg'), ('generated/not-image/readme.png', 'notiz%05d.txt'),
          ('generated/size/1x1.png', 'bild%05d.gif'), ('generated/size/1x1.jpg', 'bild%05d.jpe')]
OTHER_COUNT = 250  # of each
SUBFOLDERS = 10


def make_folder():
    folder = os.path.join(DATA, 'Bilder')
    stamp = os.path.join(DATA, 'complete')
    if os.path.exists(stamp):
        return folder
    subprocess.run(['rm', '-rf', DATA], check=True)
    for s in range(SUBFOLDERS):
        os.makedirs(os.path.join(folder, 'Ordner %02d' % s))
    for i in range(IMAGES):
        source = SOURCES[i % len(SOURCES)]
        where = folder if i % 5 else os.path.join(folder, 'Ordner %02d' % (i // 5 % SUBFOLDERS))
        os.link(os.path.join(CORPUS, source), os.path.join(where, 'Foto_%05d%s' % (i, os.path.splitext(source)[1])))
    for i in range(OTHER_COUNT):
        for source, pattern in OTHERS:
            os.link(os.path.join(CORPUS, source), os.path.join(folder, pattern % i))
    open(stamp, 'w').close()
    return folder


def build():
    if not os.path.exists(os.path.join(BUILD, 'build.ninja')):
        subprocess.run(['cmake', '-S', ROOT, '-B', BUILD, '-G', 'Ninja', '-DCMAKE_BUILD_TYPE=Release',
                        '-DBUILD_TESTING=OFF'], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(['cmake', '--build', BUILD, '--target', 'qx_listing', 'quendrix-batch'], check=True,
                   stdout=subprocess.DEVNULL)
    return os.path.join(BUILD, 'bench', 'qx_listing')


def main():
    args = sys.argv[1:]
    runs = int(args[args.index('--runs') + 1]) if '--runs' in args else 5
    binary = args[args.index('--binary') + 1] if '--binary' in args else None
    if binary is None:
        binary = os.path.join(BUILD, 'bench', 'qx_listing') if '--no-build' in args else build()
    folder = make_folder()
    env = dict(os.environ, QT_QPA_PLATFORM='offscreen')
    print('load average before the run: %.1f' % os.getloadavg()[0])
    print('%d images (+%d passed over) in %s; warm, median of %d' % (IMAGES, OTHER_COUNT * len(OTHERS), folder, runs))
    for mode in ('intake', 'window'):
        out = subprocess.run([binary, '--mode', mode, '--runs', str(runs), '--expect', str(IMAGES), folder],
                             check=True, capture_output=True, text=True, env=env)
        result = json.loads(out.stdout.strip().splitlines()[-1])
        print('%-7s %6.3f s  %-9s (CPU %.3f s; warm-up %.3f s; runs %s)' % (
            mode, result['median'], ('under %g s' if result['median'] < GOAL else 'OVER %g s') % GOAL, result['cpu_median'],
            result['warmup'], ' '.join('%.3f' % t for t in result['times'])))
    if '--batch' in args:
        batch(folder)


def batch(folder):
    """quendrix-batch over the whole folder at the window's defaults, both cores: wall time and peak memory."""
    out = os.path.join(DATA, 'out')
    shutil.rmtree(out, ignore_errors=True)
    settings = os.path.join(DATA, 'settings.ini')
    open(settings, 'w').close()
    start = time.perf_counter()
    proc = subprocess.Popen([os.path.join(BUILD, 'quendrix-batch'), '--settings', settings, '--quiet', '--threads',
                             '2', '--target-folder', out, folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    peak = usage.ru_maxrss / 1024.0
    print('batch   %6.1f s  peak %.0f MB %s (exit %d)' % (seconds, peak, 'under 200 MB' if peak < 200 else 'OVER 200 MB',
                                                       os.waitstatus_to_exitcode(status)))
    shutil.rmtree(out, ignore_errors=True)


if __name__ == '__main__':
    main()
