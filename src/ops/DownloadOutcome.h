// What a firmware download did: how it ended, how much of the image the drive
// took, and what its vendor status said. The log's closing line is rendered
// from it, and whoever shows the result reads it, never the log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ops/OperationHost.h"
#include "ops/VendorChannel.h"
#include "transport/TransportState.h"

namespace brisquel {

// The vendor download's lines carry no mode; DOWNLOAD MICROCODE's carry theirs.
inline constexpr std::uint8_t kVendorDownloadMode = 0;

struct DownloadOutcome {
  enum class Result {
    completed,        // every command completed and the drive reported no error
    refusedByDrive,   // the drive aborted a command, or its status names an error
    refusedBySystem,  // the operating system refused a request
    noDrive,          // nothing answers on the PIO channel
    stoppedByBreak,   // Break
    stoppedEarly,     // the drive asked for more sectors than the file holds
    timedOut,         // a command's time limit expired: the drive may still be writing
    nothingToSend,    // the file is empty
    refused,          // not started: the file cannot be read or cannot go in this mode
    cancelled,        // no file was chosen
  };

  Result result = Result::cancelled;
  std::uint8_t mode = kVendorDownloadMode;
  std::string file;  // the file's name, as the log shows it
  std::string what;  // for a failure: what went wrong, in words
  // Blocks (sectors, for the vendor download) the drive took, of those to send.
  std::uint32_t sent = 0;
  std::uint32_t toSend = 0;
  std::optional<VendorStatus> vendor;  // the drive's status codes, when it gave them
  // The count register the drive returned after the last command, where the
  // transport reports it.
  std::optional<std::uint8_t> countRegister;
  // The first answer other than 01h (more expected) to a segment before the
  // last: the block offset of that segment and the count register.
  struct SegmentAnswer {
    std::uint32_t offset = 0;
    std::uint8_t count = 0;
  };
  std::optional<SegmentAnswer> earlyAnswer;

  bool Completed() const { return result == Result::completed; }
  // A download that was begun (or refused as empty) and did not complete.
  bool Failed() const;
};

// Whether the drive may be asked for its vendor status after this result: not
// when nothing answers, nor while it may still be busy with a command the
// system gave up on.
bool VendorStatusReadable(DownloadOutcome::Result result);

// The result's name in lower camel case ("refusedByDrive"), for machine-read output.
const char* ResultName(DownloadOutcome::Result result);

// What a download counts: "blocks" for DOWNLOAD MICROCODE, "sectors" for the
// vendor download, in every line, bar and document that counts them.
const char* CountedUnit(std::uint8_t mode);

// A file name as a log line shows it: control bytes (a line end above all)
// as \xHH, so that one name never makes two lines.
std::string ShownName(const std::string& name);

// "Download Microcode 07 - FILE - " or "Download Microcode (DPTM) - FILE - ".
std::string DownloadLinePrefix(std::uint8_t mode, const std::string& name);

// The last line of a download that was begun. A completed one keeps its
// familiar words ("End - OK", or the vendor status names); any other reads
// "FAILED: WHAT (N of M blocks sent; vendor status: NAMES)", and never
// contains a word of success.
std::string ClosingLine(const DownloadOutcome& outcome);

// A download in pieces as it begins: the outcome's mode, file and blocks to
// send, "Start" and no progress yet; false for an empty image, whose closing
// line is then said instead, and nothing is to be sent.
bool BeginDownload(OperationHost& host, DownloadOutcome& outcome, std::uint8_t mode,
                   const std::string& file, std::size_t imageBytes);

// After a download Break stopped: how far it got, what the drive is left
// with and what to do. A drive that did not get the whole image applies none
// of it, and takes a new download only from its first block.
std::string StoppedByBreakLine(const DownloadOutcome& outcome);

// What a command that did not complete means for a download, in words, with
// the system's own text for a refused request.
DownloadOutcome::Result ResultOf(const CommandResult& command);
std::string WhatEnded(const CommandResult& command, const std::string& commandName,
                      TransportContext& t);

}  // namespace brisquel
