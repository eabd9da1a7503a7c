#pragma once
// A small stream abstraction over files and memory, so that codecs, tests and fuzzers
// work alike on both.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "pgraphic/exceptions.h"

namespace pg {

// I/O failure of a stream (cannot open, cannot write, cannot seek).
class EPGStreamError : public EPixelGraphic {
public:
  explicit EPGStreamError(const std::string& Message) : EPixelGraphic(Message) {}
};

class TStream {
public:
  virtual ~TStream() = default;
  // Reads up to Count bytes; returns how many arrived (fewer at the end of the data).
  virtual std::size_t Read(void* Buffer, std::size_t Count) = 0;
  // Writes all Count bytes or raises EPGStreamError.
  virtual void Write(const void* Buffer, std::size_t Count) = 0;
  virtual std::int64_t GetPosition() const = 0;
  virtual void SetPosition(std::int64_t Position) = 0;
  virtual std::int64_t GetSize() const = 0;

  void Seek(std::int64_t Offset) { SetPosition(GetPosition() + Offset); }
  std::int64_t Remaining() const { return GetSize() - GetPosition(); }
  // Reads exactly Count bytes; returns false (with the rest of Buffer zeroed) when the
  // data ends first.
  bool ReadFull(void* Buffer, std::size_t Count);
};

class TMemoryStream : public TStream {
public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<std::uint8_t> Data) : FData(std::move(Data)) {}
  TMemoryStream(const void* Data, std::size_t Size);

  std::size_t Read(void* Buffer, std::size_t Count) override;
  void Write(const void* Buffer, std::size_t Count) override;
  std::int64_t GetPosition() const override { return static_cast<std::int64_t>(FPosition); }
  void SetPosition(std::int64_t Position) override;
  std::int64_t GetSize() const override { return static_cast<std::int64_t>(FData.size()); }

  const std::vector<std::uint8_t>& Data() const { return FData; }

private:
  std::vector<std::uint8_t> FData;
  std::size_t FPosition = 0;
};

class TFileStream : public TStream {
public:
  // Create replaces an existing file; CreateNew fails when the file exists.
  enum class TMode { Read, Create, CreateNew };
  TFileStream(const std::string& FileName, TMode Mode);

  std::size_t Read(void* Buffer, std::size_t Count) override;
  void Write(const void* Buffer, std::size_t Count) override;
  std::int64_t GetPosition() const override;
  void SetPosition(std::int64_t Position) override;
  std::int64_t GetSize() const override;
  // Flushes buffered data and closes the file, raising when the data did not reach it.
  void Close();

private:
  struct TCloser {
    void operator()(std::FILE* F) const { std::fclose(F); }
  };
  std::unique_ptr<std::FILE, TCloser> FFile;
  std::string FFileName;
};

}  // namespace pg
