#include "records/LibPq.h"

#include <dlfcn.h>

#include <string>

#include "records/RecordStore.h"

namespace bm::records {
namespace {

constexpr const char* kLibrary = "libpq.so.5";

template <class Call>
void Resolve(void* library, const char* name, Call& call) {
  call = reinterpret_cast<Call>(::dlsym(library, name));
  if (!call) throw RecordError(std::string("the PostgreSQL client library has no ") + name);
}

LibPqCalls Load() {
  void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!library)
    throw RecordError(std::string("cannot load the PostgreSQL client library ") + kLibrary +
                      " (Debian: install libpq5): " + ::dlerror());
  LibPqCalls calls{};
  Resolve(library, "PQconnectdbParams", calls.connectdbParams);
  Resolve(library, "PQstatus", calls.status);
  Resolve(library, "PQerrorMessage", calls.errorMessage);
  Resolve(library, "PQfinish", calls.finish);
  Resolve(library, "PQexec", calls.exec);
  Resolve(library, "PQexecParams", calls.execParams);
  Resolve(library, "PQclear", calls.clear);
  Resolve(library, "PQntuples", calls.ntuples);
  Resolve(library, "PQnfields", calls.nfields);
  Resolve(library, "PQgetisnull", calls.getisnull);
  Resolve(library, "PQgetvalue", calls.getvalue);
  Resolve(library, "PQresultStatus", calls.resultStatus);
  return calls;  // the library stays loaded for the program's life
}

}  // namespace

const LibPqCalls& LibPq() {
  static const LibPqCalls calls = Load();
  return calls;
}

}  // namespace bm::records
