// The benchmark jobs through sharp, as its users write them: auto-orient, fit inside the box (or keep the
// size), JPEG or PNG; `parallel` files in flight at once.
// Usage: node sharp_job.js '{"box":[640,480]|null,"format":"jpeg"|"png","quality":80,"fastShrinkOnLoad":true,
//                             "parallel":2,"out":"FOLDER"}' FILE...
const path = require('path');
const sharp = require('sharp');

const job = JSON.parse(process.argv[2]);
const files = process.argv.slice(3);

async function one(file) {
    const base = path.basename(file, path.extname(file));
    let image = sharp(file).rotate();
    if (job.box) image = image.resize(job.box[0], job.box[1], {fit: 'inside', fastShrinkOnLoad: job.fastShrinkOnLoad});
    image = job.format === 'png' ? image.png() : image.jpeg({quality: job.quality, optimiseCoding: true});
    await image.toFile(path.join(job.out, base + (job.format === 'png' ? '.png' : '.jpg')));
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
