#pragma once
// The library settings as global options of the command line.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace kv {

// Adds one option per library setting to App. Parsed values reach the library globals
// only through Apply, so that a command line with a usage error changes nothing.
class TLibraryOptions {
public:
  explicit TLibraryOptions(CLI::App& App);
  TLibraryOptions(const TLibraryOptions&) = delete;
  TLibraryOptions& operator=(const TLibraryOptions&) = delete;

  // Stores every option given on the command line in its library global.
  void Apply() const;

private:
  void AddNumber(CLI::App& App, const std::string& Name, long double& Setting, const std::string& Help);
  void AddOnOff(CLI::App& App, const std::string& Name, bool& Setting, const std::string& Help);
  // An integer setting within Min .. Max.
  void AddRange(CLI::App& App, const std::string& Name, std::uint8_t& Setting, int Min, int Max, const std::string& Help);
  // A setting stored as the index of the chosen name in Names.
  void AddChoice(CLI::App& App, const std::string& Name, std::uint8_t& Setting, const std::vector<std::string>& Names,
                 const std::string& Help);
  // A setting stored as the code paired with the chosen name.
  void AddCodeChoice(CLI::App& App, const std::string& Name, int& Setting,
                     const std::vector<std::pair<std::string, int>>& Codes, const std::string& Help);
  // A positive rational N/D (or N, meaning N/1) stored as numerator and denominator.
  void AddRatio(CLI::App& App, const std::string& Name, int& Numerator, int& Denominator, const std::string& Help);

  std::vector<std::function<void()>> FApply;
};

}  // namespace kv
