#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vxi11/xdr.h"

namespace capmeter::vxi11 {

// What a server answers a call that it accepted: the ONC RPC accept codes.
enum class Accept : std::uint32_t {
  Success = 0,
  ProgramUnavailable = 1,
  ProgramMismatch = 2,  // followed by the lowest and highest version served
  ProcedureUnavailable = 3,
  GarbageArguments = 4,
  SystemError = 5,
};

// The header of an ONC RPC call (version 2), up to its arguments; the
// credentials and verifier are read past, never trusted.
struct CallHeader {
  std::uint32_t xid = 0;
  std::uint32_t rpcVersion = 0;
  std::uint32_t program = 0;
  std::uint32_t version = 0;
  std::uint32_t procedure = 0;
};

// How far a record read as a call.
struct ReadCall {
  std::optional<std::uint32_t> xid;  // none: not even that, so nothing can be answered
  std::optional<CallHeader> header;  // none: no call, or a header cut short
};

// Reads a call's header from `reader`, leaving it at the arguments.
ReadCall ReadCallHeader(XdrReader& reader);

// The reply to an accepted call: `results` follow the accept code (the
// procedure's results on Success, the versions on ProgramMismatch).
std::string AcceptedReply(std::uint32_t xid, Accept accept, std::string_view results = {});
// The reply to a call of another RPC version than 2.
std::string VersionMismatchReply(std::uint32_t xid);

}  // namespace capmeter::vxi11
