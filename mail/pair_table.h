// Two output characters for every 12 bits of input: half the lookups of one
// table per character. Shared by the 6-bit codecs (base64, uuencode).
#pragma once

struct TPairTable {
  char pair[4096][2];
  constexpr explicit TPairTable(const char* alphabet) : pair() {
    for (int i = 0; i < 4096; ++i) {
      pair[i][0] = alphabet[i >> 6];
      pair[i][1] = alphabet[i & 63];
    }
  }
};
