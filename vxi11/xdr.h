#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace capmeter::vxi11 {

// Reads XDR (big-endian 4-byte units) from one whole record. Every read
// checks what is left of the record first and gives none when the field
// does not fit, so a length field can never make it read past the end or
// allocate more than the record holds.
class XdrReader {
 public:
  // `record` must outlive the reader, which keeps a view of it.
  explicit XdrReader(std::string_view record) : left_(record) {}
  explicit XdrReader(std::string&&) = delete;

  std::optional<std::uint32_t> Uint();
  std::optional<std::int32_t> Int();
  // 0 or 1; anything else is no bool.
  std::optional<bool> Bool();
  // A variable-length opaque or string: its length, its bytes and the
  // padding to a multiple of four; none beyond `maxLength` or the record.
  std::optional<std::string> Opaque(std::size_t maxLength);

  std::size_t Left() const { return left_.size(); }

 private:
  std::string_view left_;
};

// Writes XDR into a byte string.
class XdrWriter {
 public:
  void Uint(std::uint32_t value);
  void Int(std::int32_t value) { Uint(static_cast<std::uint32_t>(value)); }
  void Bool(bool value) { Uint(value ? 1 : 0); }
  void Opaque(std::string_view bytes);

  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// ONC RPC's record marking over TCP: each fragment starts with four bytes,
// the top bit set on a record's last fragment and the other 31 its length.
// The reader joins fragments into records and keeps at most `limit` bytes of
// one: a record beyond it is read to its end and handed on cut, so that the
// call's header can still be answered with an error while memory stays
// bounded whatever the lengths say.
class RecordReader {
 public:
  explicit RecordReader(std::size_t limit) : limit_(limit) {}

  struct Record {
    std::string bytes;  // at most the limit
    bool cut = false;   // the record was longer than the limit
  };

  // Takes bytes from the front of `data`, up to the end of the next whole
  // record, which it returns; none when `data` ran out first (what was taken
  // is kept for the next call).
  std::optional<Record> Next(std::string_view& data);

 private:
  std::size_t limit_;
  std::string header_;              // of the fragment under way, 0 to 3 bytes
  std::uint32_t fragmentLeft_ = 0;  // bytes still to come of that fragment
  bool inFragment_ = false;
  bool lastFragment_ = false;
  Record record_;
};

// A record as one last fragment, ready to send.
std::string Framed(std::string_view record);

}  // namespace capmeter::vxi11
