/* Writes SIZE bytes of text-like data to standard output: words from a small
 * pseudo-random vocabulary, skewed towards the common ones, with numbers
 * mixed in and lines of about a dozen words. With the default vocabulary
 * zlib level 6 compresses it about 3:1, like source code or logs.
 *
 * usage: gen_text SIZE [SEED] [VOCABULARY] [NUMBER_PERCENT]
 * The output depends only on the arguments. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint64_t state;

static uint64_t next_random(void) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: gen_text SIZE [SEED] [VOCABULARY] [NUMBER_PERCENT]\n");
    return 2;
  }
  const unsigned long long total = strtoull(argv[1], NULL, 10);
  state = 88172645463325252ull ^ (argc > 2 ? strtoull(argv[2], NULL, 10) : 0);
  if (state == 0) state = 1;
  const unsigned vocabulary = argc > 3 ? (unsigned)atoi(argv[3]) : 500;
  const unsigned numberPercent = argc > 4 ? (unsigned)atoi(argv[4]) : 8;
  if (vocabulary == 0) return 2;

  char (*words)[16] = calloc(vocabulary, sizeof *words);
  if (!words) return 1;
  for (unsigned i = 0; i < vocabulary; i++) {
    const unsigned len = 2 + next_random() % 9;
    for (unsigned j = 0; j < len; j++) words[i][j] = (char)('a' + next_random() % 26);
  }

  static char buffer[1 << 16];
  size_t used = 0;
  unsigned long long written = 0;
  unsigned column = 0;
  while (written < total) {
    char token[24];
    size_t len;
    const uint64_t r = next_random();
    if (r % 100 < numberPercent) {
      len = (size_t)sprintf(token, "%u", (unsigned)((r >> 8) % 100000));
    } else {
      /* The smaller of two draws: common words are more common. */
      const uint64_t a = (r >> 8) % vocabulary, b = (r >> 24) % vocabulary;
      const char *w = words[a < b ? a : b];
      len = strlen(w);
      memcpy(token, w, len);
    }
    ++column;
    if (column >= 12 && (r >> 40) % 4 == 0) {
      token[len++] = '\n';
      column = 0;
    } else {
      token[len++] = ' ';
    }
    if (used + len > sizeof buffer) {
      /* Cut the last block to the exact size asked for. */
      size_t n = used;
      if (written + n > total) n = (size_t)(total - written);
      if (fwrite(buffer, 1, n, stdout) != n) return 1;
      written += n;
      used = 0;
    }
    memcpy(buffer + used, token, len);
    used += len;
  }
  free(words);
  return fflush(stdout) == 0 ? 0 : 1;
}
