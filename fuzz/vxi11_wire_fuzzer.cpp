// Feeds arbitrary bytes to VXI-11's wire format as a peer's TCP stream: the
// records cut from it, in pieces of a size the input chooses, must be those
// cut from it whole and never beyond the limit; each record is read as a
// call and as every procedure's arguments, which must stay within it; and
// the reply to its xid must give that xid back.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "vxi11/messages.h"
#include "vxi11/rpc.h"
#include "vxi11/xdr.h"

namespace {

using capmeter::fuzz::Require;
namespace vxi11 = capmeter::vxi11;

constexpr std::size_t kLimit = 1024;

std::vector<vxi11::RecordReader::Record> Cut(std::string_view stream, std::size_t step) {
  vxi11::RecordReader reader(kLimit);
  std::vector<vxi11::RecordReader::Record> records;
  for (std::size_t at = 0; at < stream.size(); at += step) {
    std::string_view piece = stream.substr(at, step);
    while (auto record = reader.Next(piece)) {
      Require(record->bytes.size() <= kLimit, "record within the limit", record->bytes);
      records.push_back(std::move(*record));
    }
  }
  return records;
}

void ReadAsCall(const std::string& record) {
  vxi11::XdrReader reader(record);
  const vxi11::ReadCall call = vxi11::ReadCallHeader(reader);
  if (call.xid) {
    const std::string reply = vxi11::AcceptedReply(*call.xid, vxi11::Accept::GarbageArguments);
    vxi11::XdrReader replyReader(reply);
    Require(replyReader.Uint() == call.xid, "the reply's xid", record);
  }
  const std::string_view arguments = std::string_view(record).substr(record.size() - reader.Left());
  const auto within = [&](auto read) {
    vxi11::XdrReader args(arguments);
    const std::size_t before = args.Left();
    read(args);
    Require(args.Left() <= before, "reads stay within the record", record);
  };
  within([](vxi11::XdrReader& r) {
    if (const auto args = vxi11::ReadCreateLink(r, 64)) {
      Require(args->device.size() <= 64, "device name bound", args->device);
    }
  });
  within([](vxi11::XdrReader& r) {
    if (const auto args = vxi11::ReadWrite(r, 256)) {
      Require(args->data.size() <= 256, "write data bound", args->data);
    }
  });
  within([](vxi11::XdrReader& r) { vxi11::ReadRead(r); });
  within([](vxi11::XdrReader& r) { vxi11::ReadGeneric(r); });
  within([](vxi11::XdrReader& r) { vxi11::ReadLock(r); });
  within([](vxi11::XdrReader& r) { vxi11::ReadLink(r); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t step = data[0] % 16 + 1;
  const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  const auto whole = Cut(stream, stream.size() + 1);
  const auto pieces = Cut(stream, step);
  Require(whole.size() == pieces.size(), "as many records in pieces as whole", stream);
  for (std::size_t i = 0; i < whole.size(); ++i) {
    Require(whole[i].bytes == pieces[i].bytes && whole[i].cut == pieces[i].cut,
            "the same records in pieces", whole[i].bytes);
    ReadAsCall(whole[i].bytes);
  }
  return 0;
}
