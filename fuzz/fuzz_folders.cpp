// The searches below the data folder (the catalogue, the dialog's count, the interval playlist)
// over folder trees that the input describes: nested folders, script and picture files with odd
// names, and symbolic links to places inside and outside the data folder. Every search must end,
// stay inside the data folder, honour the depth limit, and agree with the others.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/IntervalList.h"
#include "fuzz/FuzzSupport.h"
#include "platform/FolderWalk.h"
#include "script/CDemoCtl.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSteps = 96;

// A name from the input: a few bytes, including the ones scripts cannot quote.
std::string TakeName(const std::uint8_t*& p, const std::uint8_t* end) {
  static const char kLetters[] = "aB_.\" <>'\\\xe3\x81\x82";
  std::string name;
  const std::size_t n = p < end ? 1 + *p++ % 6 : 1;
  for (std::size_t i = 0; i < n && p < end; ++i) name += kLetters[*p++ % (sizeof kLetters - 1)];
  if (name == "." || name == ".." || name.empty()) name = "n";
  return name;
}

// Builds the tree under `data` (with `outside` beside it) from the input bytes.
void BuildTree(const std::string& data, const std::string& outside, const std::uint8_t* p,
               const std::uint8_t* end) {
  std::vector<std::string> folders = {data, data + "/Interval", outside};
  std::string here = data;
  for (std::size_t step = 0; step < kMaxSteps && p < end; ++step) {
    const int op = *p++ % 7;
    const std::string name = TakeName(p, end);
    const std::string path = here + "/" + name;
    switch (op) {
      case 0:  // a folder, and go into it
        if (::mkdir(path.c_str(), 0700) == 0) folders.push_back(here = path);
        break;
      case 1:
        WriteWholeFile(here + "/script_" + name + ".txt",
                       reinterpret_cast<const std::uint8_t*>("<DATA TITLE=s VERSION=1></DATA>"),
                       31);
        break;
      case 2:
        WriteWholeFile(path + ".bmp", reinterpret_cast<const std::uint8_t*>("x"), 1);
        break;
      case 3: {  // a link to a folder made so far, to "/", upwards, or to itself
        const int to = p < end ? *p++ : 0;
        static const char* const kFixed[] = {"/", "..", "../..", ".", "/proc"};
        const std::string target = to % 2 ? folders[to / 2 % folders.size()] : kFixed[to / 2 % 5];
        (void)!::symlink(target.c_str(), path.c_str());
        break;
      }
      case 4:  // back up one level
        if (here != data) here = here.substr(0, here.find_last_of('/'));
        break;
      case 5:  // a long chain of folders, to reach the depth limit
        for (int i = 0; i < kMaxFolderDepth + 2 && ::mkdir((here + "/d").c_str(), 0700) == 0; ++i) {
          here += "/d";
        }
        break;
      default:
        here = folders[name.size() % folders.size()];
        if (here == outside) here = data;
        break;
    }
  }
}

bool Inside(const std::string& path, const std::string& realData) {
  std::error_code ec;
  const std::string real = fs::canonical(path, ec).string();
  return !ec && (real == realData || real.rfind(realData + "/", 0) == 0);
}

int Depth(const std::string& folder, const std::string& data) {
  int depth = 0;
  for (std::size_t i = data.size(); i < folder.size(); ++i) depth += folder[i] == '/';
  return depth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string top = FuzzFolder() + "/folders";
  const std::string data = top + "/data";
  const std::string outside = top + "/outside";
  std::error_code ec;
  fs::remove_all(top, ec);
  FUZZ_CHECK(fs::create_directories(data + "/Interval", ec) && fs::create_directories(outside, ec));
  WriteWholeFile(outside + "/script_out.txt",
                 reinterpret_cast<const std::uint8_t*>("<DATA TITLE=o VERSION=1></DATA>"), 31);
  BuildTree(data, outside, bytes, bytes + size);
  const std::string realData = fs::canonical(data).string();

  int scripts = 0;
  FolderWalk walk(data);
  FUZZ_CHECK(walk.Run([&](const FolderWalk::Entry& e) {
    FUZZ_CHECK(Inside(e.folder, realData));
    FUZZ_CHECK(Depth(e.folder, data) <= kMaxFolderDepth + 1);
    scripts += CMainCtl::IsScriptFileName(e.name);
    return true;
  }) == 0);

  CMainCtl settings;
  settings.SetStorePath(top + "/absent.reg");
  settings.SetSecondsClock([] { return std::int64_t{0}; });  // no budget: the count must end
  settings.StartScanClock();
  FUZZ_CHECK(settings.CountScripts(data) == scripts);

  CTimeLine tl(&settings, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  tl.ScanFolder(data + "/");
  FUZZ_CHECK(tl.CatalogueCount <= kMaxScripts && tl.CatalogueCount <= scripts);
  for (int i = 0; i < tl.CatalogueCount; ++i) FUZZ_CHECK(Inside(tl.Catalogue[i]->Path, realData));

  IntervalList list;
  list.Build(data);
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& entry = list.At(i);
    const bool movie = !entry.empty() && entry[0] == '/';
    FUZZ_CHECK(Inside(movie ? entry : data + "/" + entry, realData));
    FUZZ_CHECK(movie || CDemoCtl::CanNamePicture(entry));
  }
  fs::remove_all(top, ec);
  return 0;
}
