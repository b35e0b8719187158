// A throw-away PostgreSQL cluster in a temporary folder, reached through a
// Unix socket in that folder only. initdb and the server refuse to run as
// root: under root their commands run as the user "nobody", who then owns
// the folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace harnolfees::testing {

class PgCluster {
 public:
  // Makes and starts a new cluster; throws std::runtime_error, with what the
  // tools said, when PostgreSQL is missing or does not start.
  static std::unique_ptr<PgCluster> Create();
  // The cluster of the folder `dir`, made by another process (CTest's
  // fixture); it is left running at the end.
  static std::unique_ptr<PgCluster> Attach(const std::string& dir);
  // The cluster that the tests of this process share: CTest's when the file
  // HARNOLFEES_TEST_PG_FILE names one, otherwise one made for this process.
  static PgCluster& Shared();

  ~PgCluster();  // stops and removes a cluster this process made
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  const std::string& dir() const { return dir_; }
  // The URI of one of the cluster's databases.
  std::string Uri(const std::string& database) const;
  // A new empty database with a name no other test uses; its URI.
  std::string NewDatabase();
  // Runs SQL in the database; each row's columns joined by "|", NULL as
  // "NULL"; an error as one row "error: ...".
  std::vector<std::string> Query(const std::string& database, const std::string& sql) const;

  // Immediate-mode stop (the end a crash of the server would make), and start.
  void StopImmediately();
  void Start();

  // Leaves the cluster running when this object ends (for CTest's fixture).
  void Keep() { owned_ = false; }
  // Stops the cluster and removes its folder.
  void Destroy();

 private:
  PgCluster(std::string dir, bool owned) : dir_(std::move(dir)), owned_(owned) {}
  void Run(const std::string& tool, const std::vector<std::string>& args) const;

  std::string dir_;
  bool owned_;
};

}  // namespace harnolfees::testing
