#include "pgraphic/stream.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <filesystem>

namespace pg {

bool TStream::ReadFull(void* Buffer, std::size_t Count) {
  const std::size_t Got = Read(Buffer, Count);
  if (Got < Count) std::memset(static_cast<std::uint8_t*>(Buffer) + Got, 0, Count - Got);
  return Got == Count;
}

TMemoryStream::TMemoryStream(const void* Data, std::size_t Size)
    : FData(static_cast<const std::uint8_t*>(Data), static_cast<const std::uint8_t*>(Data) + Size) {}

std::size_t TMemoryStream::Read(void* Buffer, std::size_t Count) {
  if (Count == 0 || FPosition >= FData.size()) return 0;  // Buffer may be null then
  const std::size_t n = std::min(Count, FData.size() - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

void TMemoryStream::Write(const void* Buffer, std::size_t Count) {
  if (Count == 0) return;
  if (FPosition + Count > FData.size()) FData.resize(FPosition + Count);
  std::memcpy(FData.data() + FPosition, Buffer, Count);
  FPosition += Count;
}

void TMemoryStream::SetPosition(std::int64_t Position) {
  if (Position < 0) throw EPGStreamError("Stream position " + std::to_string(Position) + " invalid");
  FPosition = static_cast<std::size_t>(Position);
}

namespace {

// 64-bit file offsets on both platforms.
std::int64_t Tell(std::FILE* F) {
#ifdef _WIN32
  return _ftelli64(F);
#else
  return ftello(F);
#endif
}

bool SeekTo(std::FILE* F, std::int64_t Offset, int Origin) {
#ifdef _WIN32
  return _fseeki64(F, Offset, Origin) == 0;
#else
  return fseeko(F, static_cast<off_t>(Offset), Origin) == 0;
#endif
}

std::string SystemError(const std::string& What, const std::string& FileName) {
  return What + " \"" + FileName + "\": " + std::strerror(errno);
}

}  // namespace

TFileStream::TFileStream(const std::string& FileName, TMode Mode)
    : FFile(std::fopen(FileName.c_str(), Mode == TMode::Read ? "rb" : Mode == TMode::Create ? "w+b" : "w+bx")),
      FFileName(FileName) {
  if (!FFile) throw EPGStreamError(SystemError(Mode == TMode::Read ? "Cannot open" : "Cannot create", FileName));
  // A folder opens like a file on some systems and only fails at the first read.
  std::error_code Ignored;
  if (std::filesystem::is_directory(FileName, Ignored)) {
    FFile.reset();
    errno = EISDIR;
    throw EPGStreamError(SystemError("Cannot open", FileName));
  }
}

std::size_t TFileStream::Read(void* Buffer, std::size_t Count) {
  if (!FFile || Count == 0) return 0;
  return std::fread(Buffer, 1, Count, FFile.get());
}

void TFileStream::Write(const void* Buffer, std::size_t Count) {
  if (Count == 0) return;
  if (!FFile || std::fwrite(Buffer, 1, Count, FFile.get()) != Count)
    throw EPGStreamError(SystemError("Cannot write", FFileName));
}

std::int64_t TFileStream::GetPosition() const { return FFile ? Tell(FFile.get()) : 0; }

void TFileStream::SetPosition(std::int64_t Position) {
  if (!FFile || Position < 0 || !SeekTo(FFile.get(), Position, SEEK_SET))
    throw EPGStreamError(SystemError("Cannot seek in", FFileName));
}

std::int64_t TFileStream::GetSize() const {
  if (!FFile) return 0;
  const std::int64_t Here = Tell(FFile.get());
  SeekTo(FFile.get(), 0, SEEK_END);
  const std::int64_t End = Tell(FFile.get());
  SeekTo(FFile.get(), Here, SEEK_SET);
  return End;
}

void TFileStream::Close() {
  if (!FFile) return;
  std::FILE* F = FFile.release();
  const bool Failed = std::fflush(F) != 0 || std::ferror(F) != 0;
  if (std::fclose(F) != 0 || Failed) throw EPGStreamError(SystemError("Cannot write", FFileName));
}

}  // namespace pg
