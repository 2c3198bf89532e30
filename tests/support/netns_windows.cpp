#include "support/netns.h"

namespace skav::test {

// Network namespaces are Linux's: the tests that need one skip on Windows (the Windows link's
// own test runs under Wine inside a namespace that scripts/test-windows.sh makes).
std::string enter_private_veth_namespace(const std::string&, const std::string&) {
  return "no network namespaces on Windows";
}

}  // namespace skav::test
