// CTest's fixture for the tests on PostgreSQL: one throw-away cluster that
// the test programs share, each test in a database of its own.
//
//   harnolfees-test-pg start FILE   make and start a cluster, its folder into FILE
//   harnolfees-test-pg stop FILE    stop it and remove its folder
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "support/pg_cluster.hpp"

int main(int argc, char** argv) {
  using harnolfees::testing::PgCluster;
  if (argc != 3) {
    std::cerr << "usage: harnolfees-test-pg start|stop FILE\n";
    return 2;
  }
  const std::string verb = argv[1];
  const std::string file = argv[2];
  try {
    // A cluster left behind by an interrupted run goes first.
    std::string old;
    if (std::ifstream in(file);
        std::getline(in, old) && old.find("/harnolfees-pg-") != std::string::npos) {
      PgCluster::Attach(old)->Destroy();
    }
    std::remove(file.c_str());
    if (verb == "start") {
      auto cluster = PgCluster::Create();
      std::ofstream(file) << cluster->dir() << '\n';
      cluster->Keep();
      std::cout << "PostgreSQL cluster in " << cluster->dir() << '\n';
    } else if (verb != "stop") {
      std::cerr << "usage: harnolfees-test-pg start|stop FILE\n";
      return 2;
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "harnolfees-test-pg: " << e.what() << '\n';
    return 1;
  }
}
