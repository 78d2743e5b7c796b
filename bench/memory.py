#!/usr/bin/python3
"""Memory under load: quendrix-batch with up to 1000 worker threads over 1000 photos of 20+ megapixels.
Prints wall time, peak resident size, files written, and the exit code, for the box fit (the main job) and
for source size (every pixel decoded and encoded again).

Usage: bench/memory.py [--files N] [--threads N] [--modes box,source]
The files are hard links to the corpus's photos of 20 MP and more (the page cache holds each once; what is
measured is the program's own memory).
"""
import argparse, os, shutil, struct, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402  (the corpus and the Release build of bench/run.py)


def jpeg_size(path):
    with open(path, 'rb') as f:
        data = f.read(1 << 20)
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            i += 1
            continue
        marker = data[i + 1]
        length = struct.unpack('>H', data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack('>HH', data[i + 5:i + 9])
            return width, height
        i += 2 + length
    return 0, 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--files', type=int, default=1000)
    parser.add_argument('--threads', type=int, default=1000)
    parser.add_argument('--modes', default='box,source')
    args = parser.parse_args()

    bench.build()
    program = os.path.join(bench.BUILD, 'quendrix-batch')
    large = [p for p in bench.corpus() if jpeg_size(p)[0] * jpeg_size(p)[1] >= 20_000_000]
    if not large:
        sys.exit('no photo of 20 MP or more in the corpus')
    work = os.path.join(bench.DATA, 'memory')
    shutil.rmtree(work, ignore_errors=True)
    sources = os.path.join(work, 'in')
    os.makedirs(sources)
    for i in range(args.files):
        os.link(large[i % len(large)], os.path.join(sources, 'p%04d.jpg' % i))
    megapixels = sorted(round(jpeg_size(p)[0] * jpeg_size(p)[1] / 1e6, 1) for p in large)
    print('%d files, hard links to %d photos of %s MP; %d threads; %d cores; memory %.1f GiB'
          % (args.files, len(large), megapixels, args.threads, os.cpu_count(),
             os.sysconf('SC_PAGE_SIZE') * os.sysconf('SC_PHYS_PAGES') / 2**30))

    settings = os.path.join(work, 'settings.ini')
    open(settings, 'w').close()
    print('%-7s %9s %14s %8s %5s' % ('mode', 'wall s', 'peak RSS MiB', 'written', 'exit'))
    for mode in args.modes.split(','):
        size = {'box': ['--size', 'box:640x480'], 'source': ['--size', 'source']}[mode]
        out = os.path.join(work, 'out-' + mode)
        os.makedirs(out)
        command = [program, '--settings', settings, '--quiet', '--quality', '80', '--type', 'jpg',
                   '--threads', str(args.threads), '--names', 'source', '--target-folder', out] + size + ['--', sources]
        start = time.monotonic()
        # Each mode in a child of its own, so that the children's peak is this run's alone.
        probe = subprocess.run([sys.executable, '-c',
                                'import resource,subprocess,sys;'
                                'r=subprocess.run(sys.argv[1:],stdout=subprocess.DEVNULL).returncode;'
                                'print(r, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)'] + command,
                               capture_output=True, text=True)
        wall = time.monotonic() - start
        code, peak_kib = (int(x) for x in probe.stdout.split())
        written = len(os.listdir(out))
        print('%-7s %9.1f %14.0f %8d %5d' % (mode, wall, peak_kib / 1024, written, code))
        shutil.rmtree(out)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
