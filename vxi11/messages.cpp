#include "vxi11/messages.h"

#include <algorithm>
#include <array>

namespace capmeter::vxi11 {

namespace {

constexpr std::array kCoreProcedures{
    Procedure::Null,
    Procedure::CreateLink,
    Procedure::DeviceWrite,
    Procedure::DeviceRead,
    Procedure::ReadStatusByte,
    Procedure::Trigger,
    Procedure::Clear,
    Procedure::Remote,
    Procedure::Local,
    Procedure::Lock,
    Procedure::Unlock,
    Procedure::EnableServiceRequest,
    Procedure::DoCommand,
    Procedure::DestroyLink,
    Procedure::CreateInterruptChannel,
    Procedure::DestroyInterruptChannel,
};

XdrWriter WithError(DeviceError error) {
  XdrWriter writer;
  writer.Int(static_cast<std::int32_t>(error));
  return writer;
}

}  // namespace

bool IsCoreProcedure(std::uint32_t number) {
  return std::find(kCoreProcedures.begin(), kCoreProcedures.end(),
                   static_cast<Procedure>(number)) != kCoreProcedures.end();
}

std::optional<CreateLinkArgs> ReadCreateLink(XdrReader& reader, std::size_t maxLength) {
  const auto clientId = reader.Int();
  const auto lockDevice = reader.Bool();
  const auto lockTimeout = reader.Uint();
  auto device = reader.Opaque(maxLength);
  if (!clientId || !lockDevice || !lockTimeout || !device) return std::nullopt;
  return CreateLinkArgs{*clientId, *lockDevice, *lockTimeout, std::move(*device)};
}

std::optional<WriteArgs> ReadWrite(XdrReader& reader, std::size_t maxLength) {
  const auto link = reader.Int();
  const auto ioTimeout = reader.Uint();
  const auto lockTimeout = reader.Uint();
  const auto flags = reader.Int();
  auto data = reader.Opaque(maxLength);
  if (!link || !ioTimeout || !lockTimeout || !flags || !data) return std::nullopt;
  return WriteArgs{*link, *ioTimeout, *lockTimeout, *flags, std::move(*data)};
}

std::optional<ReadArgs> ReadRead(XdrReader& reader) {
  const auto link = reader.Int();
  const auto requestSize = reader.Uint();
  const auto ioTimeout = reader.Uint();
  const auto lockTimeout = reader.Uint();
  const auto flags = reader.Int();
  const auto termChar = reader.Uint();
  if (!link || !requestSize || !ioTimeout || !lockTimeout || !flags || !termChar) {
    return std::nullopt;
  }
  return ReadArgs{*link,        *requestSize, *ioTimeout,
                  *lockTimeout, *flags,       static_cast<char>(*termChar & 0xFF)};
}

std::optional<GenericArgs> ReadGeneric(XdrReader& reader) {
  const auto link = reader.Int();
  const auto flags = reader.Int();
  const auto lockTimeout = reader.Uint();
  const auto ioTimeout = reader.Uint();
  if (!link || !flags || !lockTimeout || !ioTimeout) return std::nullopt;
  return GenericArgs{*link, *flags, *lockTimeout, *ioTimeout};
}

std::optional<LockArgs> ReadLock(XdrReader& reader) {
  const auto link = reader.Int();
  const auto flags = reader.Int();
  const auto lockTimeout = reader.Uint();
  if (!link || !flags || !lockTimeout) return std::nullopt;
  return LockArgs{*link, *flags, *lockTimeout};
}

std::optional<std::int32_t> ReadLink(XdrReader& reader) {
  return reader.Int();
}

std::string CreateLinkResult(DeviceError error, std::int32_t link, std::uint16_t abortPort,
                             std::uint32_t maxReceiveSize) {
  XdrWriter writer = WithError(error);
  writer.Int(link);
  writer.Uint(abortPort);
  writer.Uint(maxReceiveSize);
  return writer.Bytes();
}

std::string WriteResult(DeviceError error, std::uint32_t size) {
  XdrWriter writer = WithError(error);
  writer.Uint(size);
  return writer.Bytes();
}

std::string ReadResult(DeviceError error, std::int32_t reason, std::string_view data) {
  XdrWriter writer = WithError(error);
  writer.Int(reason);
  writer.Opaque(data);
  return writer.Bytes();
}

std::string StatusByteResult(DeviceError error, std::uint8_t statusByte) {
  XdrWriter writer = WithError(error);
  writer.Uint(statusByte);
  return writer.Bytes();
}

std::string ErrorResult(DeviceError error) {
  return WithError(error).Bytes();
}

std::string NotSupportedResult(Procedure procedure) {
  XdrWriter writer = WithError(DeviceError::NotSupported);
  if (procedure == Procedure::DoCommand) writer.Opaque({});  // data_out
  if (procedure == Procedure::DeviceRead) return ReadResult(DeviceError::NotSupported, 0, {});
  if (procedure == Procedure::DeviceWrite) return WriteResult(DeviceError::NotSupported, 0);
  return writer.Bytes();
}

}  // namespace capmeter::vxi11
