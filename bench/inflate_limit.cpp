/* The extraction limit of this machine: the least work any unzipper must do
 * for one entry. Finds ENTRY through the central directory, then reads its
 * data in 64 KiB blocks, decrypts it (traditional PKWARE) when a password is
 * given, raw-inflates it with zlib (or copies it, when stored), computes the
 * CRC-32 over the output and writes the output in 64 KiB chunks to OUTPUT.
 * Exits 0 only when the CRC-32 matches the central directory's.
 *
 * usage: inflate_limit ARCHIVE ENTRY OUTPUT [PASSWORD] */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "upk4/zip_format.h"

using namespace zip;

enum { kChunk = 65536 };

static unsigned get16(const unsigned char *p) { return GetLe16(p); }
static uint32_t get32(const unsigned char *p) { return GetLe32(p); }

static int fail(const char *what) {
  fprintf(stderr, "inflate_limit: %s\n", what);
  return 1;
}

static int read_at(int fd, void *buf, size_t n, off_t offset) {
  size_t done = 0;
  while (done < n) {
    ssize_t got = pread(fd, (char *)buf + done, n - done, offset + (off_t)done);
    if (got <= 0) return -1;
    done += (size_t)got;
  }
  return 0;
}

static int write_all(int fd, const unsigned char *buf, size_t n) {
  while (n > 0) {
    ssize_t put = write(fd, buf, n);
    if (put <= 0) return -1;
    buf += put;
    n -= (size_t)put;
  }
  return 0;
}

/* Traditional PKWARE keys. */
static uint32_t keys[3];
static const z_crc_t *crc_table;

static void update_keys(unsigned char c) {
  keys[0] = crc_table[(keys[0] ^ c) & 0xff] ^ (keys[0] >> 8);
  keys[1] = (keys[1] + (keys[0] & 0xff)) * kKeyMultiplier + 1;
  keys[2] = crc_table[(keys[2] ^ (keys[1] >> 24)) & 0xff] ^ (keys[2] >> 8);
}

/* The keys live in registers for the length of a block. */
static void decrypt(unsigned char *buf, size_t n) {
  const z_crc_t *table = crc_table;
  uint32_t k0 = keys[0], k1 = keys[1], k2 = keys[2];
  for (size_t i = 0; i < n; i++) {
    const unsigned t = (k2 & 0xffff) | 2;
    const unsigned char c = buf[i] ^ (unsigned char)((t * (t ^ 1)) >> 8);
    buf[i] = c;
    k0 = table[(k0 ^ c) & 0xff] ^ (k0 >> 8);
    k1 = (k1 + (k0 & 0xff)) * kKeyMultiplier + 1;
    k2 = table[(k2 ^ (k1 >> 24)) & 0xff] ^ (k2 >> 8);
  }
  keys[0] = k0, keys[1] = k1, keys[2] = k2;
}

struct entry {
  uint32_t crc, compressed, uncompressed;
  unsigned method, flags, time;
  off_t data;
};

