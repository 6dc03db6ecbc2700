#include "tests/support/mariadb.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/tempdir.h"

namespace {

// The source tree: $KVS_SOURCE_DIR under ctest, otherwise derived from the
// path of this file (absolute in the build).
std::string findSourceDir() {
    const char *env = std::getenv("KVS_SOURCE_DIR");
    if (env != nullptr && env[0] != '\0') return env;
    std::string here = __FILE__;
    const std::string tail = "/tests/support/mariadb.cpp";
    if (here.size() > tail.size() &&
        here.compare(here.size() - tail.size(), tail.size(), tail) == 0)
        return here.substr(0, here.size() - tail.size());
    return ".";
}

// Single-quotes a word for sh.
std::string shellQuote(const std::string &word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Read from /proc rather than through an OS header: tests keep to the
// platform rule too.
std::string ownPid() {
    std::ifstream in("/proc/self/stat");
    std::string pid;
    in >> pid;
    return pid;
}

std::string replaceAll(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string sqlText(const std::string &value) {
    return "'" + replaceAll(value, "'", "''") + "'";
}

}  // namespace

PrivateMariaDb::PrivateMariaDb() {
    sourceDir_ = findSourceDir();
    script_ = sourceDir_ + "/scripts/mariadb-private";
    const char *pw = std::getenv("KVS_DB_PASSWORD");
    password_ = pw != nullptr && pw[0] != '\0' ? pw : "kvs-test-pw";
    user_ = "kvs";
    dsn_ = "KVSDB";
}

PrivateMariaDb::~PrivateMariaDb() {
    stop();
}

int PrivateMariaDb::run(const std::string &args, std::string *output) const {
    std::string command = "KVS_DB_OWNER_PID=" + ownPid() +
                          " KVS_DB_PASSWORD=" + shellQuote(password_) + " KVS_DB_USER=" + user_ +
                          " KVS_DB_DSN=" + dsn_ + " " + shellQuote(script_) + " " + args;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        if (output != nullptr) output->append(buffer, got);
    int status = pclose(pipe);
    return status;
}

bool PrivateMariaDb::start() {
    if (running_) return true;
    char pattern[] = "/tmp/kvs-db-XXXXXX";
    char *made = mkdtemp(pattern);
    if (made == nullptr) return false;
    dir_ = made;
    if (!startServer()) return false;
    setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    std::string out;
    if (run("load " + shellQuote(dir_) + " " + shellQuote(sourceDir_ + "/sql/mysql/kvsystem.sql"),
            &out) != 0) {
        std::fprintf(stderr, "PrivateMariaDb: loading kvsystem.sql failed: %s\n", out.c_str());
        return false;
    }
    return true;
}

void PrivateMariaDb::stop() {
    if (dir_.empty()) return;
    stopServer();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    dir_.clear();
}

bool PrivateMariaDb::stopServer() {
    if (dir_.empty()) return false;
    running_ = false;
    return run("stop " + shellQuote(dir_), nullptr) == 0;
}

bool PrivateMariaDb::startServer() {
    if (dir_.empty()) return false;
    running_ = run("start " + shellQuote(dir_), nullptr) == 0;
    if (!running_)
        std::fprintf(stderr, "PrivateMariaDb: the server did not start (%s)\n", dir_.c_str());
    return running_;
}

bool PrivateMariaDb::runSql(const std::string &sql, std::string *output) {
    if (dir_.empty()) return false;
    std::string file = dir_ + "/statement.sql";
    if (!writeFile(file, sql)) return false;
    return run("load " + shellQuote(dir_) + " " + shellQuote(file), output) == 0;
}

bool PrivateMariaDb::exec(const std::string &sql) {
    return runSql(sql, nullptr);
}

std::string PrivateMariaDb::query(const std::string &sql) {
    std::string out;
    runSql(sql, &out);
    return out;
}

bool PrivateMariaDb::addTenant(const std::string &schema, int persons, const std::string &liz,
                               const std::string &num) {
    std::string tenant = readFile(sourceDir_ + "/sql/mysql/tenant.sql");
    if (tenant.empty()) return false;
    std::string sql = replaceAll(tenant, "@SCHEMA@", schema);
    if (persons > 0) {
        sql += "SET SESSION max_recursive_iterations = " + std::to_string(persons + 10) + ";\n";
        sql += "INSERT INTO " + schema +
               ".PERSONALSTAMM (PSTNAM, PSTBSVPZM) "
               "WITH RECURSIVE seq(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM seq WHERE n < " +
               std::to_string(persons) + ") SELECT CONCAT('Person ', n), 1 FROM seq;\n";
    }
    sql += "INSERT INTO KvSystem.Kvs112Mnd (MndSch, MndLiz, MndNum, MndKon, MndNa1) VALUES (" +
           sqlText(schema) + ", " + sqlText(liz) + ", " + sqlText(num) + ", 0, " +
           sqlText("Mandant " + schema) + ");\n";
    return exec(sql);
}
