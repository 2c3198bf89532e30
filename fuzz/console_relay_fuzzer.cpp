// The Console Relay, reached through a whole Production Run over the in-process link: a
// config.ini whose only section is diag, and board frames queued in advance that acknowledge the
// diagnostic image, report success and answer the probe that follows. Then come the input's
// frames as the diagnostic image's Text Blocks, and an end marker that closes any input. The log
// must hold exactly the text of the blocks taken before the marker.

#include <cstdint>
#include <cstring>
#include <string>

#include "core/log.h"
#include "core/settings/address_pool.h"
#include "core/station/production_run.h"
#include "core/station/records.h"
#include "core/station/steps.h"
#include "core/transfer/command.h"
#include "fuzz_support.h"

namespace {

using skav::fuzz::check;
using skav::fuzz::Frame;
using skav::fuzz::FrameCutter;
using skav::station::kDiagEndMarker;
using skav::station::kTextBlockSize;

constexpr std::size_t kMaxInputFrames = 400;  // with the run's own frames, below 512 slots

// The run takes no address: no environment is written.
class NoPool : public skav::settings::AddressPool {
 public:
  skav::settings::PoolResult<skav::MacDigits::Digits> read_next(skav::Log*) override {
    fail();
    return {skav::settings::PoolCode::kRefused, "no pool"};
  }
  skav::settings::PoolResult<> write_next(skav::Log*, const skav::MacDigits::Digits&) override {
    fail();
    return {skav::settings::PoolCode::kRefused, "no pool"};
  }
  skav::settings::PoolResult<skav::settings::Reservation> reserve(skav::Log*, const skav::MacDigits::Digits&,
                                                                  bool, const std::string&) override {
    fail();
    return {skav::settings::PoolCode::kRefused, "no pool"};
  }
  skav::settings::PoolResult<> finish(const skav::settings::Reservation&,
                                      const skav::settings::BoardOutcome&) override {
    fail();
    return {};
  }

 private:
  static int fail() {
    skav::fuzz::check(false, "the address pool is not used by a run without an environment");
    return 1;
  }
};

struct Setup {
  std::filesystem::path dir;
  std::filesystem::path records;
  Frame prologue[4];  // acknowledgements of header and image, status, discovery reply
  Frame marker;
};

const Setup& setup() {
  static const Setup s = [] {
    Setup r;
    r.dir = skav::fuzz::scratch_dir() / "relay";
    std::filesystem::create_directories(r.dir);
    r.records = r.dir / skav::station::kRecordsFile;
    skav::fuzz::write_file(r.dir / "config.ini",
                           "[diag]\r\nFilename=diag.bin\r\nMem_type=mem\r\nCommand=exe\r\n"
                           "Mem_Src_addr=0x0\r\nMem_Dst_addr=0x80000000\r\n");
    skav::fuzz::write_file(r.dir / "diag.bin", "diagnostic image");
    std::uint8_t payload[64] = {};
    FrameCutter::build(r.prologue[0], skav::link::kEtherTargetData, payload, 64);
    FrameCutter::build(r.prologue[1], skav::link::kEtherTargetData, payload, 64);
    const std::uint32_t code = skav::transfer::kSuccessCode;
    for (int i = 0; i < 4; ++i) payload[i] = static_cast<std::uint8_t>(code >> (8 * i));
    FrameCutter::build(r.prologue[2], skav::link::kEtherTargetData, payload, 64);
    std::memset(payload, 0, sizeof payload);
    FrameCutter::build(r.prologue[3], skav::link::kEtherReply, payload, 46);
    FrameCutter::build(r.marker, skav::link::kEtherTargetData,
                       reinterpret_cast<const std::uint8_t*>(kDiagEndMarker),
                       sizeof kDiagEndMarker);
    return r;
  }();
  return s;
}

struct RunResult {
  std::string log;
  skav::station::BoardRecord record;
};

RunResult run(const Frame* frames, std::size_t count) {
  const Setup& s = setup();
  auto& rig = skav::fuzz::WireRig::get();
  rig.reset();
  for (const Frame& frame : s.prologue) rig.inject(frame);
  for (std::size_t i = 0; i < count; ++i) rig.inject(frames[i]);
  rig.inject(s.marker);

  skav::StringLog log;
  NoPool pool;
  skav::station::RunContext context{&log, rig.link(), pool, s.dir};
  context.timeout = std::chrono::milliseconds(50);
  std::error_code ignored;
  std::filesystem::remove(s.records, ignored);
  RunResult result;
  result.record = skav::station::run_board(context).record;
  result.log = log.text();
  return result;
}

// The log text of the blocks before the marker: each block overwrites the start of the last one.
std::string expected_text(const Frame* frames, std::size_t count) {
  char block[kTextBlockSize] = {};
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t payload = skav::fuzz::accepted_payload(frames[i]);
    if (payload == 0) continue;
    std::memcpy(block, frames[i].bytes + skav::link::kEthernetHeader,
                payload < kTextBlockSize ? payload : kTextBlockSize);
    if (std::memcmp(block, kDiagEndMarker, sizeof kDiagEndMarker) == 0) break;
    text.append(block, ::strnlen(block, kTextBlockSize));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // What the run logs before the relay, from a diagnostic image that prints nothing.
  static const std::string prologue_log = run(nullptr, 0).log;
  check(prologue_log.rfind("Find the diag", 0) == 0, "the run starts the diagnostic image");

  static Frame frames[kMaxInputFrames];
  FrameCutter cutter(data, size);
  std::size_t count = 0;
  while (count < kMaxInputFrames && cutter.next(frames[count])) ++count;

  RunResult result = run(frames, count);
  check(result.record.step(skav::station::StepSlot::kDiag) == skav::station::Verdict::kPass,
        "the diagnostic image passed and its text was relayed to the end");
  check(result.log == prologue_log + expected_text(frames, count),
        "the log holds the text of every block before the end marker, nothing else");
  return 0;
}
