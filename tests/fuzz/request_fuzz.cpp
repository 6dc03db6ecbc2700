// The request parser on arbitrary bytes, as one receive delivers them (at
// most 512). A well-formed result must keep its fields within their sizes
// and build the key from the schema.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "service/request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > REQUEST_BUFFER_SIZE) return 0;  // one receive never delivers more
    // An exact-size copy, so a read past the received bytes is caught.
    char *bytes = static_cast<char *>(malloc(size > 0 ? size : 1));
    if (size > 0) memcpy(bytes, data, size);

    ParamRecord param;
    memset(&param, 0x5A, sizeof param);  // the parser must terminate what it fills
    if (parseRequest(&param, bytes, static_cast<int>(size))) {
        size_t schema = strnlen(param.Schema, sizeof param.Schema);
        size_t user = strnlen(param.User, sizeof param.User);
        if (schema > PARAM_SCHEMA_CHARS || user > PARAM_USER_CHARS) abort();
        if (strncmp(param.User, param.Schema, schema) != 0 || param.User[schema] != '#') abort();
    }
    free(bytes);
    return 0;
}
