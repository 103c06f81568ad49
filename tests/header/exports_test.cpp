// The shared library exports the C interface under plain C names and hides
// everything else; its dynamic symbol table is the export list of
// src/exports/libtavolen.map, which in turn is the TAVOLEN_API set of the
// public headers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string run(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  char buf[4096];
  while (pipe && fgets(buf, sizeof buf, pipe.get())) out += buf;
  return out;
}

std::string definedSymbols() { return run(std::string("nm -D --defined-only ") + TAVOLEN_SO); }

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

using Names = std::set<std::string>;

// The functions the public headers mark TAVOLEN_API (the macro's own
// definition is a preprocessor line and is skipped).
Names headerExports() {
  Names names;
  const std::regex declaration(R"(TAVOLEN_API\s+[\w\s\*]*?\b(\w+)\s*\()");
  for (const auto& entry : std::filesystem::directory_iterator(TAVOLEN_INCLUDE_DIR "/tavolen")) {
    std::string code;
    std::istringstream lines(readText(entry.path()));
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("#", 0) != 0) code += line + "\n";
    for (std::sregex_iterator it(code.begin(), code.end(), declaration), end; it != end; ++it)
      names.insert((*it)[1]);
  }
  return names;
}

// The global names of the version script, and the one version node's name.
Names mapExports(std::string& version) {
  Names names;
  std::string text = readText(TAVOLEN_EXPORT_MAP);
  text = std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/)"), "");
  std::smatch node;
  if (std::regex_search(text, node, std::regex(R"((\S+)\s*\{)"))) version = node[1];
  const size_t global = text.find("global:"), local = text.find("local:");
  if (global == std::string::npos || local == std::string::npos) return names;
  const std::string list = text.substr(global + 7, local - global - 7);
  const std::regex name(R"((\w+)\s*;)");
  for (std::sregex_iterator it(list.begin(), list.end(), name), end; it != end; ++it) names.insert((*it)[1]);
  return names;
}

// "<address> T name@@VERSION" lines of nm: the defined functions and data,
// each with the version it carries ("" for none).
std::map<std::string, std::string> librarySymbols() {
  std::map<std::string, std::string> symbols;
  std::istringstream lines(definedSymbols());
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (!(fields >> address >> type >> name) || type == "A") continue;  // "A": the version node itself
    const size_t at = name.find('@');
    symbols[name.substr(0, at)] = at == std::string::npos ? "" : name.substr(name.find_first_not_of('@', at));
  }
  return symbols;
}

// One line per name in `want` but not in `have`: "<verb> <name>".
std::string missing(const Names& want, const Names& have, const std::string& verb) {
  std::string out;
  for (const auto& n : want)
    if (!have.count(n)) out += "  " + verb + " " + n + "\n";
  return out;
}

TEST(SharedLibrary, ExportsOnlyTheCInterface) {
  const std::string symbols = definedSymbols();
  // No C++ symbol of ours leaks out of the library.
  EXPECT_EQ(symbols.find("_ZN7tavolen"), std::string::npos) << symbols;
}

TEST(SharedLibrary, ExportsTheCameraLinkFunctions) {
  const std::string symbols = definedSymbols();
  const char* names[] = {
      "device_net_work_init",          "device_net_work_deInit",
      "device_net_work_createInstance", "device_net_work_destroyInstance",
      "device_net_work_startStream",   "device_net_work_stopStream",
      "device_net_work_startAudio",    "device_net_work_stopAudio",
      "device_net_work_startTalk",     "device_net_work_stopTalk",
      "device_net_work_sendTalkData",  "device_net_work_set_event_callback",
      "device_net_work_ptz",           "device_net_work_param_callback",
      "device_net_work_set_network",   "device_net_work_get_network",
      "device_record_file_search_list", "device_record_file_start",
      "device_record_file_stop",       "device_record_file_set_pos",
  };
  for (const char* name : names) {
    // nm prints "<address> T <name>@@<version>" for each defined function.
    EXPECT_NE(symbols.find(std::string(" T ") + name + "@@"), std::string::npos) << name;
  }
}

TEST(SharedLibrary, ExportListMatchesTheHeadersAndTheLibrary) {
  std::string version;
  const Names listed = mapExports(version);
  const Names declared = headerExports();
  ASSERT_FALSE(declared.empty()) << "no TAVOLEN_API function found under " TAVOLEN_INCLUDE_DIR;
  ASSERT_FALSE(listed.empty()) << "no global name in " TAVOLEN_EXPORT_MAP;

  // A new TAVOLEN_API function stays hidden until it is listed on purpose.
  EXPECT_EQ(missing(declared, listed, "add to the export list:") + missing(listed, declared, "remove from the export list (no TAVOLEN_API declaration):"), "")
      << "src/exports/libtavolen.map and the headers differ";

  Names exported;
  for (const auto& [name, symbolVersion] : librarySymbols()) {
    exported.insert(name);
    EXPECT_EQ(symbolVersion, version) << name << " carries the wrong symbol version";
  }
  EXPECT_EQ(missing(listed, exported, "not exported, though listed:") + missing(exported, listed, "exported, though not listed:"), "")
      << TAVOLEN_SO " and src/exports/libtavolen.map differ";
}

TEST(SharedLibrary, SonameCarriesTheMajorVersion) {
  const std::string dynamic = run(std::string("objdump -p ") + TAVOLEN_SO);
  EXPECT_NE(dynamic.find("SONAME               libtavolen.so.1\n"), std::string::npos) << dynamic;
}

}  // namespace
