#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vxi11/xdr.h"

namespace capmeter::vxi11 {

// The VXI-11 programs: the core channel, where links are made and messages
// go, and the abort channel, which stops what a link has under way.
inline constexpr std::uint32_t kCoreProgram = 0x0607AF;
inline constexpr std::uint32_t kAbortProgram = 0x0607B0;
inline constexpr std::uint32_t kProgramVersion = 1;

enum class Procedure : std::uint32_t {
  Null = 0,  // every RPC program's ping
  CreateLink = 10,
  DeviceWrite = 11,
  DeviceRead = 12,
  ReadStatusByte = 13,
  Trigger = 14,
  Clear = 15,
  Remote = 16,
  Local = 17,
  Lock = 18,
  Unlock = 19,
  EnableServiceRequest = 20,
  DoCommand = 22,
  DestroyLink = 23,
  CreateInterruptChannel = 25,
  DestroyInterruptChannel = 26,
};
// The abort program's one procedure besides Null.
inline constexpr std::uint32_t kDeviceAbort = 1;

// Whether the core program defines `number`, so that a call to it has a
// reply of VXI-11's own, not RPC's "no such procedure".
bool IsCoreProcedure(std::uint32_t number);

enum class DeviceError : std::int32_t {
  None = 0,
  NotAccessible = 3,  // no such device on this server
  InvalidLink = 4,
  Parameter = 5,
  NotSupported = 8,
  OutOfResources = 9,
  Locked = 11,  // by another link
  NoLock = 12,  // this link holds none
  Timeout = 15,
  Abort = 23,
};

// Device_Flags.
inline constexpr std::int32_t kWaitLock = 1;
inline constexpr std::int32_t kEnd = 8;  // the last chunk of a message
inline constexpr std::int32_t kTermCharSet = 128;
// Why a device_read ended: its requested size reached, the term character,
// the end of an answer.
inline constexpr std::int32_t kReasonRequestCount = 1;
inline constexpr std::int32_t kReasonTermChar = 2;
inline constexpr std::int32_t kReasonEnd = 4;

struct CreateLinkArgs {
  std::int32_t clientId = 0;
  bool lockDevice = false;
  std::uint32_t lockTimeout = 0;  // ms
  std::string device;             // "inst0"
};

struct WriteArgs {
  std::int32_t link = 0;
  std::uint32_t ioTimeout = 0;
  std::uint32_t lockTimeout = 0;
  std::int32_t flags = 0;
  std::string data;
};

struct ReadArgs {
  std::int32_t link = 0;
  std::uint32_t requestSize = 0;
  std::uint32_t ioTimeout = 0;
  std::uint32_t lockTimeout = 0;
  std::int32_t flags = 0;
  char termChar = '\n';
};

// Device_GenericParms of readstb, trigger and clear.
struct GenericArgs {
  std::int32_t link = 0;
  std::int32_t flags = 0;
  std::uint32_t lockTimeout = 0;
  std::uint32_t ioTimeout = 0;
};

struct LockArgs {
  std::int32_t link = 0;
  std::int32_t flags = 0;
  std::uint32_t lockTimeout = 0;
};

// Each procedure's arguments, none when they do not read (GARBAGE_ARGS);
// strings and data longer than `maxLength` do not read either.
std::optional<CreateLinkArgs> ReadCreateLink(XdrReader& reader, std::size_t maxLength);
std::optional<WriteArgs> ReadWrite(XdrReader& reader, std::size_t maxLength);
std::optional<ReadArgs> ReadRead(XdrReader& reader);
std::optional<GenericArgs> ReadGeneric(XdrReader& reader);
std::optional<LockArgs> ReadLock(XdrReader& reader);
// unlock, destroy_link and device_abort take a link alone.
std::optional<std::int32_t> ReadLink(XdrReader& reader);

// Each procedure's results.
std::string CreateLinkResult(DeviceError error, std::int32_t link, std::uint16_t abortPort,
                             std::uint32_t maxReceiveSize);
std::string WriteResult(DeviceError error, std::uint32_t size);
std::string ReadResult(DeviceError error, std::int32_t reason, std::string_view data);
std::string StatusByteResult(DeviceError error, std::uint8_t statusByte);
// Device_Error alone: trigger, clear, lock, unlock, destroy_link, abort.
std::string ErrorResult(DeviceError error);
// Operation not supported, in the shape of the procedure's results.
std::string NotSupportedResult(Procedure procedure);

}  // namespace capmeter::vxi11
