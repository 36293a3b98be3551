#pragma once

#include <cstddef>
#include <iosfwd>
#include <span>

#include "bench/accuracy_row.h"

namespace capmeter::bench {

// The time-of-day models each row is also seen through, in this order.
enum TimeOfDayModel : std::size_t {
  kTickedMorning,    // 09:30 with the system tick
  kTickedEvening,    // 18:30 with the system tick
  kUntickedMorning,  // 09:30, single precision alone
  kUntickedEvening,  // 18:30, single precision alone
  kTimeOfDayModels,
};

// What the figures were taken on: cores, clock period and cost, load.
void PrintConditions(std::ostream& out, Clock& clock);

// Markdown tables: our error beside the time-of-day clock with its tick, then
// the share of single precision alone.
void PrintTables(std::ostream& out, std::span<const RowResult> rows);

}  // namespace capmeter::bench
