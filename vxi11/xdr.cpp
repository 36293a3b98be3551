#include "vxi11/xdr.h"

#include <algorithm>
#include <utility>

namespace capmeter::vxi11 {

namespace {

constexpr std::uint32_t kLastFragment = 0x80000000U;

std::uint32_t BigEndian(std::string_view four) {
  std::uint32_t value = 0;
  for (const char c : four.substr(0, 4)) value = value << 8 | static_cast<std::uint8_t>(c);
  return value;
}

void AppendBigEndian(std::string& bytes, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes += static_cast<char>(value >> shift & 0xFF);
  }
}

}  // namespace

std::optional<std::uint32_t> XdrReader::Uint() {
  if (left_.size() < 4) return std::nullopt;
  const std::uint32_t value = BigEndian(left_);
  left_.remove_prefix(4);
  return value;
}

std::optional<std::int32_t> XdrReader::Int() {
  const auto value = Uint();
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

std::optional<bool> XdrReader::Bool() {
  const auto value = Uint();
  if (!value || *value > 1) return std::nullopt;
  return *value == 1;
}

std::optional<std::string> XdrReader::Opaque(std::size_t maxLength) {
  const auto length = Uint();
  if (!length || *length > maxLength) return std::nullopt;
  // The padding rounds up to four; checked in 64 bits, before any copy.
  const std::uint64_t padded = (std::uint64_t{*length} + 3) / 4 * 4;
  if (padded > left_.size()) return std::nullopt;
  std::string bytes(left_.substr(0, *length));
  left_.remove_prefix(static_cast<std::size_t>(padded));
  return bytes;
}

void XdrWriter::Uint(std::uint32_t value) {
  AppendBigEndian(bytes_, value);
}

void XdrWriter::Opaque(std::string_view bytes) {
  Uint(static_cast<std::uint32_t>(bytes.size()));
  bytes_ += bytes;
  bytes_.append((4 - bytes.size() % 4) % 4, '\0');
}

std::optional<RecordReader::Record> RecordReader::Next(std::string_view& data) {
  while (!data.empty()) {
    if (!inFragment_) {
      const std::size_t take = std::min(4 - header_.size(), data.size());
      header_ += data.substr(0, take);
      data.remove_prefix(take);
      if (header_.size() < 4) return std::nullopt;
      const std::uint32_t header = BigEndian(header_);
      header_.clear();
      lastFragment_ = (header & kLastFragment) != 0;
      fragmentLeft_ = header & ~kLastFragment;
      inFragment_ = true;
    }
    const std::size_t take = std::min<std::size_t>(fragmentLeft_, data.size());
    const std::size_t room = limit_ - record_.bytes.size();
    record_.bytes += data.substr(0, std::min(take, room));
    if (take > room) record_.cut = true;
    data.remove_prefix(take);
    fragmentLeft_ -= static_cast<std::uint32_t>(take);
    if (fragmentLeft_ > 0) return std::nullopt;
    inFragment_ = false;
    if (lastFragment_) return std::exchange(record_, Record{});
  }
  return std::nullopt;
}

std::string Framed(std::string_view record) {
  std::string framed;
  AppendBigEndian(framed, kLastFragment | static_cast<std::uint32_t>(record.size()));
  framed += record;
  return framed;
}

}  // namespace capmeter::vxi11
