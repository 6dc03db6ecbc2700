// Blowfish (16 rounds, 64-bit blocks) with the published initial tables, and
// the hex codec of the enciphered credential values.
//
// Byte order of the stored values: each 8-byte block is read as two 32-bit
// halves in little-endian order (bytes 0..3 the left half, byte 0 least
// significant). Stored values depend on it.
#pragma once

#include <cstddef>
#include <cstdint>

struct BlowfishState {
    uint32_t P[18];
    uint32_t S[4][256];
};
static_assert(sizeof(BlowfishState) == 4168, "P-array and four S-boxes, 1042 words");

// The one key state of the program; all zero bytes outside a decryption.
extern BlowfishState g_blowfishState;

// The published key schedule over keyLength bytes of key.
void setKey(BlowfishState *state, const unsigned char *key, int keyLength);

void encipherBlock(const BlowfishState *state, uint32_t *left, uint32_t *right);
void decipherBlock(const BlowfishState *state, uint32_t *left, uint32_t *right);

// Decodes count / 2 bytes from the first count characters of text. Digit
// value: code - 55 for 'A'..'F', code - 48 for every other character, in 8
// bits; lower-case letters therefore decode into wrong bytes without error.
void hexToBytes(const char *text, int count, unsigned char *out);

// Deciphers a hex text under key into out, which has room for
// 8 * ceil(n / 16) + 1 bytes (n = strlen(hexText)), and terminates it. Erases
// g_blowfishState before it returns. Always returns 1.
int decryptHexText(const char *hexText, char *out, const char *key);

// Enciphers plain (NUL-padded to whole 8-byte blocks) into upper-case hex.
// Returns 1, or 0 when out (outSize bytes) is too small.
int encryptToHex(const char *plain, char *out, size_t outSize, const char *key);
