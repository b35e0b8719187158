#include "harnolfees/host.hpp"

namespace harnolfees {

VersionInfo LibraryVersion() {
  return {HARNOLFEES_VERSION_MAJOR, HARNOLFEES_VERSION_MINOR, HARNOLFEES_VERSION_REVISION};
}

}  // namespace harnolfees
