#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/log.h"
#include "core/mac_digits.h"
#include "core/settings/address_pool.h"
#include "core/station/plan.h"
#include "core/station/verdict.h"
#include "core/status.h"
#include "core/transfer/command.h"

// The steps of a run that talk to the board: each logs what the station's log shows for it,
// carries out its Command Exchanges over the channel, and says how it ended.
namespace skav::station {

struct StepResult {
  // Anything but kOk: the transfer did not complete and the board's side of the protocol is in
  // an unknown state, so the run ends here.
  transfer::Outcome outcome = transfer::Outcome::kOk;
  Verdict verdict = Verdict::kSkipped;
  std::string reason;  // why it did not pass, in a few words ("read-back differs")
};

// Reads a whole image file into `buffer`. Fails (size 0, so that no byte that was not read
// from the file is ever sent) when the file cannot be opened, is not a regular file, is larger
// than `capacity`, or cannot be read whole.
Status load_image(const std::filesystem::path& file, std::uint8_t* buffer, std::uint32_t capacity,
                  std::uint32_t& size);

class RunObserver;

// Where the environment step gets the board's address from.
struct AddressSource {
  settings::AddressPool& pool;
  MacDigits::Digits digits{};  // the station's MAC Digits
  bool exact = false;          // the operator entered them: the board gets exactly these
  std::string port;            // the adapter the board is on
  // The address the board answered discovery with (exact: the operator's entry), and what this
  // station's records say of it. A board that was sent it before and did not pass is re-tested
  // with it; exact, an entry whose re-test the pool refuses is refused.
  std::optional<MacDigits::Digits> board = std::nullopt;
  settings::BoardHistory history{};
  // How long to wait between attempts while the pool cannot be reached.
  std::chrono::milliseconds retry{2000};
  RunObserver* observer = nullptr;  // told when the pool's answer is news
};

struct EnvironmentResult : StepResult {
  bool built = false;             // an image was built for `written`
  MacDigits::Digits written{};    // the address in the image's ethaddr
  bool sent = false;              // the image went out: the board may keep this address
  MacDigits::Digits next{};       // the MAC Digits for the next board (when sent)
  std::optional<settings::Reservation> reservation;  // the pool's, when the address was taken
  // The pool gave no address (used up, or refused the operator's): the board must not be
  // programmed without one, so the run ends here.
  bool no_address = false;
};

// Write Environment Image: builds the 64 KiB image for the board's address (taken from the
// pool, durable before any byte of it leaves, for every image sent; a re-test's own address
// claimed in the pool when the pool agrees that it is one),
// writes it, reads it back and compares. Logs "Find the UBOOT CONFIG file....." and the verdict
// lines. Refuses MAC Digits that are not 12 hexadecimal digits (a message, nothing sent).
// `dir` is the working directory the description file's name is taken from.
EnvironmentResult environment_step(Log* log, transfer::Channel& channel, const PlanStep& step,
                                   const std::filesystem::path& dir, AddressSource& address);

// The image buffer of a run's section steps, sized to its largest image. A buffer kept from
// one board to the next keeps its memory when it is large enough: the next board's images go
// into pages already there, instead of a fresh mapping that faults in page by page (16384
// faults for a 64 MiB image).
class ImageBuffer {
 public:
  // Room for `capacity` bytes; what the steps may load is then exactly `capacity`. False when
  // the memory cannot be had.
  bool obtain(std::uint32_t capacity);
  std::uint8_t* data() { return data_.get(); }
  std::uint32_t capacity() const { return capacity_; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::uint32_t allocated_ = 0;
  std::uint32_t capacity_ = 0;
};

// A kernel, uboot or filesystem section: loads its image, logs "Section begin: [%s]\r\n", sends
// it with its Command Header and, by its command, verifies the write by reading it back (write),
// starts it (exe: the log shows nothing, the verdict follows the Status Frame), or compares the
// board's copy without writing (read).
StepResult image_step(Log* log, transfer::Channel& channel, const PlanStep& step,
                      ImageBuffer& buffer);

struct DiagResult : StepResult {
  bool started = false;  // the exchange took place: the board now runs the image
};

// The diagnostic image: logs "Find the diag..................", sends it with Command Code 2
// (exe), whatever was loaded (0 bytes when the file could not be), and the Status Frame's
// verdict. A file that was not sent whole fails the step.
DiagResult diag_step(Log* log, transfer::Channel& channel, const PlanStep& step);

// The 18-byte Diagnostic End Marker: "QM7302-DIAG-END\r\n" and a zero byte.
inline constexpr char kDiagEndMarker[18] = "QM7302-DIAG-END\r\n";
inline constexpr std::uint32_t kTextBlockSize = 256;

// After the diagnostic image was started: finds the board again (within the channel's timeout)
// and logs its Text Blocks, each as the text up to its first zero byte, until the end marker.
transfer::Outcome relay_diagnostic_text(Log* log, transfer::Channel& channel);

}  // namespace skav::station
