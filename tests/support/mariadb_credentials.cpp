// The credentials file of the private server, enciphered as the service
// reads it; a file of its own so that only the tests that write one link
// the credentials code.
#include <string>

#include "config/blowfish.h"
#include "config/credentials.h"
#include "tests/support/mariadb.h"
#include "tests/support/tempdir.h"

namespace {

bool appendRecord(std::string *file, int number, const char *key, const std::string &value) {
    char hex[512];
    if (encryptToHex(value.c_str(), hex, sizeof hex, CREDENTIALS_KEY) != 1) return false;
    std::string n = std::to_string(number);
    *file += n + ";" + key + ";\n" + n + ";" + key + ";" + hex + "\n";
    return true;
}

}  // namespace

bool PrivateMariaDb::writeCredentials(const std::string &path, const std::string &dbSystem,
                                      const std::string &passwordOverride) const {
    std::string file;
    const std::string &pass = passwordOverride.empty() ? password_ : passwordOverride;
    if (!appendRecord(&file, 1, "LOGIN", user_) || !appendRecord(&file, 2, "PASS", pass) ||
        !appendRecord(&file, 3, "DB_SYSTEM", dbSystem) || !appendRecord(&file, 4, "DATABASE", dsn_))
        return false;
    return writeFile(path, file);
}
