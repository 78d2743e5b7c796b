// The benchmark jobs through sharp, as its users write them: auto-orient, fit inside the box (or keep the
// size: a null or missing box), JPEG, PNG, WebP or AVIF; `parallel` files in flight at once. Unset options keep
// sharp's defaults; `concurrency` limits libvips' threads, `chromaSubsampling` applies to AVIF, `mozjpeg` to JPEG
// (sharp's preset: trellis quantisation, overshoot deringing, quantisation table 3, optimised progressive scans).
// Usage: node sharp_job.js '{"box":[640,480]|null,"format":"jpeg"|"png"|"webp"|"avif","quality":80,"mozjpeg":true,
//                             "fastShrinkOnLoad":true,"parallel":2,"concurrency":1,"chromaSubsampling":"4:2:0",
//                             "out":"FOLDER"}' FILE...
const path = require('path');
const sharp = require('sharp');

const job = JSON.parse(process.argv[2]);
const files = process.argv.slice(3);
if (job.concurrency) sharp.concurrency(job.concurrency);

// Only the options the job sets, so that the others keep sharp's defaults.
function options(all) {
    return Object.fromEntries(Object.entries(all).filter(([, value]) => value != null));
}

async function one(file) {
    const base = path.basename(file, path.extname(file));
    let image = sharp(file).rotate();
    if (job.box) image = image.resize(job.box[0], job.box[1], {fit: 'inside', fastShrinkOnLoad: job.fastShrinkOnLoad});
    const encoders = {
        png: () => image.png(),
        jpeg: () => image.jpeg(options({quality: job.quality, optimiseCoding: true, mozjpeg: job.mozjpeg})),
        webp: () => image.webp(options({quality: job.quality})),
        avif: () => image.avif(options({quality: job.quality, chromaSubsampling: job.chromaSubsampling})),
    };
    image = encoders[job.format]();
    await image.toFile(path.join(job.out, base + (job.format === 'jpeg' ? '.jpg' : '.' + job.format)));
}

async function main() {
    let next = 0;
    const worker = async () => {
        while (next < files.length) await one(files[next++]);
    };
    await Promise.all(Array.from({length: job.parallel}, worker));
}

main().catch((e) => {
    console.error(e);
    process.exit(1);
});
