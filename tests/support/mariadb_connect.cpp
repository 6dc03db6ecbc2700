// Connects the database layer to the private server; a file of its own so
// that only the tests that connect link the database code.
#include "db/db.h"
#include "tests/support/mariadb.h"

int PrivateMariaDb::connect(const std::string &dbSystem) {
    DbSetSystem(dbSystem.c_str());
    return DbConnect(user_.c_str(), password_.c_str(), dsn_.c_str());
}
