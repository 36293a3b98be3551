#include "startup/driver_setup.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <utility>

#include "device/vendor_library.h"
#include "measurement/result_text.h"
#include "measurement/series.h"
#if defined(CAPMETER_DIRECT_USB)
#include "device/direct_usb.h"
#endif

namespace capmeter {

struct ChosenDriver::Parts {
  std::unique_ptr<DriverLibrary> driver;
  SimulatedChip* chip = nullptr;
  VendorLibrary* vendor = nullptr;
  std::string name;
  std::function<DriverLoad()> load;
  CheckNotes notes;
  std::ofstream traceFile;
  std::optional<TraceDriver> trace;
  std::optional<SelectedChip> selected;  // over the trace, so the trace shows the open used
};

namespace {

using Parts = ChosenDriver::Parts;

void ChooseSimulatedChip(const DriverOptions& options, Clock& clock, Parts& parts) {
  auto chip = std::make_unique<SimulatedChip>(clock, options.parts);
  chip->SetCallLatency(options.latency);
  chip->SetClockJitter(options.clockJitter);
  chip->SetFamily(*options.family);
  if (options.busyHost) chip->SetHostDelay(static_cast<std::uint32_t>(NewSeed()));
  chip->SetChipCount(options.chips);
  parts.chip = chip.get();
  parts.driver = std::move(chip);
  parts.name = "simulated chip";
  const auto number = [](double v) { return GeneralText(static_cast<float>(v), "."); };
  const std::string jitter =
      options.clockJitter > 0.0 ? ", sample clock jitter " + number(options.clockJitter) : "";
  const std::string text =
      "none needed, simulated chip and timing circuit (R = " +
      number(options.parts.resistanceOhms) +
      " ohm, C = " + number(options.parts.capacitanceFarads) + " F" +
      (options.parts.strayFarads > 0.0 ? " with " + number(options.parts.strayFarads) + " F stray"
                                       : "") +
      ", round trip " + number(ToSeconds(options.latency)) + " s" + jitter + ", " +
      options.family->Describe() + ")";
  parts.load = [text] { return DriverLoad{true, text}; };
}

void ChooseVendorLibrary(Parts& parts) {
  auto library = std::make_unique<VendorLibrary>();
  VendorLibrary& vendor = *library;
  parts.vendor = library.get();
  parts.driver = std::move(library);
  parts.name = "driver library";
  parts.load = [&vendor] { return LoadVendorLibrary(vendor); };
}

#if defined(CAPMETER_DIRECT_USB)
// The direct driver can say which devices carry the ID, why an open failed
// and what the open did; the check shows it around its own steps.
std::vector<CheckStep> DevicesWithTheId(DirectUsb& usb) {
  const DirectUsb::Survey survey = usb.Look();
  const std::string id = usb.Id().Text();
  if (survey.status != kStatusOk) {
    return {{false, "List the USB devices: " + StatusText(usb, survey.status) + "."}};
  }
  if (survey.matching == 0) {
    std::string present;
    for (const UsbId& other : survey.present) {
      if (!present.empty()) present += ", ";
      present += other.Text();
    }
    return {{false, "0 devices with ID " + id +
                        "; present: " + (present.empty() ? "none" : present) +
                        ". Plug the chip in, or check its ID with lsusb."}};
  }
  return {{true, std::to_string(survey.matching) + (survey.matching == 1 ? " device" : " devices") +
                     " with ID " + id + "."}};
}

std::string WhyUsbOpenFailed(const DirectUsb& usb, FT_STATUS status) {
  if (status == usb_status::kAccessDenied) {
    return "Allow the device to your user with \"sudo capmeter-allow-device " + usb.Id().Text() +
           "\", then unplug the chip and plug it in again";
  }
  if (status == usb_status::kBusy) {
    return "Another program holds the chip: end it, or unplug the chip and plug it in again";
  }
  return {};
}

std::vector<CheckStep> WhatTheOpenDid(const DirectUsb& usb) {
  const DirectUsb::Opened& opened = usb.LastOpened();
  return {
      {true, "Device node " + opened.deviceNode + " (the chip with ID " + usb.Id().Text() + ")."},
      {true, opened.detachedDriver.empty()
                 ? "No kernel driver held the chip."
                 : "Detached the kernel driver " + opened.detachedDriver +
                       " from the chip; it comes back when the chip is closed."}};
}

void ChooseDirectUsb(UsbId id, Parts& parts) {
  auto driver = std::make_unique<DirectUsb>(id);
  DirectUsb& usb = *driver;
  parts.driver = std::move(driver);
  parts.name = "direct USB driver";
  parts.load = [&usb] {
    return DriverLoad{true, "libusb " + DirectUsb::LibraryVersion() +
                                ", the direct USB driver for " + usb.Id().Text() +
                                ": no vendor library needed"};
  };
  parts.notes = {[&usb] { return DevicesWithTheId(usb); },
                 [&usb](FT_STATUS status) { return WhyUsbOpenFailed(usb, status); },
                 [&usb] { return WhatTheOpenDid(usb); }};
}
#endif

}  // namespace

DriverLoad LoadVendorLibrary(VendorLibrary& vendor) {
  if (vendor.EnsureLoaded()) {
    return {true, "loaded " + vendor.LoadedFile()};
  }
  std::string tried;
  for (const std::string& name : vendor.LibraryNames()) {
    tried += (tried.empty() ? "" : ", ") + name;
  }
  return {false, "could not load " + vendor.LoadError() + "; tried " + tried};
}

ChosenDriver::ChosenDriver(std::unique_ptr<Parts> parts) : parts_(std::move(parts)) {}

ChosenDriver::~ChosenDriver() = default;

DriverLibrary& ChosenDriver::Library() {
  return *parts_->selected;
}

SelectedChip& ChosenDriver::Selection() {
  return *parts_->selected;
}

TraceDriver* ChosenDriver::Trace() {
  return parts_->trace ? &*parts_->trace : nullptr;
}

SimulatedChip* ChosenDriver::Chip() {
  return parts_->chip;
}

const std::string& ChosenDriver::Name() const {
  return parts_->name;
}

DriverLoad ChosenDriver::Load() {
  const DriverLoad load = parts_->load();
  if (parts_->trace) {
    parts_->trace->Note("driver library: " + load.text);
  }
  return load;
}

void ChosenDriver::SetLoadFailureReport(std::function<void(std::string_view message)> report) {
  if (parts_->vendor != nullptr) {
    parts_->vendor->SetLoadFailureReport(std::move(report));
  }
}

const CheckNotes& ChosenDriver::Notes() const {
  return parts_->notes;
}

std::unique_ptr<ChosenDriver> ChooseDriver(const DriverOptions& options, Clock& clock,
                                           std::string& problem) {
  auto parts = std::make_unique<Parts>();
  if (options.simulate) {
    ChooseSimulatedChip(options, clock, *parts);
#if defined(CAPMETER_DIRECT_USB)
  } else if (options.usb) {
    ChooseDirectUsb(*options.usb, *parts);
#endif
  } else {
    ChooseVendorLibrary(*parts);
  }

  if (!options.trace.empty()) {
    if (options.trace != "-") {
      parts->traceFile.open(options.trace);
      if (!parts->traceFile) {
        problem = "Cannot write the trace file '" + options.trace + "'.";
        return nullptr;
      }
    }
    std::ostream& to = options.trace == "-" ? std::cerr : parts->traceFile;
    parts->trace.emplace(*parts->driver, to, [&clock] { return clock.Now(); });
  }
  parts->selected.emplace(
      parts->trace ? static_cast<DriverLibrary&>(*parts->trace) : *parts->driver, options.chip);
  return std::make_unique<ChosenDriver>(std::move(parts));
}

}  // namespace capmeter
