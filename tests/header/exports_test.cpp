// The shared library exports the C interface under plain C names and hides
// everything else.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string definedSymbols() {
  std::string command = std::string("nm -D --defined-only ") + TAVOLEN_SO;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buf[4096];
  while (pipe && fgets(buf, sizeof buf, pipe.get())) out += buf;
  return out;
}

TEST(SharedLibrary, ExportsOnlyTheCInterface) {
  const std::string symbols = definedSymbols();
  // No C++ symbol of ours leaks out of the library.
  EXPECT_EQ(symbols.find("_ZN7tavolen"), std::string::npos) << symbols;
}

}  // namespace
