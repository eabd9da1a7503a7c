#pragma once
// The library's message catalogue: 85 numbered texts in five languages, fetched by
// number in the current language with up to three placeholders filled in.

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>

namespace pg {

struct TPGLangStrEntry {
  std::uint8_t Id;                  // equals the entry's index; checked at start-up
  std::array<const char*, 6> Texts; // English, German, French, Dutch, Spanish, spare
};

inline constexpr int PGLangStrEntryCount = 85;
extern const std::array<TPGLangStrEntry, PGLangStrEntryCount> PGLangStrEntries;

// Language index of the texts: 0 English, 1 German, 2 French, 3 Dutch, 4 Spanish, 5 spare.
extern std::atomic<std::uint8_t> PGLanguage;

// Raises EPixelGraphic naming the first entry whose stored number differs from its index.
void CheckPGLangStrEntries(std::span<const TPGLangStrEntry> Entries);

std::string PGLangStr(int Id);
std::string PGLangStrS1(int Id, const std::string& S1);
std::string PGLangStrS2(int Id, const std::string& S1, const std::string& S2);
std::string PGLangStrS3(int Id, const std::string& S1, const std::string& S2, const std::string& S3);

}  // namespace pg
