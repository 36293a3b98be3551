// Records, XDR fields and RPC calls as a hostile peer may send them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vxi11/messages.h"
#include "vxi11/rpc.h"
#include "vxi11/xdr.h"

namespace capmeter::vxi11 {
namespace {

constexpr std::size_t kLimit = 16;

std::string Fragment(std::string_view bytes, bool last, std::uint32_t length) {
  XdrWriter header;
  header.Uint(length | (last ? 0x80000000U : 0));
  return header.Bytes() + std::string(bytes);
}
std::string Fragment(std::string_view bytes, bool last) {
  return Fragment(bytes, last, static_cast<std::uint32_t>(bytes.size()));
}

struct Received {
  std::string bytes;
  bool cut;
  bool operator==(const Received&) const = default;
};

// Every record in `stream`, fed `step` bytes at a time.
std::vector<Received> Records(const std::string& stream, std::size_t step) {
  RecordReader reader(kLimit);
  std::vector<Received> records;
  for (std::size_t at = 0; at < stream.size(); at += step) {
    std::string_view data = std::string_view(stream).substr(at, step);
    while (auto record = reader.Next(data)) records.push_back({record->bytes, record->cut});
  }
  return records;
}

TEST(RecordMarking, JoinsFragmentsCutsLongRecordsAndKeepsInStep) {
  const std::string sixteen(kLimit, 'x');
  const struct {
    const char* what;
    std::string stream;
    std::vector<Received> records;
  } cases[] = {
      {"one fragment", Fragment("abcd", true), {{"abcd", false}}},
      {"fragments joined", Fragment("ab", false) + Fragment("cd", true), {{"abcd", false}}},
      {"an empty last fragment", Fragment("ab", false) + Fragment("", true), {{"ab", false}}},
      {"exactly the limit", Fragment(sixteen, true), {{sixteen, false}}},
      // Cut, and the record after it read from its own header, not from the
      // bytes of the long one.
      {"beyond the limit",
       Fragment(sixteen + "yz", true) + Fragment("next", true),
       {{sixteen, true}, {"next", false}}},
      {"beyond the limit over fragments",
       Fragment(sixteen, false) + Fragment("y", true) + Fragment("ok", true),
       {{sixteen, true}, {"ok", false}}},
      // A length of 2 GiB with a few bytes behind it: waits, holds no more.
      {"a length far beyond what came", Fragment("abc", true, 0x7FFFFFFF), {}},
  };
  for (const auto& c : cases) {
    for (const std::size_t step : {std::size_t{1}, std::size_t{3}, c.stream.size()}) {
      EXPECT_EQ(Records(c.stream, step), c.records) << c.what << ", " << step << " at a time";
    }
  }
}

TEST(Xdr, EveryFieldIsBoundedByTheRecordAndItsLimit) {
  const auto opaque = [](std::uint32_t length, std::string_view bytes) {
    XdrWriter writer;
    writer.Uint(length);
    return writer.Bytes() + std::string(bytes);
  };
  const struct {
    const char* what;
    std::string record;
    std::size_t maxLength;
    std::optional<std::string> read;
  } cases[] = {
      {"padded to four", opaque(5, std::string("hello\0\0\0", 8)), 64, "hello"},
      {"empty", opaque(0, ""), 64, ""},
      {"padding missing", opaque(5, "hello"), 64, std::nullopt},
      {"length beyond the record", opaque(100, "hi\0\0"), 1000, std::nullopt},
      {"length beyond the limit", opaque(8, "abcdefgh"), 4, std::nullopt},
      {"length wrapping with its padding", opaque(0xFFFFFFFF, "abcd"), ~std::size_t{0},
       std::nullopt},
      {"length cut short", "\0\0", 64, std::nullopt},
  };
  for (const auto& c : cases) {
    XdrReader reader(c.record);
    EXPECT_EQ(reader.Opaque(c.maxLength), c.read) << c.what;
  }
  for (std::size_t length = 0; length < 6; ++length) {
    const std::string bytes(length, 'b');
    XdrWriter writer;
    writer.Opaque(bytes);
    writer.Int(-7);
    XdrReader reader(writer.Bytes());
    EXPECT_EQ(reader.Opaque(length), bytes);
    EXPECT_EQ(reader.Int(), -7) << "the padding of " << length << " bytes";
  }
  XdrWriter two;
  two.Uint(2);
  XdrReader notABool(two.Bytes());
  EXPECT_EQ(notABool.Bool(), std::nullopt);
}

std::string Call(std::uint32_t type, std::uint32_t authLength) {
  XdrWriter writer;
  for (const std::uint32_t field : {0x1234U, type, 2U, kCoreProgram, kProgramVersion, 11U, 0U}) {
    writer.Uint(field);
  }
  writer.Opaque(std::string(authLength, 'a'));  // credentials
  writer.Uint(0);
  writer.Opaque({});  // verifier
  return writer.Bytes();
}

TEST(RpcCall, TheHeaderReadsOnlyWhenWholeWithBoundedCredentials) {
  const struct {
    const char* what;
    std::string record;
    bool xid;
    bool header;
  } cases[] = {
      {"a call", Call(0, 8), true, true},
      {"credentials as long as RPC allows", Call(0, 400), true, true},
      {"credentials longer", Call(0, 404), true, false},
      {"a reply, not a call", Call(1, 0), true, false},
      {"cut in the verifier", Call(0, 0).substr(0, 36), true, false},
      {"less than an xid", "\x12\x34", false, false},
  };
  for (const auto& c : cases) {
    XdrReader reader(c.record);
    const ReadCall read = ReadCallHeader(reader);
    EXPECT_EQ(read.xid.has_value(), c.xid) << c.what;
    EXPECT_EQ(read.header.has_value(), c.header) << c.what;
    if (read.header) {
      EXPECT_EQ(read.header->procedure, 11U) << c.what;
      EXPECT_EQ(reader.Left(), 0U) << c.what << ": left at the arguments";
    }
  }
}

TEST(Vxi11Messages, WriteDataBeyondTheReceiveSizeDoesNotRead) {
  for (const std::size_t size : {std::size_t{16}, std::size_t{17}}) {
    XdrWriter writer;
    for (int field = 0; field < 4; ++field) writer.Int(field);
    writer.Opaque(std::string(size, 'd'));
    XdrReader reader(writer.Bytes());
    EXPECT_EQ(ReadWrite(reader, 16).has_value(), size <= 16) << size << " bytes";
  }
}

}  // namespace
}  // namespace capmeter::vxi11
