#pragma once

// Recording fake programs for tests: each fake is a shell script in <dir>/bin that records
// its arguments (each followed by a NUL, each run ended by a line feed) in <dir>/<name>.argv
// and answers from scenario files: <name>.out (standard output), <name>.err (standard
// error), <name>.status (exit status), <name>.delay (seconds to sleep first). A file
// <name>.<run>.<kind> (runs counted from 1) takes precedence for that run only. Every
// start and end of a run is also noted in <dir>/events.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace qd::test {

class RecordingFakes {
 public:
  RecordingFakes() { std::filesystem::create_directories(bin()); }

  std::filesystem::path dir() const { return dir_.path(); }
  std::filesystem::path bin() const { return dir_.path() / "bin"; }

  // Puts a fake called `name` on the fakes' PATH entry.
  void add(const std::string& name) {
    const std::string d = dir().string() + "/" + name;
    const auto script = bin() / name;
    std::ofstream(script) << "#!/bin/sh\n"
                          << "PATH=/usr/bin:/bin\n"
                          << "echo \"begin " << name << "\" >> " << dir().string() << "/events\n"
                          << "trap 'echo \"end " << name << "\" >> " << dir().string() << "/events' EXIT\n"
                          << "n=$(( $(cat " << d << ".count 2>/dev/null || echo 0) + 1 ))\n"
                          << "echo $n > " << d << ".count\n"
                          << "for a in \"$@\"; do printf '%s\\0' \"$a\"; done >> " << d << ".argv\n"
                          << "printf '\\n' >> " << d << ".argv\n"
                          << "pick() { if [ -f " << d << ".$n.$1 ]; then echo " << d << ".$n.$1; "
                          << "elif [ -f " << d << ".$1 ]; then echo " << d << ".$1; fi; }\n"
                          << "f=$(pick delay); [ -n \"$f\" ] && sleep $(cat $f)\n"
                          << "f=$(pick out); [ -n \"$f\" ] && cat $f\n"
                          << "f=$(pick err); [ -n \"$f\" ] && cat $f >&2\n"
                          << "f=$(pick status); [ -n \"$f\" ] && exit $(cat $f)\n"
                          << "exit 0\n";
    ::chmod(script.c_str(), 0755);
  }

  // Writes a scenario file: kind is "out", "err", "status" or "delay"; run 0 means every run.
  void answer(const std::string& name, const std::string& kind, const std::string& content, int run = 0) {
    const std::string file = run == 0 ? name + "." + kind : name + "." + std::to_string(run) + "." + kind;
    std::ofstream(dir() / file, std::ios::binary) << content;
  }
  void clear(const std::string& name, const std::string& kind) { std::filesystem::remove(dir() / (name + "." + kind)); }

  // "begin <name>" and "end <name>" for every run of every fake, in the order they happened.
  std::vector<std::string> events() const {
    std::ifstream in(dir() / "events");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The argument lists of every run so far.
  std::vector<std::vector<std::string>> runs(const std::string& name) const {
    std::ifstream in(dir() / (name + ".argv"), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();
    std::vector<std::vector<std::string>> result;
    std::vector<std::string> current;
    std::string argument;
    for (const char c : text) {
      if (c == '\0') {
        current.push_back(argument);
        argument.clear();
      } else if (c == '\n' && argument.empty()) {
        result.push_back(current);
        current.clear();
      } else {
        argument.push_back(c);
      }
    }
    return result;
  }

  // The script lines of each osascript run (the arguments after each "-e").
  std::vector<std::vector<std::string>> scripts() const {
    std::vector<std::vector<std::string>> result;
    for (const auto& arguments : runs("osascript")) {
      std::vector<std::string> lines;
      for (std::size_t i = 0; i + 1 < arguments.size(); i += 2) lines.push_back(arguments[i + 1]);
      result.push_back(lines);
    }
    return result;
  }

 private:
  TempDir dir_;
};

}  // namespace qd::test
