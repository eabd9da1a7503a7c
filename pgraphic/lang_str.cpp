#include "pgraphic/lang_str.h"

#include "pgraphic/exceptions.h"

namespace pg {

std::atomic<std::uint8_t> PGLanguage{0};

void CheckPGLangStrEntries(std::span<const TPGLangStrEntry> Entries) {
  for (std::size_t i = 0; i < Entries.size(); ++i) {
    if (Entries[i].Id != i) {
      throw EPixelGraphic("PGLangStrEntries order wrong " + std::to_string(i) + " and " +
                          std::to_string(Entries[i].Id) + " are not identical");
    }
  }
}

namespace {

// The order check runs once, before the first text is handed out.
void EnsureCatalogueChecked() {
  static const bool Checked = (CheckPGLangStrEntries(PGLangStrEntries), true);
  (void)Checked;
}

void ReplaceFirst(std::string& Text, const char* Placeholder, const std::string& Value) {
  const auto Pos = Text.find(Placeholder);
  if (Pos != std::string::npos) Text.replace(Pos, 3, Value);
}

}  // namespace

std::string PGLangStr(int Id) {
  EnsureCatalogueChecked();
  const unsigned Language = PGLanguage.load(std::memory_order_relaxed);
  if (Id < 0 || Id >= PGLangStrEntryCount || Language >= 6) return {};
  const char* Text = PGLangStrEntries[static_cast<std::size_t>(Id)].Texts[Language];
  return Text ? std::string(Text) : std::string();
}

std::string PGLangStrS1(int Id, const std::string& S1) {
  std::string Text = PGLangStr(Id);
  ReplaceFirst(Text, "%S1", S1);
  return Text;
}

std::string PGLangStrS2(int Id, const std::string& S1, const std::string& S2) {
  std::string Text = PGLangStrS1(Id, S1);
  ReplaceFirst(Text, "%S2", S2);
  return Text;
}

std::string PGLangStrS3(int Id, const std::string& S1, const std::string& S2, const std::string& S3) {
  std::string Text = PGLangStrS2(Id, S1, S2);
  ReplaceFirst(Text, "%S3", S3);
  return Text;
}

}  // namespace pg
