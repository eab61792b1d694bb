// Problems found while a script compiles, with their place in the file, for script authors.
#pragma once

#include <string>
#include <vector>

struct ScriptProblem {
  bool error = false;
  int line = 0;
  int column = 0;
  std::string message;  // UTF-8
};

class ScriptDiagnostics {
 public:
  void Report(bool error, int line, int column, const std::string& message) {
    problems.push_back({error, line, column, message});
    (error ? errors : warnings) += 1;
  }

  std::vector<ScriptProblem> problems;
  int errors = 0;
  int warnings = 0;
};
