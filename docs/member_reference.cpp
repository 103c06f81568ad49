// tavolen-member-docs: writes the reference page of the control's members
// (a Doxygen Markdown page) from the member table the library itself reports
// through tavolen_control_member(), with what each member does taken from a
// text file of descriptions. Names, DISPIDs, parameters and types therefore
// cannot drift from the control; a member without a description, or a
// description without a member, stops the build and names the entry.
//
//   tavolen-member-docs DESCRIPTIONS OUTPUT
//
// DESCRIPTIONS: a member name alone on a line at its start, then its
// description on lines indented by two spaces (Markdown; an empty line
// separates paragraphs). Lines starting with '#' are comments.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tavolen/control.h"

namespace {

struct Description {
  std::string text;
  int line = 0;
  bool used = false;
};

const char* typeName(int32_t type) {
  switch (type) {
    case TAVOLEN_VT_I4: return "I4";
    case TAVOLEN_VT_BSTR: return "BSTR";
    default: return "VOID";
  }
}

const char* kindName(int32_t kind) {
  switch (kind) {
    case TAVOLEN_MEMBER_METHOD: return "method";
    case TAVOLEN_MEMBER_PROPERTY: return "property";
    default: return "event";
  }
}

// "I4 PlayVideo(BSTR user, ...)", "I4 SoundState", "MessageNotify(I4 lType, ...)".
std::string signature(const TavolenMemberInfo& m) {
  std::string s;
  if (m.kind != TAVOLEN_MEMBER_EVENT) s += std::string(typeName(m.type)) + " ";
  s += m.name;
  if (m.kind == TAVOLEN_MEMBER_PROPERTY) return s;
  s += "(";
  for (int32_t i = 0; i < m.paramCount; ++i) {
    if (i) s += ", ";
    s += std::string(typeName(m.params[i].type)) + " " + m.params[i].name;
  }
  return s + ")";
}

bool readDescriptions(const char* path, std::map<std::string, Description>& out) {
  std::ifstream in(path);
  if (!in) {
    std::cerr << "tavolen-member-docs: cannot read " << path << "\n";
    return false;
  }
  std::string line;
  std::string current;
  int number = 0;
  bool ok = true;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line[0] == '#') continue;
    if (!line.empty() && line[0] != ' ') {
      current = line;
      if (out.count(current)) {
        std::cerr << path << ":" << number << ": " << current << " is described twice (first on line "
                  << out[current].line << "): keep one entry\n";
        ok = false;
      }
      out[current] = Description{"", number, false};
      continue;
    }
    if (current.empty()) {
      if (line.find_first_not_of(' ') == std::string::npos) continue;
      std::cerr << path << ":" << number << ": description before any member name\n";
      ok = false;
      continue;
    }
    out[current].text += (line.size() >= 2 ? line.substr(2) : std::string()) + "\n";
  }
  return ok;
}

void writeTable(std::ostream& out, const std::vector<TavolenMemberInfo>& members, int32_t kind) {
  out << "| DISPID | " << (kind == TAVOLEN_MEMBER_METHOD     ? "Method"
                           : kind == TAVOLEN_MEMBER_PROPERTY ? "Property"
                                                             : "Event")
      << " | Declaration |\n|---|---|---|\n";
  for (const auto& m : members) {
    if (m.kind != kind) continue;
    out << "| " << m.dispid << " | @ref member_" << m.name << " \"" << m.name << "\" | `" << signature(m)
        << "` |\n";
  }
  out << "\n";
}

void writeMember(std::ostream& out, const TavolenMemberInfo& m, const std::string& description) {
  out << "@subsection member_" << m.name << " " << m.name << "\n\n";
  out << "`" << signature(m) << "` &mdash; " << kindName(m.kind) << ", DISPID " << m.dispid;
  if (m.kind == TAVOLEN_MEMBER_PROPERTY) out << ", read and write";
  out << ".\n\n";
  if (m.helpString) out << "Help string: <tt>\"" << m.helpString << "\"</tt>.\n\n";
  out << description << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: tavolen-member-docs DESCRIPTIONS OUTPUT\n";
    return 2;
  }
  std::map<std::string, Description> descriptions;
  if (!readDescriptions(argv[1], descriptions)) return 1;

  std::vector<TavolenMemberInfo> members;
  const int32_t count = tavolen_control_member_count();
  for (int32_t i = 0; i < count; ++i) {
    TavolenMemberInfo info{};
    if (!tavolen_control_member(i, &info)) {
      std::cerr << "tavolen-member-docs: the library lists " << count << " members but not member " << i << "\n";
      return 1;
    }
    members.push_back(info);
  }

  bool complete = true;
  for (const auto& m : members) {
    auto it = descriptions.find(m.name);
    if (it == descriptions.end()) {
      std::cerr << argv[1] << ": no description of the " << kindName(m.kind) << " " << m.name
                << " (DISPID " << m.dispid << "): add an entry\n";
      complete = false;
    } else {
      it->second.used = true;
    }
  }
  for (const auto& [name, d] : descriptions) {
    if (!d.used) {
      std::cerr << argv[1] << ":" << d.line << ": " << name
                << " is not a member of the control: remove the entry or fix its name\n";
      complete = false;
    }
  }
  if (!complete) return 1;

  std::ostringstream out;
  out << "The control's members {#control_members}\n=====================\n\n"
      << "Every method, property and event of the control, generated from its member table "
         "(tavolen_control_member()). Names are found without regard to case. I4 is a signed "
         "32-bit integer; BSTR a text (UTF-16 through tavolen_control_invoke(), a string in a "
         "page); VOID no result. See @ref control_use for how C programs and web pages call "
         "them.\n\n";
  out << "@section members_methods Methods\n\n";
  writeTable(out, members, TAVOLEN_MEMBER_METHOD);
  out << "@section members_properties Properties\n\n";
  writeTable(out, members, TAVOLEN_MEMBER_PROPERTY);
  out << "@section members_events Events\n\n";
  writeTable(out, members, TAVOLEN_MEMBER_EVENT);
  out << "@section members_each Each member\n\n";
  for (const auto& m : members) writeMember(out, m, descriptions[m.name].text);

  std::ofstream file(argv[2], std::ios::trunc);
  file << out.str();
  if (!file.flush()) {
    std::cerr << "tavolen-member-docs: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
