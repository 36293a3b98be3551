#include "vxi11/rpc.h"

namespace capmeter::vxi11 {

namespace {

constexpr std::uint32_t kCall = 0;
constexpr std::uint32_t kReply = 1;
constexpr std::uint32_t kAccepted = 0;
constexpr std::uint32_t kDenied = 1;
constexpr std::uint32_t kRpcMismatch = 0;
constexpr std::uint32_t kRpcVersion = 2;
constexpr std::uint32_t kNoAuthentication = 0;
// The largest body RPC allows an authenticator.
constexpr std::size_t kMaxAuthBody = 400;

bool SkipAuthenticator(XdrReader& reader) {
  return reader.Uint() && reader.Opaque(kMaxAuthBody);
}

}  // namespace

ReadCall ReadCallHeader(XdrReader& reader) {
  ReadCall read;
  read.xid = reader.Uint();
  if (!read.xid || reader.Uint() != kCall) return read;
  CallHeader header{*read.xid};
  const auto rpcVersion = reader.Uint();
  const auto program = reader.Uint();
  const auto version = reader.Uint();
  const auto procedure = reader.Uint();
  if (!procedure || !SkipAuthenticator(reader) || !SkipAuthenticator(reader)) return read;
  header.rpcVersion = *rpcVersion;
  header.program = *program;
  header.version = *version;
  header.procedure = *procedure;
  read.header = header;
  return read;
}

std::string AcceptedReply(std::uint32_t xid, Accept accept, std::string_view results) {
  XdrWriter writer;
  writer.Uint(xid);
  writer.Uint(kReply);
  writer.Uint(kAccepted);
  writer.Uint(kNoAuthentication);
  writer.Opaque({});
  writer.Uint(static_cast<std::uint32_t>(accept));
  return writer.Bytes() + std::string(results);
}

std::string VersionMismatchReply(std::uint32_t xid) {
  XdrWriter writer;
  writer.Uint(xid);
  writer.Uint(kReply);
  writer.Uint(kDenied);
  writer.Uint(kRpcMismatch);
  writer.Uint(kRpcVersion);
  writer.Uint(kRpcVersion);
  return writer.Bytes();
}

}  // namespace capmeter::vxi11