/* Locates ENTRY's data through the end record and the central directory. */
static int find_entry(int fd, const char *name, struct entry *e) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size < kEndRecordSize) return fail("not an archive");
  const off_t tailSize = st.st_size < kEndRecordReach ? st.st_size : kEndRecordReach;
  unsigned char *tail = (unsigned char *)malloc((size_t)tailSize);
  if (!tail || read_at(fd, tail, (size_t)tailSize, st.st_size - tailSize) != 0)
    return fail("cannot read the archive's end");
  off_t end = -1;
  for (off_t i = tailSize - kEndRecordSize; i >= 0; i--) {
    if (get32(tail + i) == kEndRecordSignature) {
      end = i;
      break;
    }
  }
  if (end < 0) return fail("no end record");
  const uint32_t dirSize = get32(tail + end + kEndDirectorySizeAt),
                 dirOffset = get32(tail + end + kEndDirectorySizeAt + 4);
  const off_t endPos = st.st_size - tailSize + end;
  /* The directory ends at the end record, or at the Zip64 end record and
   * its locator that streaming writers put before it. */
  off_t dirEnd = endPos;
  const off_t zip64Tail = kZip64LocatorSize + kZip64EndRecordSize;
  if (end >= zip64Tail && get32(tail + end - kZip64LocatorSize) == kZip64LocatorSignature &&
      get32(tail + end - zip64Tail) == kZip64EndRecordSignature)
    dirEnd = endPos - zip64Tail;
  free(tail);
  /* Bytes before the archive (a self-extractor's prefix) shift every offset. */
  const off_t prefix = dirEnd - (off_t)dirSize - (off_t)dirOffset;
  if (prefix < 0) return fail("bad central directory position");

  unsigned char *dir = (unsigned char *)malloc(dirSize ? dirSize : 1);
  if (!dir || read_at(fd, dir, dirSize, prefix + dirOffset) != 0)
    return fail("cannot read the central directory");
  const size_t nameLen = strlen(name);
  for (uint32_t p = 0; p + kCentralHeaderSize <= dirSize;) {
    const unsigned char *h = dir + p;
    if (get32(h) != kCentralHeaderSignature) return fail("bad central header");
    const unsigned n = get16(h + kCentralNameLengthAt), x = get16(h + kCentralNameLengthAt + 2),
                   c = get16(h + kCentralNameLengthAt + 4);
    if (n == nameLen && p + kCentralHeaderSize + n <= dirSize &&
        memcmp(h + kCentralHeaderSize, name, n) == 0) {
      ByteCursor fields(h, kCentralHeaderSize);
      fields.Skip(kSignatureSize + 4);  // the signature and both versions
      e->flags = fields.U16();
      e->method = fields.U16();
      e->time = fields.U16();
      fields.U16();  // date
      e->crc = fields.U32();
      e->compressed = fields.U32();
      e->uncompressed = fields.U32();
      const off_t local = prefix + get32(h + kCentralLocalOffsetAt);
      unsigned char lh[kLocalHeaderSize];
      if (read_at(fd, lh, sizeof lh, local) != 0 || get32(lh) != kLocalHeaderSignature)
        return fail("bad local header");
      e->data = local + kLocalHeaderSize + get16(lh + kLocalNameLengthAt) + get16(lh + kLocalNameLengthAt + 2);
      free(dir);
      return 0;
    }
    p += kCentralHeaderSize + n + x + c;
  }
  return fail("no such entry");
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: inflate_limit ARCHIVE ENTRY OUTPUT [PASSWORD]\n");
    return 2;
  }
  const int in = open(argv[1], O_RDONLY);
  if (in < 0) return fail("cannot open the archive");
  struct entry e;
  if (find_entry(in, argv[2], &e) != 0) return 1;
  if (e.method != kMethodStored && e.method != kMethodDeflated) return fail("method is neither stored nor deflated");

  static unsigned char input[kChunk], output[kChunk];
  off_t pos = e.data;
  uint32_t left = e.compressed;
  crc_table = get_crc_table();
  if (e.flags & kFlagEncrypted) {
    if (argc < 5) return fail("entry is encrypted: give the password");
    keys[0] = kInitialKeys[0], keys[1] = kInitialKeys[1], keys[2] = kInitialKeys[2];
    for (const char *p = argv[4]; *p; p++) update_keys((unsigned char)*p);
    unsigned char header[kEncryptionHeaderSize];
    if (left < kEncryptionHeaderSize || read_at(in, header, kEncryptionHeaderSize, pos) != 0)
      return fail("short encryption header");
    decrypt(header, kEncryptionHeaderSize);
    const unsigned check = (e.flags & kFlagDataDescriptor) ? (e.time >> 8) : (e.crc >> 24);
    if (header[kEncryptionHeaderSize - 1] != check) return fail("wrong password");
    pos += kEncryptionHeaderSize, left -= kEncryptionHeaderSize;
  }

  const int out = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return fail("cannot create the output");
  z_stream z;
  memset(&z, 0, sizeof z);
  if (e.method == kMethodDeflated && inflateInit2(&z, -MAX_WBITS) != Z_OK) return fail("inflateInit2");
  uLong crc = crc32(0L, Z_NULL, 0);
  uint64_t total = 0;
  if (e.method == kMethodStored) {
    while (left > 0) {
      const ssize_t got = pread(in, input, left < kChunk ? left : kChunk, pos);
      if (got <= 0) return fail("read error");
      pos += got, left -= (uint32_t)got;
      if (e.flags & kFlagEncrypted) decrypt(input, (size_t)got);
      crc = crc32(crc, input, (uInt)got);
      if (write_all(out, input, (size_t)got) != 0) return fail("write error");
      total += (uint64_t)got;
    }
  } else {
    z.avail_out = kChunk;
    z.next_out = output;
    for (int done = 0; !done;) {
      if (z.avail_in == 0 && left > 0) {
        const ssize_t got = pread(in, input, left < kChunk ? left : kChunk, pos);
        if (got <= 0) return fail("read error");
        pos += got, left -= (uint32_t)got;
        if (e.flags & kFlagEncrypted) decrypt(input, (size_t)got);
        z.next_in = input;
        z.avail_in = (uInt)got;
      }
      const int r = inflate(&z, Z_NO_FLUSH);
      if (r == Z_STREAM_END) done = 1;
      else if (r == Z_BUF_ERROR && z.avail_in == 0 && left == 0) return fail("data ends early");
      else if (r != Z_OK && r != Z_BUF_ERROR) return fail("inflate error");
      if (z.avail_out == 0 || done) {
        const size_t n = kChunk - z.avail_out;
        crc = crc32(crc, output, (uInt)n);
        if (write_all(out, output, n) != 0) return fail("write error");
        total += n;
        z.next_out = output;
        z.avail_out = kChunk;
      }
    }
  }
  if (e.method == kMethodDeflated) inflateEnd(&z);
  if (close(out) != 0) return fail("close error");
  close(in);
  if (total != e.uncompressed) return fail("size mismatch");
  if (crc != e.crc) return fail("CRC-32 mismatch");
  return 0;
}
