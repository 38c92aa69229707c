// Reads an archive written by `qvork warc` with warcio (the npm package) and
// prints one line per record, for the test to compare:
//   warcinfo ids=ok|BAD
//   response URI STATUS block=ok|BAD payload=ok|BAD get=same|differs|missing bytes=N
// block and payload: the record's digests recomputed from what warcio read;
// get: the payload against the file `qvork get` wrote for the URL under
// GETDIR (HOST/PATH, "/" standing for index.htm).
//
//   node warc_check.mjs NPMDIR ARCHIVE GETDIR
import { createHash } from "node:crypto";
import { createReadStream, existsSync, readFileSync } from "node:fs";
import { createRequire } from "node:module";
import path from "node:path";

const [npmDir, archive, getDir] = process.argv.slice(2);
const { WARCParser } = createRequire(path.join(npmDir, "index.js"))("warcio");

function sha1Label(bytes) {
  const digest = createHash("sha1").update(bytes).digest();
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  let bits = 0, count = 0, text = "";
  for (const byte of digest) {
    bits = (bits << 8) | byte;
    count += 8;
    while (count >= 5) {
      text += alphabet[(bits >>> (count - 5)) & 31];
      count -= 5;
    }
  }
  return "sha1:" + text;
}

// Every record as warcio reads it: with the HTTP part parsed, and without.
async function readAll(parseHttp) {
  const records = [];
  const parser = new WARCParser(createReadStream(archive), { parseHttp });
  for await (const record of parser) {
    records.push({ record, bytes: await record.readFully(false) });
  }
  return records;
}

function getFile(uri) {
  const url = new URL(uri);
  let file = decodeURIComponent(url.pathname).replace(/^\/+/, "");
  if (file === "" || file.endsWith("/")) file += "index.htm";
  return path.join(getDir, url.host, file);
}

const parsed = await readAll(true);
const raw = await readAll(false);
const ids = new Set();
const idPattern = /^<urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}>$/;
const datePattern = /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/;
for (let i = 0; i < parsed.length; i++) {
  const { record, bytes: payload } = parsed[i];
  const block = raw[i].bytes;
  const id = record.warcHeader("WARC-Record-ID");
  const idOk = idPattern.test(id) && !ids.has(id) && datePattern.test(record.warcHeader("WARC-Date"));
  ids.add(id);
  if (record.warcType !== "response") {
    console.log(`${record.warcType} ids=${idOk ? "ok" : "BAD"}`);
    continue;
  }
  const typeOk = record.warcHeader("Content-Type") === "application/http;msgtype=response";
  const blockOk = sha1Label(block) === record.warcHeader("WARC-Block-Digest");
  const payloadOk = sha1Label(payload) === record.warcHeader("WARC-Payload-Digest");
  const file = getFile(record.warcTargetURI);
  const got = existsSync(file) ? (Buffer.compare(readFileSync(file), Buffer.from(payload)) === 0 ? "same" : "differs") : "missing";
  console.log(`response ${record.warcTargetURI} ${record.httpHeaders.statusCode} ` +
              `block=${blockOk && typeOk ? "ok" : "BAD"} payload=${payloadOk ? "ok" : "BAD"} ` +
              `ids=${idOk ? "ok" : "BAD"} get=${got} bytes=${payload.length}`);
}
