// A PostgreSQL server of the test's own: a new cluster in a temporary folder (initdb), listening
// only on a unix socket in that folder (no TCP port, so it never meets the system's cluster or
// another test's), stopped and removed at the end. initdb refuses to run as root: as root the
// cluster belongs to the user `tester` (or `nobody`) and its programs run as that user.
#pragma once

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace bm::test {

class PostgresServer {
 public:
  static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

  static bool Installed() { return std::filesystem::exists(std::string(kBin) + "/initdb"); }

  PostgresServer() {
    char dir[] = "/tmp/bm-pg-XXXXXX";
    if (!::mkdtemp(dir)) throw std::runtime_error("mkdtemp failed");
    folder_ = dir;
    if (::geteuid() == 0) {
      const passwd* user = ::getpwnam("tester");
      if (!user) user = ::getpwnam("nobody");
      if (!user) throw std::runtime_error("no user to run PostgreSQL as");
      as_ = std::string("runuser -u ") + user->pw_name + " -- ";
      if (::chown(dir, user->pw_uid, user->pw_gid) != 0) throw std::runtime_error("chown failed");
    }
    ::chmod(dir, 0700);
    const std::string data = folder_ + "/data";
    Run(std::string(kBin) + "/initdb -D " + data + " -A trust -U postgres --no-sync -E UTF8 >" + folder_ +
        "/initdb.log 2>&1");
    // No TCP at all; the socket in our folder. fsync stays on: the record's durability is what
    // the server gives.
    Run(std::string(kBin) + "/pg_ctl -D " + data + " -l " + folder_ + "/server.log -w -t 60 -o \"-k " +
        folder_ + " -c listen_addresses='' -p 5432 -c max_connections=100\" start >/dev/null");
    started_ = true;
  }
  ~PostgresServer() {
    const std::string stop =
        as_ + kBin + "/pg_ctl -D " + folder_ + "/data -m immediate -w stop >/dev/null 2>&1";
    if (started_ && std::system(stop.c_str()) != 0)
      std::fprintf(stderr, "PostgreSQL in %s did not stop\n", folder_.c_str());
    std::filesystem::remove_all(folder_);
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // A URI for database `name` (made when it is not "postgres").
  std::string Uri(const std::string& name = "postgres") {
    if (name != "postgres")
      Run(std::string(kBin) + "/createdb -h " + folder_ + " -U postgres " + name + " >/dev/null 2>&1");
    return "postgresql:///" + name + "?host=" + folder_ + "&user=postgres";
  }
  const std::string& Folder() const { return folder_; }

 private:
  void Run(const std::string& command) {
    const std::string line = command.rfind("runuser", 0) == 0 ? command : as_ + command;
    if (std::system(line.c_str()) != 0) throw std::runtime_error("failed: " + line);
  }

  std::string folder_;
  std::string as_;  // "runuser -u tester -- " as root
  bool started_ = false;
};

}  // namespace bm::test
