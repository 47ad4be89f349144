// The loopback S3-compatible server of the publish tests: one bucket, one key pair, every
// request's signature checked. Prints "listening PORT" once it accepts; ends on SIGTERM.
//   node serve.js PORT FOLDER BUCKET ACCESS_KEY SECRET
'use strict';

const path = require('path');
const S3rver = require('@20minutes/s3rver');
const account = require('@20minutes/s3rver/lib/models/account');

const [port, folder, bucket, accessKey, secret] = process.argv.slice(2);
if (!secret) {
  process.stderr.write('usage: node serve.js PORT FOLDER BUCKET ACCESS_KEY SECRET\n');
  process.exit(2);
}
// Only the given key pair signs; the package's built-in pair is refused.
account.DUMMY_ACCOUNT.revokeAccessKey('S3RVER');
account.DUMMY_ACCOUNT.createKeyPair(accessKey, secret);

const server = new S3rver({
  address: '127.0.0.1',
  port: Number(port),
  silent: true,
  directory: path.resolve(folder),
  // "BUCKET.s3.localhost" names the bucket in its host (virtual-hosted addresses).
  serviceEndpoint: 'localhost',
  configureBuckets: [{ name: bucket }],
});
// S3 stores a PUT whole or not at all: a body cut short (the client stopped) leaves no object.
const store = server.store;
const putObject = store.putObject.bind(store);
store.putObject = async (object) => {
  if (Buffer.isBuffer(object.content)) return putObject(object);
  let complete = false;
  object.content.on('end', () => {
    complete = true;
  });
  try {
    const stored = await putObject(object);
    if (complete) return stored;
  } catch (error) {
    // removed below
  }
  await store.deleteObject(object.bucket, object.key).catch(() => {});
  throw new Error('the request body ended early');
};
server.run((error, address) => {
  if (error) {
    process.stderr.write(`s3rver: ${error.message}\n`);
    process.exit(1);
  }
  process.stdout.write(`listening ${address.port}\n`);
});
const stop = () => server.close(() => process.exit(0));
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
