// Which ATA PASS-THROUGH command block a USB bridge answers. Bridges differ:
// some take only the 16-byte form, some refuse an A1h block cut to ten bytes.
// The form is found once per drive, with IDENTIFY DEVICE (which changes
// nothing on the drive), and kept for every later command to it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "transport/SatCdb.h"
#include "transport/TransportState.h"

namespace brisquel {

// In the order they are tried: the form that has always been sent first.
inline constexpr SatForm kSatForms[] = {SatForm::a1Ten, SatForm::a1Twelve, SatForm::x85};

SatForm TargetSatForm(const DriveTarget& target);
void SetSatForm(DriveTarget& target, SatForm form);

// "12-10", "12", "16": the names of --sat, info and the trace.
const char* SatFormName(SatForm form);
std::optional<SatForm> SatFormNamed(std::string_view name);

// The bridge (or the system) refused the command block itself: ILLEGAL
// REQUEST with "invalid command operation code" or "invalid field in CDB",
// or a request the system would not carry. Only then is another form tried.
bool RefusesTheForm(const CommandResult& result);

// Sends IDENTIFY DEVICE into `sector` in each form until one is not refused,
// and keeps that form on the target (the first form, SatFormFound::refused,
// when all are refused). A form other than the first is logged: "USB bridge
// answers ATA PASS-THROUGH(16)". Returns how the last IDENTIFY ended.
CommandResult FindSatForm(TransportContext& t, std::span<std::uint8_t> sector);

// Asks the bridge, once per drive, what a firmware download needs to know:
// whether it hands registers back with CK_COND (CHECK POWER MODE sent with
// it; honoured when the registers come back) and, with `transferLength`,
// whether it takes T_LENGTH 3 (IDENTIFY sent with it). Nothing for other
// transports.
void JudgeSatBridge(TransportContext& t, bool transferLength);

// What was learnt of the bridges met so far, by device path, so that a drive
// selected again keeps its form without asking its bridge again. Remember
// keeps the current target's, once found, under SatTargetPath; Recall sets it
// on the target and logs its line again. False: this bridge is new.
void RememberSatForm(TransportState& state);
bool RecallSatForm(TransportContext& t, const std::string& devicePath);

}  // namespace brisquel
