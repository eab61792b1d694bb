// The built-in scripts: the opening logo, an interval picture, or the notice that the data
// folder holds no valid script, written in the script language and compiled in memory.
#pragma once

#include <string>

class CMainCtl;
class CTimeLine;

inline constexpr int kDemoScriptBytes = 1024;  // the built script text, terminating zero included

class CDemoCtl {
 public:
  CDemoCtl(CMainCtl* settings, CTimeLine* engine) : Settings(settings), Engine(engine) {}

  // Builds the script for `item` (a file name relative to the data folder, or "0" for the next
  // logo picture) and compiles it into the engine, whose timeline must be empty.
  void Start(const std::string& item);
  // The CP932 script text Start compiles; advances LogoTurn for the logo. A picture name that
  // CanNamePicture refuses gives the script of a missing picture.
  std::string BuildScript(const std::string& item);
  // True when the UTF-8 name `name` can stand as a quoted value in a script: the language has no
  // escapes, so a name holding '"', '<', '>' or a control character, or longer than an attribute
  // value holds, would end the value early and bring in attributes of its own.
  static bool CanNamePicture(const std::string& name);

  CMainCtl* Settings;
  CTimeLine* Engine;
  int LogoTurn = 0;
};
