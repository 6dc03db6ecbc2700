// A private MariaDB server for one test binary, started under a fresh
// temporary directory through scripts/mariadb-private and reached by the
// database layer through unixODBC (data source KVSDB, login kvs). The server
// stops with this object, and also when the test process dies (a watcher in
// the script shuts it down).
#pragma once

#include <string>

class PrivateMariaDb {
   public:
    PrivateMariaDb();
    ~PrivateMariaDb();
    PrivateMariaDb(const PrivateMariaDb &) = delete;
    PrivateMariaDb &operator=(const PrivateMariaDb &) = delete;

    // Starts a private server under a fresh temp dir via scripts/mariadb-private
    // (found via $KVS_SOURCE_DIR), loads sql/mysql/kvsystem.sql, and sets
    // ODBCINI/ODBCSYSINI in this process's environment (setenv), so DbConnect
    // and child processes find the data source.
    bool start();
    void stop();         // stops the server and removes its directory; also done by the destructor
    bool stopServer();   // stops the same instance, data kept
    bool startServer();  // starts it again (same directory, same port when free)

    bool exec(const std::string &sql);          // statements as root via the mariadb client
    std::string query(const std::string &sql);  // rows as lines, columns tab-separated (-N -B)

    const std::string &dsn() const { return dsn_; }
    const std::string &user() const { return user_; }
    const std::string &password() const { return password_; }
    const std::string &dir() const { return dir_; }  // the instance dir (odbc.ini, env)

    // Writes a credentials file for this server (LOGIN, PASS, DB_SYSTEM,
    // DATABASE), the values enciphered as the service expects them.
    bool writeCredentials(const std::string &path, const std::string &dbSystem = "MYSQL",
                          const std::string &passwordOverride = "") const;

    // Creates schema S with a PERSONALSTAMM of `persons` rows with PSTBSVPZM = 1
    // and inserts a tenant row into Kvs112Mnd (MndKon 0, MndNa1 "Mandant S",
    // MndLiz/MndNum as given).
    bool addTenant(const std::string &schema, int persons, const std::string &liz = "A1",
                   const std::string &num = "07");

    // Connects the db layer: hands it dbSystem and calls DbConnect with this
    // server's login, password and data source. Returns DbConnect's result.
    int connect(const std::string &dbSystem = "MYSQL");

   private:
    int run(const std::string &args, std::string *output) const;
    bool runSql(const std::string &sql, std::string *output);

    std::string script_;
    std::string sourceDir_;
    std::string dir_;
    std::string dsn_;
    std::string user_;
    std::string password_;
    bool running_ = false;
};
