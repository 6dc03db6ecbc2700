// The hex decoder and the decipherment on arbitrary text and keys. The first
// input byte splits the rest into a key and a hex text. Checks: nothing is
// read or written beyond the stated sizes (the sanitizers), the output is
// terminated where its size rule says, the key state is erased afterwards,
// and upper-case hex of any bytes decodes back to those bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/blowfish.h"

static void checkStateErased() {
    const unsigned char *state = reinterpret_cast<const unsigned char *>(&g_blowfishState);
    for (size_t i = 0; i < sizeof g_blowfishState; i++)
        if (state[i] != 0) abort();
}

static void checkDecipher(const std::string &hex, const std::string &key) {
    size_t blocks = (hex.size() + 15) / 16;
    size_t room = 8 * blocks + 1;
    char *out = static_cast<char *>(malloc(room));  // exactly the room the caller owes
    memset(out, 0x5A, room);
    if (decryptHexText(hex.c_str(), out, key.c_str()) != 1) abort();
    if (out[8 * blocks] != '\0') abort();
    checkStateErased();
    free(out);
}

static void checkHexRoundTrip(const uint8_t *data, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = 0; i < size; i++) {
        hex += digits[data[i] >> 4];
        hex += digits[data[i] & 0x0F];
    }
    unsigned char *decoded = static_cast<unsigned char *>(malloc(size > 0 ? size : 1));
    hexToBytes(hex.data(), static_cast<int>(hex.size()), decoded);
    if (size > 0 && memcmp(decoded, data, size) != 0) abort();
    free(decoded);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    size_t keyLength = data[0] % 80;  // past 72 bytes only the first 72 count
    const char *rest = reinterpret_cast<const char *>(data + 1);
    size_t restSize = size - 1;
    if (keyLength > restSize) keyLength = restSize;
    // Both are NUL-terminated texts for the decoder: a NUL inside ends them.
    std::string key(rest, strnlen(rest, keyLength));
    std::string hex(rest + keyLength, strnlen(rest + keyLength, restSize - keyLength));
    checkDecipher(hex, key);
    checkHexRoundTrip(data + 1, restSize);

    // An odd count decodes count / 2 bytes and reads no further.
    char *text = static_cast<char *>(malloc(restSize > 0 ? restSize : 1));
    if (restSize > 0) memcpy(text, rest, restSize);
    unsigned char *out = static_cast<unsigned char *>(malloc(restSize / 2 + 1));
    hexToBytes(text, static_cast<int>(restSize), out);
    free(out);
    free(text);
    return 0;
}
