/* A caller of the installed library: extracts "hello.txt" from the archive
 * ARGV[1] into the directory ARGV[2] through the four exports. */
#include <stdio.h>
#include <upk4.h>

/* Windows-form UTF-16 path from a POSIX one. */
static void widen(const char* in, upk4_char16* out) {
  for (; *in; ++in) *out++ = (upk4_char16)(*in == '/' ? '\\' : *in);
  *out = 0;
}

int main(int argc, char** argv) {
  upk4_char16 archive[1024], entry[64], dest[1024], none[1] = {0};
  if (argc != 3) return 2;
  widen(argv[1], archive);
  widen("hello.txt", entry);
  widen(argv[2], dest);
  ArchiveHandle* handle = UPK4_Open(archive, 0, 0, none, UPK4_OPEN_PLAIN);
  if (!handle) return 3;
  int32_t result = UPK4_Unpack(handle, entry, dest, NULL, 0);
  UPK4_Close(handle);
  printf("UPK4_Unpack: %d\n", (int)result);
  return result == 0 ? 0 : 4;
}
