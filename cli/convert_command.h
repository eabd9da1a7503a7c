#pragma once
// "convert IN OUT": loads IN and saves it as OUT, the writer chosen by OUT's extension.

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace kv {

class TConvertCommand {
public:
  explicit TConvertCommand(CLI::App& Parent);
  TConvertCommand(const TConvertCommand&) = delete;
  TConvertCommand& operator=(const TConvertCommand&) = delete;

  CLI::App* Subcommand() const { return FSub; }
  int Run(std::ostream& Out, std::ostream& Err) const;

private:
  CLI::App* FSub;
  std::string FIn, FOut;
};

}  // namespace kv
