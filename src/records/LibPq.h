// The PostgreSQL client library, loaded the first time a record goes to a server. Linked at
// build time it would be loaded by every run of the command line, records or not, with the
// dozen libraries it needs itself (Kerberos, LDAP, TLS): that made each start of the program
// several times slower. Throws RecordError when the library cannot be loaded.
#pragma once

#include <libpq-fe.h>

namespace bm::records {

struct LibPqCalls {
  decltype(&::PQconnectdbParams) connectdbParams;
  decltype(&::PQstatus) status;
  decltype(&::PQerrorMessage) errorMessage;
  decltype(&::PQfinish) finish;
  decltype(&::PQexec) exec;
  decltype(&::PQexecParams) execParams;
  decltype(&::PQclear) clear;
  decltype(&::PQntuples) ntuples;
  decltype(&::PQnfields) nfields;
  decltype(&::PQgetisnull) getisnull;
  decltype(&::PQgetvalue) getvalue;
  decltype(&::PQresultStatus) resultStatus;
};

const LibPqCalls& LibPq();

}  // namespace bm::records
