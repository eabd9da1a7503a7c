#pragma once
// "info FILE...": what the readers tell about files without loading their pixels.

#include <ostream>
#include <string>
#include <vector>

#include "pgraphic/formats/file_format.h"

namespace CLI {
class App;
}

namespace kv {

class TInfoCommand {
public:
  explicit TInfoCommand(CLI::App& Parent);
  TInfoCommand(const TInfoCommand&) = delete;
  TInfoCommand& operator=(const TInfoCommand&) = delete;

  CLI::App* Subcommand() const { return FSub; }
  // One line per file on Out, "FILE: message" on Err for a file it cannot read; 1 when
  // any file failed.
  int Run(std::ostream& Out, std::ostream& Err) const;

private:
  CLI::App* FSub;
  std::vector<std::string> FFiles;
};

// "Bitmap, Windows, RGB, 640 x 480, 16.7M colours, 24 bit, 1 image": the fields in a
// fixed order, empty ones left out.
std::string FormatImageInfo(const pg::TPGImageInfo& Info);

}  // namespace kv
