#!/usr/bin/python3
"""quendrix-batch of several builds on the same jobs, runs taking turns: median wall and CPU seconds, peak memory,
the ratio of each build to the first, and whether its outputs are byte-identical to the first build's.

Usage: bench/compare_builds.py [--runs N] [--jobs photos,source,pngbmp] BUILD_FOLDER...
A build folder holds a quendrix-batch (e.g. a worktree's build-bench/ after bench/run.py, or
`cmake -S . -B b -DCMAKE_BUILD_TYPE=Release && cmake --build b --target quendrix-batch`).
Jobs as in bench/run.py: the 40 photos fit into 640x480 JPEG quality 80; 10 of them at their own size;
the 10 PNG/BMP files fit into 640x480 PNG. Both cores.
"""
import filecmp, os, shutil, statistics, subprocess, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run as bench  # noqa: E402  (the corpus, the usage counter)


JOBS = {'photos': ('box:640x480', 'jpg'), 'source': ('source', 'jpg'), 'pngbmp': ('box:640x480', 'png')}


def same_outputs(a, b):
    names = sorted(os.listdir(a))
    if names != sorted(os.listdir(b)):
        return False
    return all(filecmp.cmp(os.path.join(a, n), os.path.join(b, n), shallow=False) for n in names)


def main():
    args = sys.argv[1:]
    runs, jobs = 5, ['photos', 'source']
    if '--runs' in args:
        i = args.index('--runs')
        runs = int(args[i + 1])
        del args[i:i + 2]
    if '--jobs' in args:
        i = args.index('--jobs')
        jobs = args[i + 1].split(',')
        del args[i:i + 2]
    builds = [os.path.abspath(b) for b in args]
    if not builds:
        print(__doc__)
        return 2
    photos = bench.corpus()
    print('load average before the run: %.2f' % os.getloadavg()[0])
    for job in jobs:
        files = {'photos': photos, 'source': photos[::4], 'pngbmp': bench.corpus('pngbmp')}[job]
        samples = {b: [] for b in builds}
        for _ in range(runs):
            for b in builds:
                out = os.path.join(bench.DATA, 'out', 'compare', job, str(builds.index(b)))
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                usage = bench.Usage()
                start = time.perf_counter()
                usage.parallel([bench.batch_command(*JOBS[job], out, build=b) + files])
                samples[b].append((time.perf_counter() - start, usage.cpu, usage.peak_kb))
        first = builds[0]
        wall0 = statistics.median(s[0] for s in samples[first])
        cpu0 = statistics.median(s[1] for s in samples[first])
        print('\n### %s: %d files, median of %d runs' % (job, len(files), runs))
        print('| build | wall s | CPU s | wall ratio (first / this) | CPU ratio | peak MB | outputs as the first |')
        print('|---|---|---|---|---|---|---|')
        for b in builds:
            wall = statistics.median(s[0] for s in samples[b])
            cpu = statistics.median(s[1] for s in samples[b])
            same = same_outputs(os.path.join(bench.DATA, 'out', 'compare', job, '0'),
                                os.path.join(bench.DATA, 'out', 'compare', job, str(builds.index(b))))
            print('| %s | %.2f | %.2f | %.2f | %.2f | %.0f | %s |' % (
                b, wall, cpu, wall0 / wall, cpu0 / cpu, max(s[2] for s in samples[b]) / 1024.0,
                'byte-identical' if same else 'different'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
