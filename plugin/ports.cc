#include "plugin/ports.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

std::string Upper(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// "COM12" orders as ("COM", 12), so COM2 comes before COM10.
struct PortKey {
  std::string stem;
  unsigned long number;
  bool numbered;
};

PortKey KeyOf(const std::string& name) {
  const std::string upper = Upper(name);
  size_t digits = upper.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(upper[digits - 1]))) --digits;
  const bool numbered = digits < upper.size() && upper.size() - digits <= 9;
  return {upper.substr(0, digits), numbered ? std::strtoul(upper.c_str() + digits, nullptr, 10) : 0,
          numbered};
}

bool Before(const std::string& a, const std::string& b) {
  const PortKey ka = KeyOf(a), kb = KeyOf(b);
  if (ka.stem != kb.stem) return ka.stem < kb.stem;
  if (ka.numbered != kb.numbered) return !ka.numbered;
  if (ka.number != kb.number) return ka.number < kb.number;
  return Upper(a) < Upper(b);
}

}  // namespace

std::vector<std::string> PortChoices(const std::vector<std::string>& machinePorts,
                                     const std::string& stored) {
  std::vector<std::string> names = {"COM1", "COM2", "COM3", "COM4"};
  names.insert(names.end(), machinePorts.begin(), machinePorts.end());
  names.push_back(stored);
  std::vector<std::string> out;
  for (const std::string& name : names) {
    if (name.empty() || name.size() > kMaxPortNameLength) continue;
    const std::string upper = Upper(name);
    if (std::none_of(out.begin(), out.end(), [&](const std::string& o) { return Upper(o) == upper; }))
      out.push_back(name);
  }
  std::stable_sort(out.begin(), out.end(), Before);
  return out;
}

std::string PortPath(const std::string& name) {
  if (name.find('\\') != std::string::npos) return name;
  const std::string upper = Upper(name);
  const bool plainCom = upper.size() == 4 && upper.compare(0, 3, "COM") == 0 && upper[3] >= '1' && upper[3] <= '9';
  return plainCom ? name : "\\\\.\\" + name;
}
