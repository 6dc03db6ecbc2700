// Blowfish block operations, its key schedule, and the hex codec that maps the
// stored credential values onto blocks.
#include "config/blowfish.h"

#include <cstring>

#include "config/blowfish_tables.h"

BlowfishState g_blowfishState;

const size_t BLOCK_BYTES = 8, BLOCK_DIGITS = 16;
const int ROUNDS = 16;

static uint32_t roundF(const BlowfishState *state, uint32_t x) {
    uint32_t a = (x >> 24) & 0xFF, b = (x >> 16) & 0xFF, c = (x >> 8) & 0xFF, d = x & 0xFF;
    return ((state->S[0][a] + state->S[1][b]) ^ state->S[2][c]) + state->S[3][d];
}

// Sixteen Feistel rounds; deciphering runs the P-array backwards. The loop's
// last exchange is undone before the output whitening.
static void runRounds(const BlowfishState *state, uint32_t *left, uint32_t *right, int backwards) {
    uint32_t l = *left, r = *right;
    for (int round = 0; round < ROUNDS; round++) {
        l ^= state->P[backwards ? ROUNDS + 1 - round : round];
        r ^= roundF(state, l);
        uint32_t t = l;
        l = r;
        r = t;
    }
    uint32_t t = l;
    l = r;
    r = t;
    r ^= state->P[backwards ? 1 : ROUNDS];
    l ^= state->P[backwards ? 0 : ROUNDS + 1];
    *left = l;
    *right = r;
}

void encipherBlock(const BlowfishState *state, uint32_t *left, uint32_t *right) {
    runRounds(state, left, right, 0);
}

void decipherBlock(const BlowfishState *state, uint32_t *left, uint32_t *right) {
    runRounds(state, left, right, 1);
}

// The next four key bytes, most significant first, the key repeated
// cyclically. An empty key reads its terminator every time, so every word is 0.
static uint32_t nextKeyWord(const unsigned char *key, int keyLength, int *pos) {
    uint32_t word = 0;
    for (int k = 0; k < 4; k++) {
        uint32_t byte = 0;
        if (keyLength > 0) {
            byte = key[*pos];
            *pos = (*pos + 1) % keyLength;
        }
        word = (word << 8) | byte;
    }
    return word;
}

void setKey(BlowfishState *state, const unsigned char *key, int keyLength) {
    memcpy(state, &g_blowfishInitial, sizeof *state);
    int pos = 0;
    for (int i = 0; i < 18; i++) state->P[i] ^= nextKeyWord(key, keyLength, &pos);

    uint32_t left = 0, right = 0;
    for (int i = 0; i < 18; i += 2) {
        encipherBlock(state, &left, &right);
        state->P[i] = left;
        state->P[i + 1] = right;
    }
    for (int box = 0; box < 4; box++) {
        for (int j = 0; j < 256; j += 2) {
            encipherBlock(state, &left, &right);
            state->S[box][j] = left;
            state->S[box][j + 1] = right;
        }
    }
}

// Stored values put byte 0 of each half in the least significant position.
static uint32_t loadHalf(const unsigned char *b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

static void storeHalf(uint32_t v, unsigned char *b) {
    for (int k = 0; k < 4; k++) b[k] = static_cast<unsigned char>(v >> (8 * k));
}

static unsigned char hexDigitValue(char c) {
    unsigned char code = static_cast<unsigned char>(c);
    return static_cast<unsigned char>(c >= 'A' && c <= 'F' ? code - 55 : code - 48);
}

void hexToBytes(const char *text, int count, unsigned char *out) {
    for (int i = 0; i < count / 2; i++) {
        unsigned hi = hexDigitValue(text[2 * i]), lo = hexDigitValue(text[2 * i + 1]);
        out[i] = static_cast<unsigned char>(16 * hi + lo);
    }
}

static void setKeyText(const char *key) {
    setKey(&g_blowfishState, reinterpret_cast<const unsigned char *>(key),
           static_cast<int>(strlen(key)));
}

int decryptHexText(const char *hexText, char *out, const char *key) {
    setKeyText(key);
    size_t length = strlen(hexText);
    size_t p = 0;
    for (; p < length; p += BLOCK_DIGITS) {
        // A short last group is completed with '0' digits in a local copy, so
        // nothing past the text is read and the output room rule still holds.
        char group[BLOCK_DIGITS];
        memset(group, '0', sizeof group);
        size_t take = length - p < BLOCK_DIGITS ? length - p : BLOCK_DIGITS;
        memcpy(group, hexText + p, take);

        unsigned char block[BLOCK_BYTES];
        hexToBytes(group, BLOCK_DIGITS, block);
        uint32_t left = loadHalf(block), right = loadHalf(block + 4);
        decipherBlock(&g_blowfishState, &left, &right);
        storeHalf(left, block);
        storeHalf(right, block + 4);
        memcpy(out + p / 2, block, BLOCK_BYTES);
    }
    out[p / 2] = '\0';
    memset(&g_blowfishState, 0, sizeof g_blowfishState);
    return 1;
}

static void writeHexByte(unsigned char byte, char *out) {
    static const char digits[] = "0123456789ABCDEF";
    out[0] = digits[byte >> 4];
    out[1] = digits[byte & 0x0F];
}

int encryptToHex(const char *plain, char *out, size_t outSize, const char *key) {
    size_t length = strlen(plain);
    size_t blocks = (length + BLOCK_BYTES - 1) / BLOCK_BYTES;
    if (outSize < blocks * BLOCK_DIGITS + 1) {
        if (outSize > 0) out[0] = '\0';
        return 0;
    }
    setKeyText(key);
    for (size_t n = 0; n < blocks; n++) {
        unsigned char block[BLOCK_BYTES] = {0};
        size_t start = n * BLOCK_BYTES;
        size_t take = length - start < BLOCK_BYTES ? length - start : BLOCK_BYTES;
        memcpy(block, plain + start, take);  // the rest stays NUL padding
        uint32_t left = loadHalf(block), right = loadHalf(block + 4);
        encipherBlock(&g_blowfishState, &left, &right);
        storeHalf(left, block);
        storeHalf(right, block + 4);
        for (size_t k = 0; k < BLOCK_BYTES; k++)
            writeHexByte(block[k], out + n * BLOCK_DIGITS + 2 * k);
    }
    out[blocks * BLOCK_DIGITS] = '\0';
    memset(&g_blowfishState, 0, sizeof g_blowfishState);
    return 1;
}
