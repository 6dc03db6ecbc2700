// Stand-in until the credentials reader lands.
#include "config/credentials.h"
#include "db/db.h"
Credentials g_credentials;
CredentialRecord g_credentialRecord;
void readCredentialRecord(const char *, const char *, int32_t, const char *) {}
void loadCredentials(const char *) {}
int readCredentials(const char *) { return DbConnect("", "", ""); }
