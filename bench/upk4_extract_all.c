/* Extracts every entry named in a list file through libupk4's exports, with
 * one open handle, the way a caller such as Setup unpacks many files: the
 * library is loaded by path and bound by name, each entry lands in DESTDIR
 * under its own directories. Names ending in "/" (directory entries) are
 * skipped: their files create them.
 *
 * usage: upk4_extract_all LIBRARY ARCHIVE LISTFILE DESTDIR */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "upk4.h"

enum { kMaxPath = 4096 };

/* UTF-8 to null-terminated UTF-16, "/" turned into "\" as the library's
 * callers present paths. 0 on a malformed or too long string. */
static int to_wide(const char *s, upk4_char16 *out, size_t cap) {
  size_t n = 0;
  const unsigned char *p = (const unsigned char *)s;
  while (*p) {
    unsigned long c;
    int extra;
    if (*p < 0x80) c = *p, extra = 0;
    else if ((*p & 0xe0) == 0xc0) c = *p & 0x1f, extra = 1;
    else if ((*p & 0xf0) == 0xe0) c = *p & 0x0f, extra = 2;
    else if ((*p & 0xf8) == 0xf0) c = *p & 0x07, extra = 3;
    else return 0;
    p++;
    for (int i = 0; i < extra; i++, p++) {
      if ((*p & 0xc0) != 0x80) return 0;
      c = c << 6 | (*p & 0x3f);
    }
    if (n + 3 > cap) return 0;
    if (c >= 0x10000) {
      c -= 0x10000;
      out[n++] = (upk4_char16)(0xd800 + (c >> 10));
      out[n++] = (upk4_char16)(0xdc00 + (c & 0x3ff));
    } else {
      out[n++] = (upk4_char16)(c == '/' ? '\\' : c);
    }
  }
  out[n] = 0;
  return 1;
}

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: upk4_extract_all LIBRARY ARCHIVE LISTFILE DESTDIR\n");
    return 2;
  }
  void *lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "upk4_extract_all: %s\n", dlerror());
    return 1;
  }
  UPK4_Open_t open_archive = (UPK4_Open_t)dlsym(lib, "UPK4_Open");
  UPK4_Unpack_t unpack = (UPK4_Unpack_t)dlsym(lib, "UPK4_Unpack");
  UPK4_Close_t close_archive = (UPK4_Close_t)dlsym(lib, "UPK4_Close");
  if (!open_archive || !unpack || !close_archive) {
    fprintf(stderr, "upk4_extract_all: the library lacks an export\n");
    return 1;
  }
  FILE *list = fopen(argv[3], "r");
  if (!list) {
    perror(argv[3]);
    return 1;
  }

  static upk4_char16 archive[kMaxPath], entry[kMaxPath], dest[kMaxPath], none[1];
  if (!to_wide(argv[2], archive, kMaxPath)) return 1;
  ArchiveHandle *handle = open_archive(archive, 0, 0, none, UPK4_OPEN_PLAIN);
  if (!handle) {
    fprintf(stderr, "upk4_extract_all: cannot open %s\n", argv[2]);
    return 1;
  }

  static char line[kMaxPath], destPath[2 * kMaxPath];
  int failures = 0;
  unsigned count = 0;
  while (fgets(line, sizeof line, list)) {
    line[strcspn(line, "\r\n")] = 0;
    const size_t len = strlen(line);
    if (len == 0 || line[len - 1] == '/') continue;
    /* The entry's directories become part of the destination directory. */
    const char *slash = strrchr(line, '/');
    if (slash) snprintf(destPath, sizeof destPath, "%s/%.*s", argv[4], (int)(slash - line), line);
    else snprintf(destPath, sizeof destPath, "%s", argv[4]);
    if (!to_wide(line, entry, kMaxPath) || !to_wide(destPath, dest, kMaxPath)) {
      fprintf(stderr, "upk4_extract_all: name too long or not UTF-8: %s\n", line);
      failures++;
      continue;
    }
    const int32_t result = unpack(handle, entry, dest, NULL, 0);
    if (result != 0) {
      fprintf(stderr, "upk4_extract_all: %s: result %d\n", line, (int)result);
      failures++;
    }
    count++;
  }
  fclose(list);
  if (close_archive(handle) != 0) {
    fprintf(stderr, "upk4_extract_all: close reported an error\n");
    failures++;
  }
  if (count == 0) fprintf(stderr, "upk4_extract_all: the list names no file\n");
  return failures == 0 && count > 0 ? 0 : 1;
}
