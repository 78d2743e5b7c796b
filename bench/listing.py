#!/usr/bin/python3
"""Listing a dropped folder of 10,000 small images: through the intake alone and through the window (offscreen),
each warm (one untimed run, then the median of N). The goal is under 2 s for each.

Usage: bench/listing.py [--runs N] [--binary PATH] [--no-build]
The folder is made once in bench-data/listing/ (hard links of a few small images from tests/corpus, in a few
subfolders, plus files the filter passes over: other types and a .jpg that is no image).
"""
import json, os, subprocess, sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, 'bench-data', 'listing')
BUILD = os.path.join(ROOT, 'build-bench')
CORPUS = os.path.join(ROOT, 'tests', 'corpus')
IMAGES = 10000
GOAL = 2.0
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
    subprocess.run(['cmake', '--build', BUILD, '--target', 'qx_listing'], check=True, stdout=subprocess.DEVNULL)
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
            mode, result['median'], 'under 2 s' if result['median'] < GOAL else 'OVER 2 s', result['cpu_median'],
            result['warmup'], ' '.join('%.3f' % t for t in result['times'])))


if __name__ == '__main__':
    main()
